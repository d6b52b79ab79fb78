// The form of the control model (components/Controls.h): TForm's caption,
// help file, modal result, active control, and its client area within the
// frame and size constraints. Called on the thread that owns the form.
#include "components/Controls.h"
#include "components/PropertyTable.h"

namespace tarvel {

const TClassInfo& TForm::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TForm",
                 &TWinControl::StaticClass(),
                 {WideProp<TForm>("Caption", &TForm::Caption, &TForm::SetCaption),
                  AnsiProp<TForm>("HelpFile", &TForm::HelpFile, &TForm::SetHelpFile),
                  IntProp<TForm>("ModalResult", &TForm::ModalResult, &TForm::SetModalResult),
                  ObjectProp<TForm, TSizeConstraints>(
                      "Constraints", TSizeConstraints::StaticClass(), &TForm::Constraints)}};
    TPropInfo active;
    active.name = "ActiveControl";
    active.kind = tkClass;
    active.held_class = &TWinControl::StaticClass();
    active.get_object = [](const TObject& o) -> TObject* { return As<TForm>(o).ActiveControl(); };
    active.set_object = [](TObject& o, TObject* p) {
      As<TForm>(o).SetActiveControl(static_cast<TWinControl*>(p));
    };
    c.properties.push_back(active);
    return c;
  }();
  return info;
}

TForm::TForm(TComponent* owner) : TWinControl(owner) {}

void TForm::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

void TForm::SetHelpFile(std::string_view file) {
  if (file == help_file_) return;
  help_file_.assign(file);
  Notify("HelpFile");
}

void TForm::SetModalResult(int32_t result) {
  if (result == modal_result_) return;
  modal_result_ = result;
  Notify("ModalResult");
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control == active_control_) return;
  active_control_ = control;
  Notify("ActiveControl");
}

void TForm::SetFrameSize(int32_t horizontal, int32_t vertical) {
  if (horizontal == frame_width_ && vertical == frame_height_) return;
  const int32_t old_cw = ClientWidth(), old_ch = ClientHeight();
  frame_width_ = horizontal;
  frame_height_ = vertical;
  if (ClientWidth() != old_cw || ClientHeight() != old_ch) LayOut(old_cw, old_ch);
}

void TForm::SetClientSize(int32_t width, int32_t height) {
  SetBounds(Left(), Top(), width + frame_width_, height + frame_height_);
}

void TForm::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  constraints_.Apply(width, height);
  TWinControl::SetBounds(left, top, width, height);
}

}  // namespace tarvel
