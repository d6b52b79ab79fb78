#include "platform/memory.h"

#include <windows.h>

namespace tarvel::platform {

size_t PrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  const char* address = nullptr;
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;  // the top of the address space
    address = next;
  }
  return total;
}

void AdviseHugePages(void*, size_t) {}

}  // namespace tarvel::platform
