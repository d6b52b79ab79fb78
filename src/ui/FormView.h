// TFormView: what shows a form model to a user. A view mirrors the model's
// controls (OnModelChange) and turns the user's actions into the model's
// own operations (SetText, SetItemIndex, Click, SetBounds), so every rule
// stays in the model. Two views exist: the Win32 dialog (win32 build,
// ui/win32/) and THeadlessView (ui/HeadlessView.h), through which code
// types, picks, clicks and closes.
//
// Keys a view gives a modal form, as the Windows dialog manager does:
// Enter presses the focused button, or the default button when no button
// has the focus; Esc presses the cancel button (or closes as Cancel); F1
// asks the application for help on the focused control's topic
// (HelpContextFor); closing the window is Cancel.
//
// Threads: a view and its form belong to the thread that shows them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "components/Controls.h"
#include "platform/window.h"

namespace tarvel {

// TFormStyle: how the window around a form looks.
struct TFormStyle {
  int32_t border_width = 0;  // inner margin around the client area
  bool help_button = false;  // the caption's help button (system menu and help only)
};

class TFormView {
 public:
  virtual ~TFormView() = default;
  // ShowModal shows the form, owned by the owner window (0: none), until
  // its ModalResult is set, and returns that result. While it is up the
  // form is the application's ActiveForm and its Handle is the window.
  virtual int32_t ShowModal(TForm& form, const TFormStyle& style, platform::WindowHandle owner) = 0;
};

// NativeFormView: the platform's real dialogs (Win32), or null where there
// are none.
std::unique_ptr<TFormView> NativeFormView();

// NativeWindowOf: the native window that shows a control while its form
// is shown by the native view; 0 otherwise (and always where there is no
// native view). For tests that drive the real dialog.
platform::WindowHandle NativeWindowOf(const TControl& control);

// HelpContextFor: the help topic of a control: its own HelpContext, else
// its nearest windowed parent's, up to the form's; 0 when none has one.
int32_t HelpContextFor(const TControl* control);

// ShowHelpFor asks the application for the topic of the focused control
// (the form's when nothing has the focus), as F1 does.
void ShowHelpFor(TForm& form, const TControl* focused);

// TabOrderControls: the controls Tab visits, in order: windowed controls
// that take input (not group boxes or panels), ordered by their parents'
// tab orders, then their own; with usable_only, just the visible and
// enabled ones (inside visible and enabled parents).
std::vector<TWinControl*> TabOrderControls(TForm& form, bool usable_only = true);

}  // namespace tarvel
