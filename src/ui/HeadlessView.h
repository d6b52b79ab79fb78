// THeadlessView: a view without windows. Code (tests, and the module when
// settings are handed over as values) drives a form through it the way a
// user drives the real dialog: focus, Tab, typing, picking, clicking, the
// keys Enter, Esc and F1, resizing and closing. Every action goes through
// the model's own operations, so its handlers run as they do behind the
// Win32 view, and each is refused as a user would be refused: a disabled or
// hidden control takes no input, a drop-down list only its items.
//
// Example:
//   THeadlessView view([](THeadlessView& v) {
//     v.Type("var1", u"TEMP");
//     v.Pick("type1", 1);            // Second
//     v.Click("btnOK");
//   });
//   int32_t result = form.ShowModal(view, 0);   // kMrOk
//
// A script that ends with the form still open closes it as Esc does. A
// refused action throws std::invalid_argument saying why; ShowModal passes
// it on with the form left as it was at that moment.
//
// Threads: the thread that shows the form.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ui/FormView.h"

namespace tarvel {

class THeadlessView : public TFormView {
 public:
  using Script = std::function<void(THeadlessView& view)>;
  explicit THeadlessView(Script script = nullptr) : script_(std::move(script)) {}

  int32_t ShowModal(TForm& form, const TFormStyle& style, platform::WindowHandle owner) override;

  // ---- While the form is shown (from the script) ----
  TForm& Form() const;
  // Focused: the control that has the keyboard focus (null: none).
  TWinControl* Focused() const { return focused_; }
  // Control finds a control of the form by name; throws when there is none.
  TControl& Control(std::string_view name) const;

  // Focus moves the focus to a control, as clicking into it does.
  void Focus(std::string_view name);
  // Type focuses an edit, spin edit or editable combo box and replaces its
  // text, as selecting all and typing does.
  void Type(std::string_view name, std::u16string_view text);
  // Pick chooses item index of a combo box's list (-1 clears an editable
  // one), as choosing it from the opened list does.
  void Pick(std::string_view name, int index);
  // Click clicks a button or a check box (which takes the focus).
  void Click(std::string_view name);
  enum class Key { kEnter, kEscape, kF1, kTab, kShiftTab };
  void Press(Key key);
  // Resize drags the window's border: the form keeps its size constraints.
  void Resize(int32_t width, int32_t height);
  // Move drags the window by its caption.
  void Move(int32_t left, int32_t top);
  // CloseWindow is the window's close button: Cancel.
  void CloseWindow();

 private:
  TWinControl& Input(std::string_view name) const;
  void RequireOpen() const;

  Script script_;
  TForm* form_ = nullptr;
  TWinControl* focused_ = nullptr;
};

}  // namespace tarvel
