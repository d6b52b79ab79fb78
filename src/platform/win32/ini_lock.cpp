// The INI lock as an "optex": a user-mode spin on a lock count in shared
// memory, falling back to a named auto-reset event only under contention.
// Every process that opens the same name shares the four fields.
#include "platform/ini_lock.h"

#include <windows.h>

namespace tarvel::platform {

namespace {
struct SharedInfo {
  volatile LONG spin_count;
  volatile LONG lock_count;
  volatile LONG owner_thread;
  volatile LONG recursion;
};
static_assert(sizeof(SharedInfo) == 16, "the shared block is 16 bytes");

SharedInfo* Info(void* view) {
  return static_cast<SharedInfo*>(view);
}
}  // namespace

IniFileLock::IniFileLock(std::string_view ini_file) : name_(IniLockName(ini_file)) {
  std::string event_name = "Optex_Event_" + BoundedLockName(name_);
  std::string mapping_name = "Optex_MMF_" + BoundedLockName(name_);
  event_ = ::CreateEventA(nullptr, FALSE, FALSE, event_name.c_str());
  if (!event_) throw ELockError("Failed to create event");
  HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(SharedInfo), mapping_name.c_str());
  bool created = mapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
  if (!mapping) {
    ::CloseHandle(event_);
    event_ = nullptr;
    throw ELockError("Failed to create mapping");
  }
  mapping_ = mapping;
  view_ = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  if (!view_) {
    ::CloseHandle(mapping_);
    ::CloseHandle(event_);
    mapping_ = event_ = nullptr;
    throw ELockError("Failed to map view");
  }
  if (created) {
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    Info(view_)->spin_count = si.dwNumberOfProcessors > 1 ? 4000 : 0;
  }
}

IniFileLock::~IniFileLock() {
  if (view_) ::UnmapViewOfFile(view_);
  if (mapping_) ::CloseHandle(mapping_);
  if (event_) ::CloseHandle(event_);
}

void IniFileLock::Acquire() {
  SharedInfo* info = Info(view_);
  LONG me = static_cast<LONG>(::GetCurrentThreadId());
  LONG spins = info->spin_count;
  do {
    if (::InterlockedCompareExchange(&info->lock_count, 1, 0) == 0) {
      info->owner_thread = me;
      info->recursion = 1;
      return;
    }
    if (info->owner_thread == me) {
      ::InterlockedIncrement(&info->lock_count);
      info->recursion = info->recursion + 1;
      return;
    }
  } while (spins-- > 0);
  if (::InterlockedIncrement(&info->lock_count) == 1) {
    info->owner_thread = me;
    info->recursion = 1;
  } else if (info->owner_thread == me) {
    info->recursion = info->recursion + 1;
  } else {
    ::WaitForSingleObject(static_cast<HANDLE>(event_), INFINITE);
    info->owner_thread = me;
    info->recursion = 1;
  }
}

void IniFileLock::Release() {
  SharedInfo* info = Info(view_);
  info->recursion = info->recursion - 1;
  if (info->recursion > 0) {
    ::InterlockedDecrement(&info->lock_count);
  } else {
    info->owner_thread = 0;
    if (::InterlockedDecrement(&info->lock_count) > 0) ::SetEvent(static_cast<HANDLE>(event_));
  }
}

}  // namespace tarvel::platform
