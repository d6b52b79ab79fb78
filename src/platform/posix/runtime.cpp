#include "platform/runtime.h"

namespace tarvel::platform {

void ReleaseRuntimeResources() {}

}  // namespace tarvel::platform
