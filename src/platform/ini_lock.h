// IniFileLock: a named lock shared by every thread and process that works on
// the same INI file, recursive for the thread that holds it. Settings loads
// and saves hold it from before the file is read until after it is written
// back, so concurrent saves never lose each other's values.
//
// The name comes from the file name: ASCII upper-case letters lowered, every
// character other than 0-9 and a-z replaced by "_" (IniLockName).
//  - Win32: an auto-reset event "Optex_Event_<name>" and a 16-byte mapping
//    "Optex_MMF_<name>" holding spin count, lock count, owner thread id and
//    recursion count (in that order), shared by all processes.
//  - POSIX: an flock on the file "<name>.lock" in the directory
//    TARVEL_LOCK_DIR (default /tmp/tarvel-locks), plus a per-process record
//    of the owning thread and its recursion count.
// A name longer than 200 characters is shortened with a hash
// (BoundedLockName) on both builds, so long INI paths still get a lock.
//
// An IniFileLock object may be used from any thread; each Acquire needs one
// Release from the same thread.
//
// Example:
//   IniFileLock lock(path);        // raises ELockError when it cannot be made
//   { IniLockHold hold(lock); ...read, change, write back... }
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvel::platform {

class ELockError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string IniLockName(std::string_view ini_file);

// BoundedLockName keeps a lock name within the limits of kernel object and
// file names (200 characters): a longer name is cut and ends with a 64-bit
// FNV-1a hash of the whole name, so every process derives the same object.
std::string BoundedLockName(const std::string& name);

class IniFileLock {
 public:
  // Creates or opens the named lock; raises ELockError ("Failed to create
  // event" on Win32) when that fails.
  explicit IniFileLock(std::string_view ini_file);
  ~IniFileLock();
  IniFileLock(const IniFileLock&) = delete;
  IniFileLock& operator=(const IniFileLock&) = delete;

  // Acquire waits until the calling thread holds the lock (at once when it
  // already does). Release gives up one hold.
  void Acquire();
  void Release();

  const std::string& Name() const { return name_; }

 private:
  std::string name_;
#ifdef _WIN32
  void* event_ = nullptr;
  void* mapping_ = nullptr;
  void* view_ = nullptr;
#else
  std::string file_;
#endif
};

// IniLockHold holds an IniFileLock for its lifetime.
class IniLockHold {
 public:
  explicit IniLockHold(IniFileLock& lock) : lock_(lock) { lock_.Acquire(); }
  ~IniLockHold() { lock_.Release(); }
  IniLockHold(const IniLockHold&) = delete;
  IniLockHold& operator=(const IniLockHold&) = delete;

 private:
  IniFileLock& lock_;
};

}  // namespace tarvel::platform
