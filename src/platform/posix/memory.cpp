#include "platform/memory.h"

#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include <fstream>

namespace tarvel::platform {

size_t PrivateBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t size = 0, resident = 0, shared = 0;
  if (!(statm >> size >> resident >> shared)) return 0;
  return (resident - shared) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

void AdviseHugePages(void* block, size_t bytes) {
#ifdef __linux__
  madvise(block, bytes, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace tarvel::platform
