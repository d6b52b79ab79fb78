// The module's half of the POSIX window emulation: every window a module
// makes gets a handler that runs in a fault scope of that module
// (platform/faults.h), as the module's window procedure does on Windows. The
// windows themselves live in the process-wide half (window.cpp), which has
// no scope of any one module.
#include "platform/faults.h"
#include "platform/posix/window_process.h"

namespace tarvel::platform {
namespace {

MessageHandler InScope(MessageHandler handler) {
  if (!handler) return handler;
  return [handler = std::move(handler)](WindowHandle window, uint32_t msg, uintptr_t wparam,
                                        intptr_t lparam) -> intptr_t {
    FaultScope scope;
    try {
      return handler(window, msg, wparam, lparam);
    } catch (...) {
      // As the dispatcher does with a handler that throws.
      return 0;
    }
  };
}

}  // namespace

WindowHandle CreateMessageWindow(MessageHandler handler) {
  return CreateProcessWindow(InScope(std::move(handler)));
}

WindowHandle CreateMainWindow(const char*, const ScreenRect& rect, MessageHandler handler) {
  const WindowHandle window = CreateMessageWindow(std::move(handler));
  MoveWindowTo(window, rect);
  return window;
}

}  // namespace tarvel::platform
