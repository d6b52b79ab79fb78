// Simple controls of the control model (components/Controls.h): TLabel,
// TBevel, the captioned windowed controls TGroupBox, TPanel, TButton and
// TCheckBox. Called on the thread that owns the form.
#include "components/Controls.h"
#include "components/PropertyTable.h"

namespace tarvel {

const TClassInfo& TLabel::StaticClass() {
  static const TClassInfo info{
      "TLabel",
      &TControl::StaticClass(),
      {WideProp<TLabel>("Caption", &TLabel::Caption, &TLabel::SetCaption),
       BoolProp<TLabel>("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap),
       BoolProp<TLabel>("VerticalCentre", &TLabel::VerticalCentre, &TLabel::SetVerticalCentre)}};
  return info;
}

void TLabel::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

void TLabel::SetWordWrap(bool wrap) {
  if (wrap == word_wrap_) return;
  word_wrap_ = wrap;
  Notify("WordWrap");
}

void TLabel::SetVerticalCentre(bool centre) {
  if (centre == vertical_centre_) return;
  vertical_centre_ = centre;
  Notify("VerticalCentre");
}

const TClassInfo& TBevel::StaticClass() {
  static const TClassInfo info{
      "TBevel",
      &TControl::StaticClass(),
      {EnumProp<TBevel>(
          "Shape", {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine"},
          &TBevel::Shape, &TBevel::SetShape)}};
  return info;
}

void TBevel::SetShape(TBevelShape shape) {
  if (shape == shape_) return;
  shape_ = shape;
  Notify("Shape");
}

const TClassInfo& TCaptionedWinControl::StaticClass() {
  static const TClassInfo info{
      "TCaptionedWinControl",
      &TWinControl::StaticClass(),
      {WideProp<TCaptionedWinControl>("Caption", &TCaptionedWinControl::Caption,
                                      &TCaptionedWinControl::SetCaption)}};
  return info;
}

void TCaptionedWinControl::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

const TClassInfo& TGroupBox::StaticClass() {
  static const TClassInfo info{"TGroupBox", &TCaptionedWinControl::StaticClass(), {}};
  return info;
}

const TClassInfo& TPanel::StaticClass() {
  static const TClassInfo info{
      "TPanel",
      &TCaptionedWinControl::StaticClass(),
      {BoolProp<TPanel>("Bordered", &TPanel::Bordered, &TPanel::SetBordered)}};
  return info;
}

void TPanel::SetBordered(bool bordered) {
  if (bordered == bordered_) return;
  bordered_ = bordered;
  Notify("Bordered");
}

const TClassInfo& TButton::StaticClass() {
  static const TClassInfo info{
      "TButton",
      &TCaptionedWinControl::StaticClass(),
      {IntProp<TButton>("ModalResult", &TButton::ModalResult, &TButton::SetModalResult),
       BoolProp<TButton>("Default", &TButton::Default, &TButton::SetDefault),
       BoolProp<TButton>("Cancel", &TButton::Cancel, &TButton::SetCancel)}};
  return info;
}

void TButton::SetModalResult(int32_t result) {
  if (result == modal_result_) return;
  modal_result_ = result;
  Notify("ModalResult");
}

void TButton::SetDefault(bool value) {
  if (value == default_) return;
  default_ = value;
  Notify("Default");
}

void TButton::SetCancel(bool value) {
  if (value == cancel_) return;
  cancel_ = value;
  Notify("Cancel");
}

void TButton::Click() {
  if (modal_result_ != kMrNone)
    if (TForm* form = Form()) form->SetModalResult(modal_result_);
  if (OnClick) OnClick(*this);
}

const TClassInfo& TCheckBox::StaticClass() {
  static const TClassInfo info{
      "TCheckBox",
      &TCaptionedWinControl::StaticClass(),
      {BoolProp<TCheckBox>("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked)}};
  return info;
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Notify("Checked");
  if (OnClick) OnClick(*this);
}

}  // namespace tarvel
