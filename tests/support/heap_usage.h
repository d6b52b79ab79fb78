// HeapInUseBytes: the bytes of heap memory the process has allocated and
// not yet freed, for tests that show memory stays flat (soak, module life).
// Natively the C library's (or the sanitizer's) allocator statistics; on
// Windows a walk of every heap of the process (slow: call it rarely).
#pragma once

#include <cstddef>

namespace tarvel::test {

size_t HeapInUseBytes();

}  // namespace tarvel::test
