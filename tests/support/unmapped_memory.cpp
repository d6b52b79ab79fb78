#include "support/unmapped_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace tarvel::test {

UnmappedMemory::UnmappedMemory(size_t bytes) : bytes_(bytes) {
#ifdef _WIN32
  // Reserved, never committed: an access violation wherever it is touched.
  base_ = reinterpret_cast<uintptr_t>(::VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS));
#else
  void* range =
      ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  base_ = range == MAP_FAILED ? 0 : reinterpret_cast<uintptr_t>(range);
#endif
}

UnmappedMemory::~UnmappedMemory() {
  if (!base_) return;
#ifdef _WIN32
  ::VirtualFree(reinterpret_cast<void*>(base_), 0, MEM_RELEASE);
#else
  ::munmap(reinterpret_cast<void*>(base_), bytes_);
#endif
}

}  // namespace tarvel::test
