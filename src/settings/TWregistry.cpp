#include "settings/TWregistry.h"

#include <vector>

#include "Common/Text.h"
#include "Common/ThreadSafety.h"
#include "platform/text.h"
#include "settings/ValueEncoding.h"

namespace tarvel {

namespace {

std::vector<std::string> SplitDots(std::string_view path) {
  std::vector<std::string> parts;
  for (;;) {
    size_t dot = path.find('.');
    parts.emplace_back(path.substr(0, dot));
    if (dot == std::string_view::npos) return parts;
    path.remove_prefix(dot + 1);
  }
}

// SplitKey splits "A\B\Name" into names, stopping at the first empty one.
std::vector<std::string> SplitKey(std::string_view key) {
  constexpr size_t kMaxNames = 255;
  std::vector<std::string> names;
  while (names.size() < kMaxNames) {
    size_t sep = key.find('\\');
    std::string_view name = TrimControls(key.substr(0, sep));
    if (name.empty()) break;
    names.emplace_back(name);
    if (sep == std::string_view::npos) break;
    key.remove_prefix(sep + 1);
  }
  return names;
}

// The process-wide handler list; "ItemIndex" is always there first.
struct HandlerList {
  Mutex mutex;
  std::vector<std::unique_ptr<TWregCustomProp>> handlers TARVEL_GUARDED_BY(mutex);
  HandlerList() { handlers.push_back(std::make_unique<TWregComboBoxProp>("ItemIndex", tkInteger)); }
};

HandlerList& Handlers() {
  static HandlerList list;
  return list;
}

bool IsTextKind(TTypeKind kind) {
  return kind == tkChar || kind == tkString || kind == tkWChar || kind == tkLString ||
         kind == tkWString;
}

// TakeValue reads a property's value in its stored form (before writing).
OleVariant TakeValue(TObject& target, const std::string& name, TTypeKind kind) {
  switch (kind) {
    case tkInteger:
    case tkFloat:
    case tkVariant:
    case tkEnumeration:
      return ReadPropertyValue(target, name);
    case tkChar:
    case tkString:
    case tkWChar:
    case tkLString:
    case tkWString:
      return OleVariant::AnsiString(EscapeText(ReadPropertyValue(target, name).ToAnsi()));
    case tkClass: {
      TObject* held = ReadPropertyObject(target, name);
      if (IsStringList(held))
        return OleVariant::AnsiString(EscapeText(static_cast<TStringList*>(held)->Text()));
      if (auto* component = dynamic_cast<TComponent*>(held))
        return OleVariant::AnsiString(ComponentPath(*component));
      return OleVariant::Null();
    }
    default:
      return OleVariant::Null();
  }
}

// ApplyValue writes a loaded value into a property.
void ApplyValue(TObject& target, const std::string& name, TTypeKind kind, const OleVariant& value,
                TComponent* base) {
  const TPropInfo* p = LookupProperty(target, name);
  if (!p) return;
  if (kind == tkClass) {
    TObject* held = ReadPropertyObject(target, name);
    if (IsStringList(held)) {
      static_cast<TStringList*>(held)->SetText(UnescapeText(value.ToAnsi()));
      return;
    }
    if (!p->Writable()) return;
    if (value.IsNull()) {
      // Docking references are left to the docking code.
      if (name.find("Dock") == std::string::npos) WritePropertyReference(target, name, nullptr);
      return;
    }
    std::string text = value.ToAnsi();
    TComponent* found = text.empty() ? nullptr : FindComponentByPath(text, base);
    if (!text.empty() && !found) return;
    WritePropertyReference(target, name, found);
    return;
  }
  if (!p->Writable()) return;
  if (IsTextKind(kind)) {
    WritePropertyValue(target, name, OleVariant::AnsiString(UnescapeText(value.ToAnsi())));
  } else if (kind == tkEnumeration) {
    std::string text = value.ToAnsi();
    if (!text.empty()) WriteEnumByName(target, name, text);
  } else {
    WritePropertyValue(target, name, value);
  }
}

void DeleteQuietly(TWregStore& store, const std::string& name) {
  if (!store.IsRegistry()) return;
  try {
    store.DeleteStored(name);
  } catch (...) {
  }
}

}  // namespace

const TClassInfo& TWreg::StaticClass() {
  static const TClassInfo info{"TWreg", &TComponent::StaticClass(), {}};
  return info;
}

bool TWreg::LoadProperties(TComponent* root) {
  return Run(root, false);
}

bool TWreg::SaveProperties(TComponent* root) {
  return Run(root, true);
}

bool TWreg::Run(TComponent* root, bool saving) {
  WriteBackError.clear();
  StoreSettings settings;
  settings.registry_root = RegistryRoot;
  settings.second_registry_root = SecondRegistryRoot;
  settings.registry_path = RegistryPath;
  settings.ini_file = INIFile;
  settings.ini_section_prefix = INIFileSectionPrefix;
  settings.memory = MemoryIni;
  std::unique_ptr<TWregStore> store = OpenStore(settings, saving);
  if (!store) return false;
  root_ = root;
  // The map is copied: a handler may change Components while we walk it.
  std::vector<std::string> lines = Components.Lines();
  try {
    for (size_t i = 0; i < lines.size(); ++i)
      ProcessLine(*store, root, lines[i], static_cast<int>(i), saving);
  } catch (...) {
    store->Close();
    WriteBackError = store->WriteBackError();
    root_ = nullptr;
    throw;
  }
  store->Close();
  WriteBackError = store->WriteBackError();
  root_ = nullptr;
  return true;
}

void TWreg::ProcessLine(TWregStore& store, TComponent* root, const std::string& text, int index,
                        bool saving) {
  std::string_view line = TrimControls(text);
  if (line.empty() || line.front() == ';') return;
  size_t comma = line.find(',');
  std::string_view path = TrimControls(line.substr(0, comma));
  std::string_view key =
      comma == std::string_view::npos ? std::string_view() : TrimControls(line.substr(comma + 1));
  if (path.empty()) return;
  std::vector<std::string> subkeys = SplitKey(key);
  std::string value_name;
  if (!subkeys.empty()) {
    value_name = std::move(subkeys.back());
    subkeys.pop_back();
  }
  if (!store.IsRegistry() && value_name.empty()) return;
  if (!store.OpenLocation(subkeys, saving)) return;

  // The root: a top-level form named by the first of three or more parts,
  // else the given object, else the main form.
  std::vector<std::string> parts = SplitDots(path);
  size_t next = 0;
  TComponent* item_root = root ? root : Application().MainForm();
  if (parts.size() >= 3) {
    if (TComponent* form = Application().FindComponent(parts[0])) {
      item_root = form;
      next = 1;
    }
  }

  TObject* target = nullptr;
  std::string name;
  TTypeKind kind = tkUnknown;
  if (IsProxyObject(item_root)) {
    for (size_t i = next; i < parts.size(); ++i) {
      if (i > next) name += '_';
      name += parts[i];
    }
    target = item_root;
    if (const TPropInfo* p = LookupProperty(*item_root, name)) kind = p->kind;
  } else {
    TObject* t = item_root;
    if (item_root && parts.size() - next >= 2) t = item_root->FindComponent(parts[next++]);
    while (next < parts.size()) {
      if (!t) {
        name.clear();
        kind = tkUnknown;
        break;
      }
      name = parts[next++];
      const TPropInfo* p = LookupProperty(*t, name);
      if (!p) {
        // A missing property is not stored, whatever the walk passed on
        // the way (a sub-object's kind must not stick to it).
        kind = tkUnknown;
        break;
      }
      kind = p->kind;
      if (next < parts.size() && kind == tkClass)
        t = ReadPropertyObject(*t, name);
      else
        break;
    }
    target = t;
  }

  bool is_virtual = target == nullptr;
  bool is_require_processing = target != nullptr;
  if (OnBeforeProcessItem)
    OnBeforeProcessItem(*this, name, index, is_require_processing, is_virtual, kind);
  if (!is_require_processing) return;

  try {
    if (kind == tkUnknown) {
      if (target && !name.empty() && name.front() == '*') {
        std::string handler_name = name.substr(1);
        auto* component = dynamic_cast<TComponent*>(target);
        HandlerList& list = Handlers();
        MutexLock guard(list.mutex);
        for (auto& handler : list.handlers) {
          if (!SameTextAscii(handler->Name(), handler_name)) continue;
          if (saving) {
            OleVariant v;
            if (handler->ReadFromComponent(component, handler_name, v) && !v.IsEmpty() &&
                !v.IsNull())
              store.WriteStored(value_name, tkString, OleVariant::AnsiString(v.ToAnsi()));
          } else {
            handler->WriteToComponent(component, handler_name,
                                      OleVariant::AnsiString(store.ReadStoredText(value_name)));
          }
        }
      }
      return;
    }
    if (!saving) {
      if (!store.ValueStored(value_name)) return;
      try {
        std::optional<OleVariant> value = store.ReadStored(value_name, kind);
        if (!value) return;
        if (!is_virtual) {
          if (target) ApplyValue(*target, name, kind, *value, item_root);
        } else if (OnSetValue) {
          if (value->IsText()) *value = OleVariant::AnsiString(UnescapeText(value->ToAnsi()));
          OnSetValue(*this, name, index, *value);
        }
      } catch (...) {
        DeleteQuietly(store, value_name);
      }
    } else {
      try {
        OleVariant value;
        if (is_virtual) {
          if (OnGetValue) {
            OnGetValue(*this, name, index, value);
            if (value.IsText() && !value.ToAnsi().empty())
              value = OleVariant::AnsiString(EscapeText(value.ToAnsi()));
          }
        } else if (target) {
          value = TakeValue(*target, name, kind);
        }
        store.WriteStored(value_name, kind, value);
      } catch (...) {
        DeleteQuietly(store, value_name);
      }
    }
  } catch (...) {
    // One entry's failure never stops the operation.
  }
}

// ---- Custom property handlers ----

TWregCustomProp::TWregCustomProp(std::string_view name, TTypeKind kind)
    : name_(platform::AnsiLowerCase(name)), kind_(kind) {}

bool TWregCustomProp::ReadFromComponent(TComponent*, const std::string&, OleVariant&) {
  return false;
}

void TWregCustomProp::WriteToComponent(TComponent*, const std::string&, const OleVariant&) {}

bool TWregComboBoxProp::ReadFromComponent(TComponent* component, const std::string&,
                                          OleVariant& value) {
  if (!IsComboBox(component)) return false;
  value = ReadPropertyValue(*component, "ItemIndex");
  return true;
}

void TWregComboBoxProp::WriteToComponent(TComponent* component, const std::string&,
                                         const OleVariant& value) {
  if (value.IsEmpty() || value.IsNull()) return;
  std::string text = value.ToAnsi();
  if (text.empty() || !IsComboBox(component)) return;
  int32_t index = ParseIniInteger(std::string(TrimControls(text))).value_or(-2);
  if (index != -2) WritePropertyValue(*component, "ItemIndex", OleVariant(index));
}

void RegisterCustomProp(std::unique_ptr<TWregCustomProp> handler) {
  HandlerList& list = Handlers();
  MutexLock guard(list.mutex);
  list.handlers.push_back(std::move(handler));
}

}  // namespace tarvel
