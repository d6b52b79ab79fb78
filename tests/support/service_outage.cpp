#include "support/service_outage.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/ini_lock.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarvel::test {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_old_ = true;
    old_ = old;
  }
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
  _putenv_s(name_.c_str(), had_old_ ? old_.c_str() : "");
#else
  if (had_old_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
#endif
}

#ifdef _WIN32

RegistryOutage::RegistryOutage(const std::string&) {
  const char* path = "Software\\TarvelTests\\RegistryOutage";
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot make the key to delete");
  RegDeleteKeyA(HKEY_CURRENT_USER, path);
  if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, key) != ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(key);
    throw std::runtime_error("RegOverridePredefKey failed");
  }
  doomed_ = key;
}

RegistryOutage::~RegistryOutage() {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegCloseKey(static_cast<HKEY>(doomed_));
}

IniLockOutage::IniLockOutage(const std::string& ini_file) {
  const std::string name =
      "Optex_Event_" + platform::BoundedLockName(platform::IniLockName(ini_file));
  blocker_ = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!blocker_) throw std::runtime_error("cannot take the event's name");
}

IniLockOutage::~IniLockOutage() {
  CloseHandle(static_cast<HANDLE>(blocker_));
}

#else

RegistryOutage::RegistryOutage(const std::string& scratch) {
  if (const char* old = std::getenv("TARVEL_REGISTRY_DIR")) {
    had_dir_ = true;
    old_dir_ = old;
  }
  const std::string file = scratch + "/registry-is-a-file";
  WriteWholeFile(file, "not a directory\n");
  setenv("TARVEL_REGISTRY_DIR", (file + "/store").c_str(), 1);
}

RegistryOutage::~RegistryOutage() {
  if (had_dir_)
    setenv("TARVEL_REGISTRY_DIR", old_dir_.c_str(), 1);
  else
    unsetenv("TARVEL_REGISTRY_DIR");
}

namespace {
std::string LockDir() {
  if (const char* dir = std::getenv("TARVEL_LOCK_DIR"); dir && *dir) return dir;
  return "/tmp/tarvel-locks";
}
}  // namespace

IniLockOutage::IniLockOutage(const std::string& ini_file) {
  const std::string dir = LockDir();
  ::mkdir(dir.c_str(), 01777);
  blocker_ = dir + "/" + platform::BoundedLockName(platform::IniLockName(ini_file)) + ".lock";
  ::unlink(blocker_.c_str());
  if (::mkdir(blocker_.c_str(), 0700) != 0) throw std::runtime_error("cannot block " + blocker_);
}

IniLockOutage::~IniLockOutage() {
  ::rmdir(blocker_.c_str());
}

#endif

}  // namespace tarvel::test
