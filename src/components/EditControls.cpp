// Edit controls of the control model (components/Controls.h): TCustomEdit,
// TEdit, and TSpinEdit, whose text and number follow each other in the
// user's decimal separator. Called on the thread that owns the form.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "components/Controls.h"
#include "components/PropertyTable.h"
#include "platform/text.h"

namespace tarvel {

const TClassInfo& TCustomEdit::StaticClass() {
  static const TClassInfo info{
      "TCustomEdit",
      &TWinControl::StaticClass(),
      {WideProp<TCustomEdit>("Text", &TCustomEdit::Text, &TCustomEdit::SetText)}};
  return info;
}

bool TCustomEdit::StoreText(std::u16string_view text) {
  if (text == text_) return false;
  text_.assign(text);
  return true;
}

void TCustomEdit::SetText(std::u16string_view text) {
  if (!StoreText(text)) return;
  Notify("Text");
  if (OnChange) OnChange(*this);
}

const TClassInfo& TEdit::StaticClass() {
  static const TClassInfo info{"TEdit", &TCustomEdit::StaticClass(), {}};
  return info;
}

const TClassInfo& TSpinEdit::StaticClass() {
  static const TClassInfo info{
      "TSpinEdit",
      &TCustomEdit::StaticClass(),
      {DoubleProp<TSpinEdit>("Value", &TSpinEdit::Value, &TSpinEdit::SetValue),
       IntProp<TSpinEdit>("Decimals", &TSpinEdit::Decimals, &TSpinEdit::SetDecimals, 0, 15),
       DoubleProp<TSpinEdit>("Increment", &TSpinEdit::Increment, &TSpinEdit::SetIncrement)}};
  return info;
}

TSpinEdit::TSpinEdit(TComponent* owner) : TCustomEdit(owner) {
  StoreText(FormatValue(value_));
}

std::u16string TSpinEdit::FormatValue(double value) const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals_), value);
  std::string text(buffer);
  const char separator = platform::DecimalSeparator();
  if (separator != '.') std::replace(text.begin(), text.end(), '.', separator);
  return std::u16string(text.begin(), text.end());
}

void TSpinEdit::SetValue(double value) {
  if (!std::isfinite(value) || value == value_) return;
  value_ = value;
  StoreText(FormatValue(value_));
  Notify("Value");
  if (OnChange) OnChange(*this);
}

void TSpinEdit::SetDecimals(int32_t decimals) {
  decimals = std::clamp(decimals, 0, 15);
  if (decimals == decimals_) return;
  decimals_ = decimals;
  if (StoreText(FormatValue(value_))) Notify("Text");
}

void TSpinEdit::SetIncrement(double step) {
  if (step == increment_) return;
  increment_ = step;
  Notify("Increment");
}

void TSpinEdit::SetText(std::u16string_view text) {
  bool changed = StoreText(text);
  std::string narrow;
  for (char16_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  if (auto v = ParseNumber(narrow); v && std::isfinite(*v) && *v != value_) {
    value_ = *v;
    changed = true;
  }
  if (!changed) return;
  Notify("Text");
  if (OnChange) OnChange(*this);
}

}  // namespace tarvel
