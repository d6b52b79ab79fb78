// TWreg: loads and saves object properties named by a property map, to the
// registry or to an INI file.
//
// The map (Components) is a list of lines "path,key": the path names a
// property under the root object ("var1.Text": property Text of the child
// component var1; against a headless settings object, its property
// var1_Text); the key names where the value is stored ("Sub\Name": value
// Name under the sub-key Sub). Empty lines, lines starting with ";" and
// lines with an empty path are ignored. A property name starting with "*"
// is served by a custom property handler (RegisterCustomProp); "ItemIndex"
// (a combo box's item index) is always registered.
//
// One TWreg is configured, used for one operation and freed:
//
//   TWreg reg;
//   reg.RegistryPath = "\\Software\\Maker\\Tarvel";   // or reg.INIFile = "...";
//   reg.Components.SetText("Left,Left\r\nvar1.Text,Var1\r\n");
//   reg.SaveProperties(&settings);    // false: no registry root usable
//   reg.LoadProperties(&settings);
//
// Errors of a single entry are swallowed (a registry value that cannot be
// read or applied is deleted); errors raised by OnBeforeProcessItem, by
// creating the INI lock, or by reading an existing INI file reach the
// caller. In INI storage, a line whose value name is empty is skipped:
// writing an empty key would erase the whole section.
//
// Runs on the calling thread. Instances share only the custom handler list
// (locked) and, per INI file, the named INI lock, which serialises
// operations on one file across threads and processes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Common/OleVariant.h"
#include "components/Components.h"
#include "settings/Storage.h"

namespace tarvel {

class TWreg;

// Events, bound per object; an unset event is not called.
using TBeforeProcessItemProc =
    std::function<void(TWreg& sender, const std::string& name, int index,
                       bool& is_require_processing, bool& is_virtual, TTypeKind& item_type)>;
using TGetValueProc =
    std::function<void(TWreg& sender, const std::string& name, int index, OleVariant& value)>;
using TSetValueProc =
    std::function<void(TWreg& sender, const std::string& name, int index, const OleVariant& value)>;

class TWreg : public TComponent {
 public:
  explicit TWreg(TComponent* owner = nullptr) : TComponent(owner) {}

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  TRegistryRoot RegistryRoot = rrHKEY_LOCAL_MACHINE;
  TRegistryRoot SecondRegistryRoot = rrHKEY_CURRENT_USER;
  std::string RegistryPath = "\\Software\\Company name\\App name";
  std::string INIFile;
  std::string INIFileSectionPrefix;
  // MemoryIni: settings kept in memory (INI form) to use instead of the
  // registry or an INI file; not owned.
  TBigIniFile* MemoryIni = nullptr;
  TStringList Components;  // the property map
  TSetValueProc OnSetValue;
  TGetValueProc OnGetValue;
  TBeforeProcessItemProc OnBeforeProcessItem;

  // LoadProperties reads every map entry from the store into the properties
  // under root (null: the application's main form). SaveProperties writes
  // them. Both return false when no store could be opened.
  bool LoadProperties(TComponent* root);
  bool SaveProperties(TComponent* root);
  // WriteBackError: why the last operation's INI write-back failed (the
  // operation still answers as done and the file keeps its old content);
  // empty when it did not fail.
  std::string WriteBackError;

  // RootObject: the root of the running operation (null outside one).
  TComponent* RootObject() const { return root_; }

 private:
  bool Run(TComponent* root, bool saving);
  void ProcessLine(TWregStore& store, TComponent* root, const std::string& text, int index,
                   bool saving);
  TComponent* root_ = nullptr;
};

// TWregCustomProp: a handler for the pseudo-property "*<name>" of components.
class TWregCustomProp {
 public:
  TWregCustomProp(std::string_view name, TTypeKind kind);
  virtual ~TWregCustomProp() = default;
  const std::string& Name() const { return name_; }  // lower-cased
  TTypeKind Kind() const { return kind_; }
  // ReadFromComponent sets value and returns true when it has one to save.
  virtual bool ReadFromComponent(TComponent* component, const std::string& name, OleVariant& value);
  virtual void WriteToComponent(TComponent* component, const std::string& name,
                                const OleVariant& value);

 private:
  std::string name_;
  TTypeKind kind_;
};

// TWregComboBoxProp: "ItemIndex" of a combo box, stored as text.
class TWregComboBoxProp : public TWregCustomProp {
 public:
  using TWregCustomProp::TWregCustomProp;
  bool ReadFromComponent(TComponent* component, const std::string& name,
                         OleVariant& value) override;
  void WriteToComponent(TComponent* component, const std::string& name,
                        const OleVariant& value) override;
};

// RegisterCustomProp appends a handler to the process-wide list (thread-safe).
void RegisterCustomProp(std::unique_ptr<TWregCustomProp> handler);
template <class T>
void RegisterCustomProp(std::string_view name, TTypeKind kind) {
  RegisterCustomProp(std::make_unique<T>(name, kind));
}

}  // namespace tarvel
