// Fonts and size constraints of the control model (components/Controls.h):
// TFont's properties and change notice, TSizeConstraints' limits. Called
// on the thread that owns the form.
#include <algorithm>
#include <cmath>

#include "components/Controls.h"
#include "components/PropertyTable.h"

namespace tarvel {

const TClassInfo& TFont::StaticClass() {
  static const TClassInfo info{
      "TFont",
      &TObject::StaticClass(),
      {AnsiProp<TFont>("Name", &TFont::Name, &TFont::SetName),
       IntProp<TFont>("Height", &TFont::Height, &TFont::SetHeight),
       IntProp<TFont>("Size", &TFont::Size, &TFont::SetSize),
       IntProp<TFont>("Charset", &TFont::Charset, &TFont::SetCharset, 0, 255)}};
  return info;
}

void TFont::SetName(std::string_view name) {
  if (name == name_) return;
  name_.assign(name);
  Changed();
}

void TFont::SetHeight(int32_t height) {
  if (height == height_) return;
  height_ = height;
  Changed();
}

int32_t TFont::Size() const {
  // Points at 96 dots per inch: pixels * 72 / 96, rounded.
  return static_cast<int32_t>(std::lround(-height_ * 72.0 / 96.0));
}

void TFont::SetSize(int32_t points) {
  SetHeight(-static_cast<int32_t>(std::lround(points * 96.0 / 72.0)));
}

void TFont::SetCharset(uint8_t charset) {
  if (charset == charset_) return;
  charset_ = charset;
  Changed();
}

void TFont::HandleNeeded() {
  realised_ = true;
}

void TFont::Assign(const TFont& other) {
  if (&other == this) return;
  const bool changed =
      name_ != other.name_ || height_ != other.height_ || charset_ != other.charset_;
  name_ = other.name_;
  height_ = other.height_;
  charset_ = other.charset_;
  if (changed) Changed();
}

void TFont::Changed() {
  if (OnChange) OnChange(*this);
}

const TClassInfo& TSizeConstraints::StaticClass() {
  static const TClassInfo info{"TSizeConstraints",
                               &TObject::StaticClass(),
                               {FieldProperty("MinWidth", &TSizeConstraints::MinWidth),
                                FieldProperty("MaxWidth", &TSizeConstraints::MaxWidth),
                                FieldProperty("MinHeight", &TSizeConstraints::MinHeight),
                                FieldProperty("MaxHeight", &TSizeConstraints::MaxHeight)}};
  return info;
}

void TSizeConstraints::Apply(int32_t& width, int32_t& height) const {
  if (MaxWidth > 0) width = std::min(width, MaxWidth);
  if (MinWidth > 0) width = std::max(width, MinWidth);
  if (MaxHeight > 0) height = std::min(height, MaxHeight);
  if (MinHeight > 0) height = std::max(height, MinHeight);
}

}  // namespace tarvel
