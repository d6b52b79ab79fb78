#include "platform/prefetch.h"

#if defined(__i386__) && !defined(__SSE__)
#include <cpuid.h>
#endif

namespace tarvel::platform {

#if defined(__i386__) && !defined(__SSE__)
namespace prefetch_detail {
namespace {
bool Detect() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid answers false on a processor without the instruction.
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE) != 0;
}
}  // namespace
bool g_supported = Detect();
}  // namespace prefetch_detail

bool PrefetchSupported() {
  return prefetch_detail::g_supported;
}
#else
bool PrefetchSupported() {
  return true;
}
#endif

}  // namespace tarvel::platform
