// Storage back-ends of the settings engine (TWreg): where an entry lives,
// in which form each property kind is stored, and opening and closing a
// store for one load or save.
//
//  - Registry: one key per entry (RegistryPath plus the entry's sub-keys)
//    under the first usable root; integers as REG_DWORD, floats as 8-byte
//    REG_BINARY, everything else as REG_SZ with its terminating NUL.
//  - INI file: section "Common" (or the sub-keys joined by "."), with the
//    section prefix before it; integers in decimal, floats in general format
//    with the locale's separator (read with "." or ","), everything else as
//    text. The named INI lock is held from opening (before the file is read)
//    until closing (after it is written back).
//
// Read and write errors are raised as EStoreError with the texts "Invalid
// data type for '<name>'", "Failed to get data for '<name>'" and "Failed to
// set data for '<name>'"; TWreg catches them per entry.
//
// A store is used by one thread for one operation.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/OleVariant.h"
#include "components/Components.h"
#include "platform/ini_lock.h"
#include "platform/registry.h"
#include "settings/BigIni.h"

namespace tarvel {

enum TRegistryRoot : uint8_t {
  rrHKEY_CLASSES_ROOT,
  rrHKEY_CURRENT_USER,
  rrHKEY_LOCAL_MACHINE,
  rrHKEY_USERS,
  rrHKEY_CURRENT_CONFIG,
  rrNone,
};

// RegistryRootKey maps a TRegistryRoot to its predefined key; nullopt for rrNone.
std::optional<platform::RegistryRootKey> RegistryRootKeyOf(TRegistryRoot root);

class EStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// StoreSettings: what the store choice needs from TWreg.
struct StoreSettings {
  TRegistryRoot registry_root = rrHKEY_LOCAL_MACHINE;
  TRegistryRoot second_registry_root = rrHKEY_CURRENT_USER;
  std::string registry_path = "\\Software\\Company name\\App name";
  std::string ini_file;
  std::string ini_section_prefix;
  // memory: settings kept in memory in INI form, used instead of any file
  // or key (for an instance whose host named no place for them).
  TBigIniFile* memory = nullptr;
};

// IsStoredKind: kinds that have a stored form.
bool IsStoredKind(TTypeKind kind);

class TWregStore {
 public:
  virtual ~TWregStore() = default;
  virtual bool IsRegistry() const = 0;
  // OpenLocation selects the entry's key (registry: opened, or created when
  // create is set; false when that fails) or section (INI: always true).
  virtual bool OpenLocation(const std::vector<std::string>& subkeys, bool create) = 0;
  virtual bool ValueStored(const std::string& name) = 0;
  // ReadStored reads a value in the form kind calls for; nullopt for kinds
  // that are not stored. tkClass text "[[Null]]" reads as null.
  virtual std::optional<OleVariant> ReadStored(const std::string& name, TTypeKind kind) = 0;
  // ReadStoredText reads a value as text; a missing value is empty text.
  virtual std::string ReadStoredText(const std::string& name) = 0;
  // WriteStored writes a value; an empty or null value deletes it.
  virtual void WriteStored(const std::string& name, TTypeKind kind, const OleVariant& value) = 0;
  virtual void DeleteStored(const std::string& name) = 0;
  // Close ends the operation (INI: write-back, whose failure does not fail
  // the operation but is kept in WriteBackError, then the lock is
  // released). Safe to call twice.
  virtual void Close() = 0;
  // WriteBackError: why the last write-back failed; empty when it did not.
  const std::string& WriteBackError() const { return write_back_error_; }
  // Where the store ended up (for tests and logs): the registry root used,
  // or the INI file.
  virtual std::string Describe() const = 0;

 protected:
  std::string write_back_error_;
};

// OpenStore chooses and opens the store for one operation: the settings in
// memory when given; INI storage when
// ini_file is set and the file exists or saving; else the registry, with
// the first root whose key can be opened (loading) or created (saving).
// Returns null when no registry root is usable. Raises when the INI lock
// cannot be created or the INI file exists but cannot be read.
std::unique_ptr<TWregStore> OpenStore(const StoreSettings& settings, bool saving);

// IniSectionName builds an entry's INI section from its sub-keys and the prefix.
std::string IniSectionName(const std::vector<std::string>& subkeys, const std::string& prefix);

}  // namespace tarvel
