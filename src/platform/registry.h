// Registry: hierarchical keys holding named, typed values.
//
// Win32: the system registry (RegOpenKeyExA, RegCreateKeyExA, ...), keys
// opened with KEY_ALL_ACCESS. POSIX: a file-backed store with the same key
// paths, value names and value types, one directory per root under the
// directory named by TARVEL_REGISTRY_DIR (default $HOME/.tarvel-registry,
// or /tmp/tarvel-registry-<uid> without a home). Key and value names compare
// case-insensitively, as on Windows. A root listed in TARVEL_REGISTRY_READONLY
// (comma-separated root names, e.g. "HKEY_LOCAL_MACHINE") can be neither
// opened nor written with full access, like HKEY_LOCAL_MACHINE for a user
// without rights.
//
// Paths use "\" between key names; a leading "\" is not allowed (callers
// drop it). An empty path names the root itself.
//
// Thread rules: a RegistryKey object is used by one thread at a time;
// different objects may be used concurrently, also on the same key and
// from several processes (POSIX: each change of a key's values is a locked
// read-modify-write that replaces the key's value file atomically).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel::platform {

// Predefined root keys, with the values of the Windows handles.
enum class RegistryRootKey : uint32_t {
  kClassesRoot = 0x80000000u,
  kCurrentUser = 0x80000001u,
  kLocalMachine = 0x80000002u,
  kUsers = 0x80000003u,
  kCurrentConfig = 0x80000005u,
};

// Value types, with the Windows codes.
enum RegistryValueType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegistryValue {
  uint32_t type = kRegNone;
  std::string data;  // raw bytes as stored (REG_SZ includes its NUL when written with one)
};

enum class RegistryQuery { kOk, kMissing, kFailed };

// RegistryKey is one open key (the RAII owner of an HKEY on Win32).
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Open opens an existing key with full access; false when it does not
  // exist or full access is refused. Closes a key this object held first.
  bool Open(RegistryRootKey root, std::string_view path);
  // Create opens a key with full access, creating it (and its parents,
  // non-volatile) when missing; false when that is refused.
  bool Create(RegistryRootKey root, std::string_view path);
  bool IsOpen() const;
  void Close();

  // Query reads a value: kOk with type and data, kMissing when there is no
  // value of that name, kFailed for any other failure.
  RegistryQuery Query(std::string_view name, RegistryValue* out) const;
  bool ValueExists(std::string_view name) const {
    return Query(name, nullptr) == RegistryQuery::kOk;
  }
  // SetValue stores a value (replacing one of the same name); false on failure.
  bool SetValue(std::string_view name, uint32_t type, std::string_view data);
  // DeleteValue removes a value; false when it did not exist or on failure.
  bool DeleteValue(std::string_view name);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // HKEY
#else
  std::string dir_;  // the key's directory; empty when closed
#endif
};

// RegistryKeyExists: whether the key is there, looked at with read access
// only, so a key the user may read but not change counts too.
bool RegistryKeyExists(RegistryRootKey root, std::string_view path);

// DeleteRegistryTree removes a key with all its sub-keys and values
// (for tests and uninstall); true when the key is gone afterwards.
bool DeleteRegistryTree(RegistryRootKey root, std::string_view path);

// RegistryRootName gives "HKEY_CURRENT_USER" and so on.
const char* RegistryRootName(RegistryRootKey root);

}  // namespace tarvel::platform
