// Process memory: how much private memory the process has committed, for
// the benchmarks' memory-per-client figures; and huge pages for big blocks
// that are met at random.
//
// Win32: the committed private regions of the address space, summed over a
// VirtualQuery walk (under Wine GetProcessMemoryInfo reports 0, the walk
// works). POSIX: the resident anonymous pages (resident minus file-backed
// shared pages, from /proc/self/statm). Both grow with what the process
// allocates and touches; neither is exact to the byte, so callers measure
// growth over many objects.
//
// Huge pages: on Linux a block aligned to a 2 MiB page may be backed by
// huge pages when asked (madvise), which saves address translations when
// the block is read at random. Elsewhere there are none to ask for (Windows
// gives large pages only to a privileged process), and kHugePageBytes is 0
// so that callers choose their layout at compile time.
//
// Thread-safe; a reading taken while other threads allocate is a snapshot.
#pragma once

#include <cstddef>

namespace tarvel::platform {

#ifdef __linux__
inline constexpr size_t kHugePageBytes = size_t{2} << 20;
#else
inline constexpr size_t kHugePageBytes = 0;
#endif

// AdviseHugePages asks for huge pages for a block aligned to
// kHugePageBytes. Only advice: nothing happens where the system does not
// take it, or where kHugePageBytes is 0.
void AdviseHugePages(void* block, size_t bytes);

// PrivateBytes returns the process's private memory now, in bytes; 0 when
// it cannot be read.
size_t PrivateBytes();

}  // namespace tarvel::platform
