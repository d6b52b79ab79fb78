#include "support/process_census.h"

#include "platform/window.h"

#ifdef _WIN32
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>
#else
#include <filesystem>
#endif

namespace tarvel::test {

#ifdef _WIN32

size_t ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  size_t n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

namespace {
BOOL CALLBACK CountOwn(HWND hwnd, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId()) ++*reinterpret_cast<size_t*>(count);
  return TRUE;
}
}  // namespace

size_t LiveWindowCount() {
  size_t n = 0;
  EnumWindows(CountOwn, reinterpret_cast<LPARAM>(&n));
  for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
       w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
    CountOwn(w, reinterpret_cast<LPARAM>(&n));
  return n;
}

size_t NextTlsSlot() {
  const DWORD slot = TlsAlloc();
  TlsFree(slot);
  return slot;
}

#else

size_t NextTlsSlot() {
  return 0;
}

size_t ThreadCount() {
  size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

size_t LiveWindowCount() {
  // Handles are never reused: every window ever made has a number below a
  // new one.
  const platform::WindowHandle newest = platform::CreateMessageWindow(
      [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; });
  platform::DestroyMessageWindow(newest);
  size_t n = 0;
  for (platform::WindowHandle h = 1; h < newest; ++h) n += platform::IsWindowAlive(h) ? 1 : 0;
  return n;
}

#endif

}  // namespace tarvel::test
