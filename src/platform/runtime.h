// ReleaseRuntimeResources gives back what the language runtime linked into
// the module keeps for the process's whole life: on Windows, the C++
// runtime's emergency pool for exceptions and the thread-local slots the
// thread library takes (one per load of the module; a process has about
// a thousand). Without this a host that loads and unloads the module over
// and over would run out of slots and end. POSIX: nothing to do (the
// runtime there is shared, not linked in).
//
// Call it once, as the module is unloaded while the process goes on, after
// every other part of the module has shut down and no thread runs in it.
#pragma once

namespace tarvel::platform {

void ReleaseRuntimeResources();

}  // namespace tarvel::platform
