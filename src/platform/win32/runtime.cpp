// The runtime's leftovers on Windows. The thread library linked into the
// module takes a TLS slot with TlsAlloc when it first meets a thread and
// never frees it, so every load of the module costs the process one of its
// slots for good. The module's own import of TlsAlloc is answered here: the
// slots it hands out are noted and freed when the module goes.
#include "platform/runtime.h"

#include <windows.h>

namespace __gnu_cxx {
void __freeres() noexcept;  // the C++ runtime's own release hook
}

namespace tarvel::platform {
namespace {

constexpr LONG kMaxSlots = 16;
DWORD g_slots[kMaxSlots];
LONG g_taken = 0;

DWORD WINAPI NotedTlsAlloc() {
  // No function-local static here: its guard would call into the thread
  // library, which is what calls this.
  auto real = reinterpret_cast<DWORD(WINAPI*)()>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "TlsAlloc")));
  const DWORD slot = real ? real() : TLS_OUT_OF_INDEXES;
  if (slot != TLS_OUT_OF_INDEXES) {
    const LONG n = ::InterlockedIncrement(&g_taken) - 1;
    if (n < kMaxSlots) g_slots[n] = slot;
  }
  return slot;
}

}  // namespace
}  // namespace tarvel::platform

// The module's import entry of TlsAlloc (what calls through it read); the
// linker takes this definition instead of the import library's. Its name
// carries the stdcall decoration in 32-bit Windows only.
#ifdef _WIN64
extern "C" void* tarvel_TlsAlloc_import __asm__("__imp_TlsAlloc");
#else
extern "C" void* tarvel_TlsAlloc_import __asm__("__imp__TlsAlloc@0");
#endif
void* tarvel_TlsAlloc_import = reinterpret_cast<void*>(&tarvel::platform::NotedTlsAlloc);

namespace tarvel::platform {

void ReleaseRuntimeResources() {
  const LONG n = g_taken < kMaxSlots ? g_taken : kMaxSlots;
  for (LONG i = 0; i < n; ++i) ::TlsFree(g_slots[i]);
  g_taken = 0;
  __gnu_cxx::__freeres();
}

}  // namespace tarvel::platform
