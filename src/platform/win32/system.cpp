#include <objbase.h>
#include <windows.h>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace tarvel::platform {

uint32_t SystemTickCount() {
  return ::GetTickCount();
}

uint32_t CurrentThreadId() {
  return ::GetCurrentThreadId();
}

void SleepMs(uint32_t ms) {
  ::Sleep(ms);
}

void YieldThread() {
  ::SwitchToThread();
}

uint32_t ThreadLocaleId() {
  return ::GetThreadLocale();
}

bool SetThreadLocaleId(uint32_t lcid) {
  return ::SetThreadLocale(lcid) != FALSE;
}

std::string AnsiLowerCase(std::string_view s) {
  std::string out(s);
  if (!out.empty()) ::CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiUpperCase(std::string_view s) {
  std::string out(s);
  if (!out.empty()) ::CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::u16string AnsiToWide(std::string_view s) {
  if (s.empty()) return {};
  int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string WideToAnsi(std::u16string_view s) {
  if (s.empty()) return {};
  auto* w = reinterpret_cast<const wchar_t*>(s.data());
  int n =
      ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string NewGuidText() {
  GUID g;
  if (FAILED(::CoCreateGuid(&g))) return {};
  char buf[40];
  wsprintfA(buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
            static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
            g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace tarvel::platform
