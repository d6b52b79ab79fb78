#include "settings/Storage.h"

#include <cstring>

namespace tarvel {

using platform::RegistryKey;
using platform::RegistryQuery;
using platform::RegistryRootKey;
using platform::RegistryValue;

namespace {

constexpr const char kNullMarker[] = "[[Null]]";

std::string Quoted(const char* what, const std::string& name) {
  return std::string(what) + " '" + name + "'";
}

std::string TrimPath(std::string path) {
  if (!path.empty() && path.front() == '\\') path.erase(0, 1);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

int32_t ToInt32(const std::string& name, const OleVariant& value) {
  auto n = value.AsInt64();
  if (!n || *n < INT32_MIN || *n > INT32_MAX)
    throw EStoreError(Quoted("Failed to set data for", name));
  return static_cast<int32_t>(*n);
}

double ToDouble(const std::string& name, const OleVariant& value) {
  auto d = value.AsDouble();
  if (!d) throw EStoreError(Quoted("Failed to set data for", name));
  return *d;
}

class RegistryStore : public TWregStore {
 public:
  RegistryStore(RegistryRootKey root, std::string path) : root_(root), path_(std::move(path)) {}

  bool IsRegistry() const override { return true; }

  bool OpenLocation(const std::vector<std::string>& subkeys, bool create) override {
    std::string path = path_;
    for (const std::string& s : subkeys) {
      if (!path.empty()) path += '\\';
      path += s;
    }
    return create ? key_.Create(root_, path) : key_.Open(root_, path);
  }

  bool ValueStored(const std::string& name) override { return key_.ValueExists(name); }

  std::optional<OleVariant> ReadStored(const std::string& name, TTypeKind kind) override {
    if (!IsStoredKind(kind)) return std::nullopt;
    RegistryValue v;
    if (key_.Query(name, &v) != RegistryQuery::kOk)
      throw EStoreError(Quoted("Failed to get data for", name));
    switch (kind) {
      case tkInteger: {
        if (v.type != platform::kRegDword || v.data.size() != 4)
          throw EStoreError(Quoted("Invalid data type for", name));
        int32_t n;
        std::memcpy(&n, v.data.data(), 4);
        return OleVariant(n);
      }
      case tkFloat: {
        if (v.type != platform::kRegBinary || v.data.size() != 8)
          throw EStoreError(Quoted("Invalid data type for", name));
        double d;
        std::memcpy(&d, v.data.data(), 8);
        return OleVariant(d);
      }
      default: {
        std::string text = Text(name, v);
        if (kind == tkClass && text == kNullMarker) return OleVariant::Null();
        return OleVariant::AnsiString(text);
      }
    }
  }

  std::string ReadStoredText(const std::string& name) override {
    RegistryValue v;
    switch (key_.Query(name, &v)) {
      case RegistryQuery::kMissing:
        return {};
      case RegistryQuery::kFailed:
        throw EStoreError(Quoted("Failed to get data for", name));
      case RegistryQuery::kOk:
        break;
    }
    return Text(name, v);
  }

  void WriteStored(const std::string& name, TTypeKind kind, const OleVariant& value) override {
    if (value.IsEmpty() || value.IsNull()) {
      DeleteStored(name);
      return;
    }
    bool ok;
    switch (kind) {
      case tkInteger: {
        int32_t n = ToInt32(name, value);
        ok = key_.SetValue(name, platform::kRegDword,
                           std::string_view(reinterpret_cast<const char*>(&n), 4));
        break;
      }
      case tkFloat: {
        double d = ToDouble(name, value);
        ok = key_.SetValue(name, platform::kRegBinary,
                           std::string_view(reinterpret_cast<const char*>(&d), 8));
        break;
      }
      default: {
        if (!IsStoredKind(kind)) return;
        std::string text = value.ToAnsi();
        text.push_back('\0');
        ok = key_.SetValue(name, platform::kRegSz, text);
        break;
      }
    }
    if (!ok) throw EStoreError(Quoted("Failed to set data for", name));
  }

  void DeleteStored(const std::string& name) override { key_.DeleteValue(name); }

  void Close() override { key_.Close(); }

  std::string Describe() const override { return platform::RegistryRootName(root_); }

 private:
  static std::string Text(const std::string& name, const RegistryValue& v) {
    if (v.type != platform::kRegSz && v.type != platform::kRegExpandSz)
      throw EStoreError(Quoted("Invalid data type for", name));
    size_t nul = v.data.find('\0');
    return nul == std::string::npos ? v.data : v.data.substr(0, nul);
  }

  RegistryRootKey root_;
  std::string path_;
  RegistryKey key_;
};

class IniStore : public TWregStore {
 public:
  IniStore(const std::string& file, std::string prefix) : prefix_(std::move(prefix)) {
    lock_.emplace(file);
    lock_->Acquire();
    held_ = true;
    try {
      owned_ = std::make_unique<TBigIniFile>(file);
      ini_ = owned_.get();
    } catch (...) {
      Release();
      throw;
    }
  }
  // Over settings kept in memory: no file, no lock (the caller serialises).
  IniStore(TBigIniFile& memory, std::string prefix) : prefix_(std::move(prefix)), ini_(&memory) {}
  ~IniStore() override { Close(); }

  bool IsRegistry() const override { return false; }

  bool OpenLocation(const std::vector<std::string>& subkeys, bool) override {
    section_ = IniSectionName(subkeys, prefix_);
    return true;
  }

  bool ValueStored(const std::string& name) override { return ini_->ValueExists(section_, name); }

  std::optional<OleVariant> ReadStored(const std::string& name, TTypeKind kind) override {
    if (!IsStoredKind(kind)) return std::nullopt;
    switch (kind) {
      case tkInteger:
        return OleVariant(ini_->ReadInteger(section_, name, 0));
      case tkFloat:
        return OleVariant(ini_->ReadFloat(section_, name, 0.0));
      default: {
        std::string text = ini_->ReadString(section_, name, "");
        if (kind == tkClass && text == kNullMarker) return OleVariant::Null();
        return OleVariant::AnsiString(text);
      }
    }
  }

  std::string ReadStoredText(const std::string& name) override {
    return ini_->ReadString(section_, name, "");
  }

  void WriteStored(const std::string& name, TTypeKind kind, const OleVariant& value) override {
    if (value.IsEmpty() || value.IsNull()) {
      DeleteStored(name);
      return;
    }
    switch (kind) {
      case tkInteger:
        ini_->WriteInteger(section_, name, ToInt32(name, value));
        break;
      case tkFloat:
        ini_->WriteFloat(section_, name, ToDouble(name, value));
        break;
      default:
        if (IsStoredKind(kind)) ini_->WriteString(section_, name, value.ToAnsi());
        break;
    }
  }

  void DeleteStored(const std::string& name) override { ini_->DeleteKey(section_, name); }

  void Close() override {
    if (ini_) {
      try {
        ini_->UpdateFile();
      } catch (const std::exception& e) {
        // A failed write-back leaves the old file whole; the operation
        // still counts as done, and the caller may tell the user.
        write_back_error_ = e.what();
      } catch (...) {
        write_back_error_ = "Cannot write file " + ini_->FileName();
      }
      owned_.reset();
      ini_ = nullptr;
    }
    Release();
  }

  std::string Describe() const override { return "INI"; }

 private:
  void Release() {
    if (held_) {
      held_ = false;
      lock_->Release();
    }
  }

  std::string prefix_;
  std::string section_ = "Common";
  std::optional<platform::IniFileLock> lock_;  // none for settings in memory
  bool held_ = false;
  std::unique_ptr<TBigIniFile> owned_;
  TBigIniFile* ini_ = nullptr;  // owned_, or settings in memory
};

// TestRoot checks that a root can take the settings key with full access.
bool TestRoot(TRegistryRoot root, const std::string& path, bool saving) {
  auto key_root = RegistryRootKeyOf(root);
  if (!key_root) return false;
  RegistryKey key;
  if (saving && !path.empty()) return key.Create(*key_root, path);
  return key.Open(*key_root, path);
}

}  // namespace

std::optional<RegistryRootKey> RegistryRootKeyOf(TRegistryRoot root) {
  switch (root) {
    case rrHKEY_CLASSES_ROOT:
      return RegistryRootKey::kClassesRoot;
    case rrHKEY_CURRENT_USER:
      return RegistryRootKey::kCurrentUser;
    case rrHKEY_LOCAL_MACHINE:
      return RegistryRootKey::kLocalMachine;
    case rrHKEY_USERS:
      return RegistryRootKey::kUsers;
    case rrHKEY_CURRENT_CONFIG:
      return RegistryRootKey::kCurrentConfig;
    case rrNone:
      break;
  }
  return std::nullopt;
}

bool IsStoredKind(TTypeKind kind) {
  return kind != tkUnknown && kind != tkSet && kind != tkMethod && kind <= tkVariant;
}

std::string IniSectionName(const std::vector<std::string>& subkeys, const std::string& prefix) {
  std::string section;
  for (const std::string& s : subkeys) {
    if (!section.empty()) section += '\\';
    section += s;
  }
  if (section.empty()) section = "Common";
  if (!prefix.empty()) section = prefix + "." + section;
  for (char& c : section)
    if (c == '\\') c = '.';
  return section;
}

std::unique_ptr<TWregStore> OpenStore(const StoreSettings& settings, bool saving) {
  if (settings.memory)
    return std::make_unique<IniStore>(*settings.memory, settings.ini_section_prefix);
  if (!settings.ini_file.empty() && (saving || platform::FileExists(settings.ini_file)))
    return std::make_unique<IniStore>(settings.ini_file, settings.ini_section_prefix);
  std::string path = TrimPath(settings.registry_path);
  for (TRegistryRoot root : {settings.registry_root, settings.second_registry_root}) {
    if (TestRoot(root, path, saving))
      return std::make_unique<RegistryStore>(*RegistryRootKeyOf(root), path);
  }
  return nullptr;
}

}  // namespace tarvel
