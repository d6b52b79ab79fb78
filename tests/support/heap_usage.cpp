#include "support/heap_usage.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVEL_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARVEL_SANITIZER_HEAP 1
#endif
#endif

#ifdef TARVEL_SANITIZER_HEAP
// The sanitizers' allocators keep their own count.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tarvel::test {

size_t HeapInUseBytes() {
#if defined(TARVEL_SANITIZER_HEAP)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n);
    n = GetProcessHeaps(n, heaps.data());
  }
  size_t total = 0;
  for (DWORD i = 0; i < n && i < heaps.size(); ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

}  // namespace tarvel::test
