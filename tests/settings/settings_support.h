// Helpers for the settings tests: a private registry place, environment
// variables, and child processes that run one test of this same program.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tarvel::test {

inline void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ::SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  _putenv_s(name.c_str(), value.c_str());
#else
  if (value.empty())
    ::unsetenv(name.c_str());
  else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline std::string GetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

// RegistrySandbox gives each test its own registry place. POSIX: a fresh
// file-backed store (and lock directory) in a temporary directory. Win32:
// a fresh key path under Software\TarvelTest in Wine's registry, removed
// from both HKCU and HKLM afterwards.
class RegistrySandbox {
 public:
  RegistrySandbox() {
    std::string guid = platform::NewGuidText();
    path_ = "\\Software\\TarvelTest\\" + guid.substr(1, guid.size() - 2);
#ifndef _WIN32
    SetEnv("TARVEL_REGISTRY_DIR", dir_.File("registry"));
    SetEnv("TARVEL_LOCK_DIR", dir_.File("locks"));
    SetEnv("TARVEL_REGISTRY_READONLY", "");
#endif
  }
  ~RegistrySandbox() {
    for (auto root :
         {platform::RegistryRootKey::kCurrentUser, platform::RegistryRootKey::kLocalMachine})
      platform::DeleteRegistryTree(root, path_.substr(1));
#ifndef _WIN32
    SetEnv("TARVEL_REGISTRY_DIR", "");
    SetEnv("TARVEL_LOCK_DIR", "");
    SetEnv("TARVEL_REGISTRY_READONLY", "");
#endif
  }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // Path: the settings path with its leading backslash, as TWreg takes it.
  const std::string& Path() const {
    return path_;
  }
  // KeyPath: the same without the backslash, as the registry takes it.
  std::string KeyPath() const {
    return path_.substr(1);
  }
  const TempDir& Dir() const {
    return dir_;
  }

 private:
  TempDir dir_;
  std::string path_;
};

// Child runs "this program --gtest_filter=<filter>" with the current
// environment; Wait returns its exit code (-1 when it could not run).
class Child {
 public:
  explicit Child(const std::string& filter) {
#ifdef _WIN32
    char exe[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string cmd = "\"" + std::string(exe, n) + "\" --gtest_filter=" + filter;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                         &pi)) {
      ::CloseHandle(pi.hThread);
      process_ = pi.hProcess;
    }
#else
    std::string exe = "/proc/self/exe", arg = "--gtest_filter=" + filter;
    char* argv[] = {exe.data(), arg.data(), nullptr};
    if (::posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
#endif
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    Wait();
  }

  int Wait() {
#ifdef _WIN32
    if (process_) {
      ::WaitForSingleObject(process_, INFINITE);
      DWORD code = 0;
      ::GetExitCodeProcess(process_, &code);
      ::CloseHandle(process_);
      process_ = nullptr;
      code_ = static_cast<int>(code);
    }
#else
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
#endif
    return code_;
  }

 private:
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
  int code_ = -1;
};

}  // namespace tarvel::test
