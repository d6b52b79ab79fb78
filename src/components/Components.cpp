#include "components/Components.h"

#include <algorithm>
#include <cmath>

#include "Common/Text.h"
#include "platform/text.h"

namespace tarvel {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

[[noreturn]] void Fail(const std::string& text) {
  throw EPropertyError(text);
}

const TPropInfo& Require(const TObject& object, std::string_view name) {
  const TPropInfo* p = LookupProperty(object, name);
  if (!p) Fail("Unknown property: " + std::string(name));
  return *p;
}

// IntegerText parses decimal, "$hex" and "0xhex" integer text.
std::optional<int64_t> IntegerText(std::string_view t) {
  t = TrimControls(t);
  bool neg = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    neg = t.front() == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (!t.empty() && t.front() == '$') {
    base = 16;
    t.remove_prefix(1);
  } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty() || t.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char c : t) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v * base + d;
  }
  return neg ? -v : v;
}

int64_t ToInteger(const TPropInfo& p, const OleVariant& value) {
  std::optional<int64_t> n;
  if (value.IsText()) {
    n = IntegerText(value.ToAnsi());
    if (!n) {
      // Decimal text such as "2.0" converts like a number does.
      if (auto d = ParseNumber(value.ToAnsi()); d && std::isfinite(*d) && std::fabs(*d) < 9e18)
        n = static_cast<int64_t>(std::nearbyint(*d));
    }
  } else if (value.Type() == platform::VT_BOOL) {
    n = value.AsBool().value_or(false) ? -1 : 0;
  } else if (value.IsNumeric()) {
    auto d = value.AsDouble();
    if (d && std::isfinite(*d) && std::fabs(*d) < 9e18)
      n = static_cast<int64_t>(std::nearbyint(*d));
  }
  if (!n) Fail("Invalid value for property " + p.name + ": '" + value.ToAnsi() + "'");
  if (*n < p.min_value || *n > p.max_value)
    Fail("Value out of range for property " + p.name + ": " + std::to_string(*n));
  return *n;
}

}  // namespace

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

const std::vector<std::string>& BooleanNames() {
  static const std::vector<std::string> names{"False", "True"};
  return names;
}

// ---- Class descriptors ----

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    if (c == &other) return true;
  return false;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    for (const TPropInfo& p : c->properties)
      if (SameTextAscii(p.name, name)) return &p;
  return nullptr;
}

const TClassInfo& TObject::StaticClass() {
  static const TClassInfo info{"TObject", nullptr, {}};
  return info;
}

const TClassInfo& TComponent::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TComponent", &TObject::StaticClass(), {}};
    TPropInfo name;
    name.name = "Name";
    name.kind = tkString;
    name.get = [](const TObject& o) {
      return OleVariant::AnsiString(static_cast<const TComponent&>(o).Name());
    };
    name.set = [](TObject& o, const OleVariant& v) {
      static_cast<TComponent&>(o).SetName(v.ToAnsi());
    };
    TPropInfo tag;
    tag.name = "Tag";
    tag.kind = tkInteger;
    tag.get = [](const TObject& o) { return OleVariant(static_cast<const TComponent&>(o).Tag()); };
    tag.set = [](TObject& o, const OleVariant& v) {
      static_cast<TComponent&>(o).SetTag(static_cast<int32_t>(*v.AsInt64()));
    };
    c.properties = {name, tag};
    return c;
  }();
  return info;
}

const TClassInfo& TApplication::StaticClass() {
  static const TClassInfo info{"TApplication", &TComponent::StaticClass(), {}};
  return info;
}

const TClassInfo& TStringList::StaticClass() {
  static const TClassInfo info{"TStringList", &TObject::StaticClass(), {}};
  return info;
}

const TClassInfo& TProxyCodeCustomObject::StaticClass() {
  static const TClassInfo info{"TProxyCodeCustomObject", &TComponent::StaticClass(), {}};
  return info;
}

// ---- Components ----

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameTextAscii(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) {
    components_.erase(it);
    component->owner_ = nullptr;
  }
}

std::string TApplication::HelpFile() const {
  MutexLock lock(help_mu_);
  return help_file_;
}

void TApplication::SetHelpFile(std::string_view file) {
  MutexLock lock(help_mu_);
  help_file_.assign(file);
}

TApplication::THelpEvent TApplication::OnHelp() const {
  MutexLock lock(help_mu_);
  return on_help_;
}

TApplication::THelpEvent TApplication::SetOnHelp(THelpEvent handler) {
  MutexLock lock(help_mu_);
  std::swap(handler, on_help_);
  return handler;
}

bool TApplication::HelpCommand(uint16_t command, intptr_t data) {
  THelpEvent handler = OnHelp();  // called without the lock: it may show windows
  if (!handler) return false;
  bool call_help = true;
  // There is no help engine of the application's own to fall back to.
  return handler(command, data, call_help);
}

TComponent* TApplication::ActiveForm() const {
  MutexLock lock(help_mu_);
  return active_form_;
}

void TApplication::SetActiveForm(TComponent* form) {
  MutexLock lock(help_mu_);
  active_form_ = form;
}

TApplication& Application() {
  static TApplication application;
  return application;
}

// ---- String lists ----

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines_.emplace_back(text.substr(start));
      break;
    }
    lines_.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

// ---- Property access ----

const TPropInfo* LookupProperty(const TObject& object, std::string_view name) {
  return object.ClassInfo().FindProperty(name);
}

OleVariant ReadPropertyValue(const TObject& object, std::string_view name) {
  const TPropInfo& p = Require(object, name);
  if (!p.get) Fail("Property " + p.name + " cannot be read as a value");
  OleVariant v = p.get(object);
  switch (p.kind) {
    case tkEnumeration: {
      int64_t ordinal = v.AsInt64().value_or(-1);
      if (ordinal < 0 || ordinal >= static_cast<int64_t>(p.enum_names.size()))
        return OleVariant::AnsiString("");
      return OleVariant::AnsiString(p.enum_names[static_cast<size_t>(ordinal)]);
    }
    default:
      return v;
  }
}

void WritePropertyValue(TObject& object, std::string_view name, const OleVariant& value) {
  const TPropInfo& p = Require(object, name);
  if (!p.set) Fail("Property " + p.name + " is read-only");
  switch (p.kind) {
    case tkInteger:
    case tkChar:
    case tkWChar:
      p.set(object, OleVariant(static_cast<int32_t>(ToInteger(p, value))));
      return;
    case tkEnumeration: {
      if (value.IsText()) {
        WriteEnumByName(object, name, value.ToAnsi());
        return;
      }
      int64_t n;
      if (value.Type() == platform::VT_BOOL)
        n = value.AsBool().value_or(false) ? 1 : 0;
      else
        n = ToInteger(p, value);
      if (n < 0 || n >= static_cast<int64_t>(p.enum_names.size()))
        Fail("Value out of range for property " + p.name + ": " + std::to_string(n));
      p.set(object, OleVariant(static_cast<int32_t>(n)));
      return;
    }
    case tkFloat: {
      auto d = value.IsText() ? ParseNumber(value.ToAnsi()) : value.AsDouble();
      if (!d) Fail("Invalid value for property " + p.name + ": '" + value.ToAnsi() + "'");
      p.set(object, OleVariant(*d));
      return;
    }
    case tkString:
    case tkLString:
      p.set(object, OleVariant::AnsiString(value.ToAnsi()));
      return;
    case tkWString: {
      // Wide text stays wide: an ANSI detour would lose what the code page lacks.
      const std::u16string wide = value.ToWide();
      p.set(object, OleVariant(std::u16string_view(wide)));
      return;
    }
    case tkVariant:
      p.set(object, value);
      return;
    default:
      Fail("Property " + p.name + " cannot be written as a value");
  }
}

void WriteEnumByName(TObject& object, std::string_view name, std::string_view value_name) {
  const TPropInfo& p = Require(object, name);
  if (p.kind != tkEnumeration || !p.set)
    Fail("Property " + p.name + " is not a writable enumeration");
  for (size_t i = 0; i < p.enum_names.size(); ++i) {
    if (SameTextAscii(p.enum_names[i], value_name)) {
      p.set(object, OleVariant(static_cast<int32_t>(i)));
      return;
    }
  }
  Fail("Invalid property element: " + std::string(value_name));
}

TObject* ReadPropertyObject(const TObject& object, std::string_view name) {
  const TPropInfo* p = LookupProperty(object, name);
  if (!p || p->kind != tkClass || !p->get_object) return nullptr;
  return p->get_object(object);
}

void WritePropertyReference(TObject& object, std::string_view name, TComponent* component) {
  const TPropInfo& p = Require(object, name);
  if (p.kind != tkClass || !p.set_object) Fail("Property " + p.name + " cannot hold a reference");
  if (component && p.held_class && !component->InheritsFrom(*p.held_class)) return;
  p.set_object(object, component);
}

TComponent* FindOwnedComponent(const TComponent& component, std::string_view name) {
  return component.FindComponent(name);
}

bool IsProxyObject(const TObject* object) {
  return object && object->InheritsFrom(TProxyCodeCustomObject::StaticClass());
}

bool IsStringList(const TObject* object) {
  return object && object->InheritsFrom(TStringList::StaticClass());
}

bool IsComboBox(const TObject* object) {
  if (!object) return false;
  const TPropInfo* item_index = LookupProperty(*object, "ItemIndex");
  return item_index && item_index->kind == tkInteger;
}

}  // namespace tarvel
