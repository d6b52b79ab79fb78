// The process-wide half of the POSIX window emulation (window.cpp, in the
// library every module of the process shares) as the module-side half
// (window_scope.cpp) reaches it: a window is made there with a handler the
// module has already wrapped.
#pragma once

#include "platform/window.h"

namespace tarvel::platform {

// CreateProcessWindow makes a window of the calling thread whose handler is
// called as it stands.
WindowHandle CreateProcessWindow(MessageHandler handler);

}  // namespace tarvel::platform
