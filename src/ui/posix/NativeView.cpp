// No native dialogs here: the options dialog is driven through the
// headless view only.
#include "ui/FormView.h"

namespace tarvel {

std::unique_ptr<TFormView> NativeFormView() {
  return nullptr;
}

platform::WindowHandle NativeWindowOf(const TControl&) {
  return 0;
}

}  // namespace tarvel
