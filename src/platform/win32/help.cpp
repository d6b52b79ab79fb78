// The HTML Help loader: the library found through its COM registration,
// loaded on first need, its "HtmlHelpA" entry called at run time.
#include "platform/help.h"

#include <windows.h>

#include "Common/ThreadSafety.h"

namespace tarvel::platform {
namespace {

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

constexpr char kRegistration[] = "CLSID\\{adb880a6-d8ff-11cf-9377-00aa003b7a11}\\InprocServer32";

// The loader's state, one per process. Calls into the library are made with
// the lock held, so an unload on another thread waits for them.
struct Loader {
  RecursiveMutex mu;
  bool load_attempted TARVEL_GUARDED_BY(mu) = false;
  HMODULE library TARVEL_GUARDED_BY(mu) = nullptr;
  FARPROC entry_a TARVEL_GUARDED_BY(mu) = nullptr;
  FARPROC entry_w TARVEL_GUARDED_BY(mu) = nullptr;
  HtmlHelpFn entry TARVEL_GUARDED_BY(mu) = nullptr;  // the ANSI entry, used for every call
  DWORD cookie TARVEL_GUARDED_BY(mu) = 0;
};

Loader& State() {
  static Loader* loader = new Loader;  // outlives static destruction
  return *loader;
}

// RegisteredPath reads the registration's default value; HKEY_CLASSES_ROOT
// is opened for reading only, which every user may.
std::string RegisteredPath() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kRegistration, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  char buf[MAX_PATH * 2] = {};
  DWORD size = sizeof buf - 1;
  DWORD type = 0;
  std::string path;
  if (::RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ))
    path = buf;
  ::RegCloseKey(key);
  return path;
}

std::string SystemDirectory() {
  char buf[MAX_PATH + 1] = {};
  UINT n = 0;
  if (IsWow64()) {
    using Fn = UINT(WINAPI*)(LPSTR, UINT);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA")));
    if (fn) n = fn(buf, sizeof buf);
  } else {
    n = ::GetSystemDirectoryA(buf, sizeof buf);
  }
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// UnloadLocked: the body of UnloadHtmlHelp, under the lock.
bool UnloadLocked(Loader& s) TARVEL_REQUIRES(s.mu) {
  s.load_attempted = true;  // nothing below may start a load
  bool freed = true;
  if (s.library) {
    if (s.entry) {
      s.entry(nullptr, nullptr, kHhCloseAll, 0);
      ::SwitchToThread();
      if (s.cookie != 0) {
        s.entry(nullptr, nullptr, kHhUninitialize, s.cookie);
        s.cookie = 0;
      }
    }
    freed = ::FreeLibrary(s.library) != FALSE;
    s.library = nullptr;
    s.entry_a = s.entry_w = nullptr;
    s.entry = nullptr;
  }
  // The next request loads it again.
  s.load_attempted = false;
  return freed;
}

}  // namespace

bool IsWow64() {
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow = FALSE;
  return fn && fn(::GetCurrentProcess(), &wow) && wow;
}

bool LocateHtmlHelp(std::string* path) {
  *path = RegisteredPath();
  if (path->empty()) return false;
  *path = ExpandSystemDirectory(*path, SystemDirectory());
  const DWORD attributes = ::GetFileAttributesA(path->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool LoadHtmlHelp() {
  Loader& s = State();
  RecursiveMutexLock lock(s.mu);
  if (s.library) return true;
  std::string path;
  if (!LocateHtmlHelp(&path)) return false;
  s.library = ::LoadLibraryA(path.c_str());
  if (!s.library) return false;
  s.entry_a = ::GetProcAddress(s.library, "HtmlHelpA");
  s.entry_w = ::GetProcAddress(s.library, "HtmlHelpW");
  s.entry = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(s.entry_a));
  if (!s.entry_a || !s.entry_w) {
    UnloadLocked(s);
    s.load_attempted = true;  // this attempt failed; the next unload allows another
    return false;
  }
  s.entry(nullptr, nullptr, kHhInitialize, reinterpret_cast<DWORD_PTR>(&s.cookie));
  return true;
}

bool IsHtmlHelpLoaded() {
  Loader& s = State();
  RecursiveMutexLock lock(s.mu);
  if (!s.load_attempted) {
    s.load_attempted = true;
    LoadHtmlHelp();
  }
  return s.library != nullptr;
}

bool UnloadHtmlHelp() {
  Loader& s = State();
  RecursiveMutexLock lock(s.mu);
  return UnloadLocked(s);
}

uintptr_t HtmlHelpCall(WindowHandle owner, const std::string& path, uint32_t command,
                       uintptr_t data) {
  Loader& s = State();
  uintptr_t answer = 0;
  {
    RecursiveMutexLock lock(s.mu);
    if (s.entry)
      answer = reinterpret_cast<uintptr_t>(
          s.entry(reinterpret_cast<HWND>(owner), path.c_str(), command, data));
  }
  RecordHelpRequest({owner, path, command, data, answer});
  return answer;
}

}  // namespace tarvel::platform
