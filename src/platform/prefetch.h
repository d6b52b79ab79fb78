// Prefetch: asks the processor to bring the cache line at an address into
// its caches ahead of use, so that lookups of many records at random places
// wait for memory side by side instead of one after the other. Only a hint:
// it never faults, whatever the address, and changes no result.
//
// The 32-bit build targets processors older than the prefetch instructions
// (which came with SSE), so there the compiler's builtin emits nothing. It
// asks the processor once, at load, and prefetches only where it can.
//
// Threads: any.
//
// Example:
//   for (const Row& r : batch) platform::Prefetch(index.Candidate(r.hash));
//   for (Row& r : batch) Apply(r);  // the records are on their way
#pragma once

namespace tarvel::platform {

#if defined(__i386__) && !defined(__SSE__)
namespace prefetch_detail {
// Set once while the module loads; until then nothing is prefetched.
extern bool g_supported;
}  // namespace prefetch_detail

inline void Prefetch(const void* address) {
  if (prefetch_detail::g_supported) asm volatile("prefetcht0 (%0)" : : "r"(address));
}
#else
inline void Prefetch(const void* address) {
  __builtin_prefetch(address, 1);
}
#endif

// PrefetchSupported says whether Prefetch does anything on this processor.
bool PrefetchSupported();

}  // namespace tarvel::platform
