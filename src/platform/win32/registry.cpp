#include "platform/registry.h"

#include <windows.h>

#include <string>

namespace tarvel::platform {

namespace {
HKEY RootHandle(RegistryRootKey root) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<uint32_t>(root)));
}
}  // namespace

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool RegistryKey::Open(RegistryRootKey root, std::string_view path) {
  Close();
  std::string p(path);
  HKEY key = nullptr;
  if (::RegOpenKeyExA(RootHandle(root), p.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return false;
  handle_ = key;
  return true;
}

bool RegistryKey::Create(RegistryRootKey root, std::string_view path) {
  Close();
  std::string p(path);
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExA(RootHandle(root), p.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  handle_ = key;
  return true;
}

bool RegistryKey::IsOpen() const {
  return handle_ != nullptr;
}

void RegistryKey::Close() {
  if (handle_) {
    ::RegCloseKey(static_cast<HKEY>(handle_));
    handle_ = nullptr;
  }
}

RegistryQuery RegistryKey::Query(std::string_view name, RegistryValue* out) const {
  if (!handle_) return RegistryQuery::kFailed;
  std::string n(name);
  HKEY key = static_cast<HKEY>(handle_);
  // The value may grow between the size query and the read; ask again then.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = 0, size = 0;
    LONG rc = ::RegQueryValueExA(key, n.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return RegistryQuery::kMissing;
    if (rc != ERROR_SUCCESS) return RegistryQuery::kFailed;
    if (!out) return RegistryQuery::kOk;
    std::string data(size, '\0');
    DWORD got = size;
    rc = ::RegQueryValueExA(key, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                            &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc == ERROR_FILE_NOT_FOUND) return RegistryQuery::kMissing;
    if (rc != ERROR_SUCCESS) return RegistryQuery::kFailed;
    data.resize(got);
    out->type = type;
    out->data = std::move(data);
    return RegistryQuery::kOk;
  }
  return RegistryQuery::kFailed;
}

bool RegistryKey::SetValue(std::string_view name, uint32_t type, std::string_view data) {
  if (!handle_) return false;
  std::string n(name);
  return ::RegSetValueExA(static_cast<HKEY>(handle_), n.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(std::string_view name) {
  if (!handle_) return false;
  std::string n(name);
  return ::RegDeleteValueA(static_cast<HKEY>(handle_), n.c_str()) == ERROR_SUCCESS;
}

bool RegistryKeyExists(RegistryRootKey root, std::string_view path) {
  std::string p(path);
  HKEY probe = nullptr;
  if (::RegOpenKeyExA(RootHandle(root), p.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(probe);
  return true;
}

bool DeleteRegistryTree(RegistryRootKey root, std::string_view path) {
  std::string p(path);
  if (p.empty()) return false;  // never wipe a whole root
  LONG rc = ::RegDeleteTreeA(RootHandle(root), p.c_str());
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
    HKEY probe = nullptr;
    if (::RegOpenKeyExA(RootHandle(root), p.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
      ::RegCloseKey(probe);
      return ::RegDeleteKeyA(RootHandle(root), p.c_str()) == ERROR_SUCCESS;
    }
    return true;
  }
  return false;
}

}  // namespace tarvel::platform
