// Process memory: how much private memory the process has committed, for
// the benchmarks' memory-per-client figures.
//
// Win32: the committed private regions of the address space, summed over a
// VirtualQuery walk (under Wine GetProcessMemoryInfo reports 0, the walk
// works). POSIX: the resident anonymous pages (resident minus file-backed
// shared pages, from /proc/self/statm). Both grow with what the process
// allocates and touches; neither is exact to the byte, so callers measure
// growth over many objects.
//
// Thread-safe; a reading taken while other threads allocate is a snapshot.
#pragma once

#include <cstddef>

namespace tarvel::platform {

// PrivateBytes returns the process's private memory now, in bytes; 0 when
// it cannot be read.
size_t PrivateBytes();

}  // namespace tarvel::platform
