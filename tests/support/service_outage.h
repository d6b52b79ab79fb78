// Outages of real platform services, for the tests of failing services.
// Each one makes the real service fail for the whole process while the
// object lives, the way it fails in the field, and ends the outage when it
// goes; nothing of the module is replaced.
//
//  - RegistryOutage: every registry call under HKEY_LOCAL_MACHINE and
//    HKEY_CURRENT_USER fails. Win32: both roots are mapped to a key that
//    has been deleted (RegOverridePredefKey). POSIX: the file-backed store
//    is moved below a regular file (TARVEL_REGISTRY_DIR), where no key can
//    be opened or made.
//  - IniLockOutage: the named lock of one INI file cannot be created.
//    Win32: an object of another kind holds the event's name, so
//    CreateEventA fails. POSIX: a directory holds the lock file's name.
//
// Use from one thread; the outages are process-wide.
#pragma once

#include <string>

namespace tarvel::test {

// ScopedEnv sets an environment variable and restores the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_old_ = false;
};

class RegistryOutage {
 public:
  // scratch: a directory the outage may use for its own files.
  explicit RegistryOutage(const std::string& scratch);
  ~RegistryOutage();
  RegistryOutage(const RegistryOutage&) = delete;
  RegistryOutage& operator=(const RegistryOutage&) = delete;

 private:
#ifdef _WIN32
  void* doomed_ = nullptr;  // HKEY of the deleted key
#else
  std::string old_dir_;
  bool had_dir_ = false;
#endif
};

class IniLockOutage {
 public:
  explicit IniLockOutage(const std::string& ini_file);
  ~IniLockOutage();
  IniLockOutage(const IniLockOutage&) = delete;
  IniLockOutage& operator=(const IniLockOutage&) = delete;

 private:
#ifdef _WIN32
  void* blocker_ = nullptr;  // a mutex holding the event's name
#else
  std::string blocker_;  // the directory in the lock file's place
#endif
};

}  // namespace tarvel::test
