// What a process holds that a module could leave behind when it is
// unloaded: its threads and its windows (message-only ones included).
#pragma once

#include <cstddef>

namespace tarvel::test {

// ThreadCount: the threads of this process.
size_t ThreadCount();
// LiveWindowCount: the windows of this process that exist now (on POSIX,
// those of the window emulation).
size_t LiveWindowCount();
// NextTlsSlot: the thread-local slot TlsAlloc would hand out now (slots
// taken and never freed push it up); 0 on POSIX, which has no such slots.
size_t NextTlsSlot();

}  // namespace tarvel::test
