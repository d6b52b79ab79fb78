// The component model and property-access layer shared by the settings
// engine, the translator and the options form.
//
//  - TObject: the root of every class the engine can reach; it names its
//    class descriptor (TClassInfo), which carries a parent and a table of
//    properties (TPropInfo: name, TTypeKind, getter, setter, enumeration
//    names, held class, integer range).
//  - TComponent: Name, Owner, Tag and the components it owns, found by name
//    case-insensitively. An owner frees what it owns.
//  - TApplication (one per process, Application()): owner of the top-level
//    forms, knows the main form.
//  - TStringList: lines of text, read and replaced as a whole.
//  - TProxyCodeCustomObject: base of headless settings objects whose
//    properties mirror form controls ("var1.Text" -> "var1_Text").
//
// Controls, among them TCustomComboBox (what the settings engine needs of
// a combo box: its ItemIndex), are in components/Controls.h.
//
// Declaring a class:
//   class TThing : public TComponent {
//    public:
//     static const TClassInfo& StaticClass();
//     const TClassInfo& ClassInfo() const override { return StaticClass(); }
//     int32_t size = 0;
//   };
//   const TClassInfo& TThing::StaticClass() {
//     static const TClassInfo info{"TThing", &TComponent::StaticClass(),
//                                  {FieldProperty("Size", &TThing::size)}};
//     return info;
//   }
//
// Threads: descriptors are immutable once built and may be read from any
// thread. Objects are not thread-safe; the caller serialises access to one
// object (and to one ownership tree).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/ThreadSafety.h"

namespace tarvel {

// TTypeKind: the kind of a property. The ordinal values are fixed: they
// reach BeforeProcessItem handlers of the settings engine.
enum TTypeKind : uint8_t {
  tkUnknown = 0,
  tkInteger = 1,
  tkChar = 2,
  tkEnumeration = 3,
  tkFloat = 4,
  tkString = 5,
  tkSet = 6,
  tkClass = 7,
  tkMethod = 8,
  tkWChar = 9,
  tkLString = 10,
  tkWString = 11,
  tkVariant = 12,
  tkArray = 13,
  tkRecord = 14,
  tkInterface = 15,
  tkInt64 = 16,
  tkDynArray = 17,
};

// EPropertyError is raised by the property-access operations for a missing
// property, a value that does not convert or fit, or an unknown
// enumeration name ("Invalid property element: <name>").
class EPropertyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TObject;
class TComponent;
struct TClassInfo;

// Accessors see values in the native form of the property's kind:
// tkInteger/tkChar/tkWChar/tkEnumeration a VT_I4 (enumerations: the
// ordinal), tkFloat a VT_R8, 8-bit string kinds an 8-bit string variant, tkWString a wide (VT_BSTR)
// one, tkVariant any variant. tkClass properties use the object accessors.
using PropGetter = std::function<OleVariant(const TObject&)>;
using PropSetter = std::function<void(TObject&, const OleVariant&)>;
using ObjectGetter = std::function<TObject*(const TObject&)>;
using ObjectSetter = std::function<void(TObject&, TObject*)>;

struct TPropInfo {
  std::string name;
  TTypeKind kind = tkUnknown;
  PropGetter get;
  PropSetter set;  // empty: read-only
  ObjectGetter get_object;
  ObjectSetter set_object;                                  // empty: read-only
  std::vector<std::string> enum_names;                      // tkEnumeration, by ordinal
  const TClassInfo* held_class = nullptr;                   // tkClass
  int64_t min_value = std::numeric_limits<int32_t>::min();  // tkInteger, tkChar, tkWChar
  int64_t max_value = std::numeric_limits<int32_t>::max();

  bool Writable() const { return kind == tkClass ? bool(set_object) : bool(set); }
};

struct TClassInfo {
  std::string name;
  const TClassInfo* parent = nullptr;
  std::vector<TPropInfo> properties;

  // InheritsFrom is true for this class and every descendant of other.
  bool InheritsFrom(const TClassInfo& other) const;
  // FindProperty searches this class, then its ancestors; ASCII letters
  // compare without regard to case.
  const TPropInfo* FindProperty(std::string_view name) const;
};

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassInfo() const { return StaticClass(); }
  bool InheritsFrom(const TClassInfo& info) const { return ClassInfo().InheritsFrom(info); }
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  // Frees the owned components (last first) and leaves the owner's list.
  ~TComponent() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_.assign(name); }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }
  TComponent* Owner() const { return owner_; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_[static_cast<size_t>(index)]; }
  // FindComponent returns the owned component of that name (ASCII letters
  // compared without case), or null. An empty name finds nothing.
  TComponent* FindComponent(std::string_view name) const;
  // InsertComponent takes ownership of a component (leaving its old owner);
  // RemoveComponent gives it up without freeing it.
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  virtual bool IsApplication() const { return false; }

 private:
  std::string name_;
  int32_t tag_ = 0;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
};

// TApplication owns the top-level forms. Application() is the process's one
// instance; it has no owner.
//
// It also carries the application's help: its help file, the handler that
// answers help requests (a help component installs one while it lives)
// and the form a view is showing, which help windows belong to. These are
// locked: dialogs of several module instances may run on several threads.
class TApplication : public TComponent {
 public:
  // THelpEvent answers a help request (command 1: a topic by its context
  // number in data, 8: the same in a pop-up, 11: the contents). call_help
  // starts true; a handler that shows the help itself sets it false.
  using THelpEvent = std::function<bool(uint16_t command, intptr_t data, bool& call_help)>;
  static constexpr uint16_t kHelpContext = 1;
  static constexpr uint16_t kHelpContextPopup = 8;
  static constexpr uint16_t kHelpContents = 11;

  TApplication() { SetName("Application"); }
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  bool IsApplication() const override { return true; }
  TComponent* MainForm() const { return main_form_; }
  void SetMainForm(TComponent* form) { main_form_ = form; }
  // BiDiMode: the reading order of the application's texts (0 left to
  // right; the translator sets it for an all-forms pass).
  uint8_t BiDiMode() const { return bidi_mode_; }
  void SetBiDiMode(uint8_t mode) { bidi_mode_ = mode; }

  std::string HelpFile() const;
  void SetHelpFile(std::string_view file);
  THelpEvent OnHelp() const;
  // SetOnHelp installs a handler and returns the one it replaces.
  THelpEvent SetOnHelp(THelpEvent handler);
  // HelpCommand hands a request to OnHelp; false without a handler.
  bool HelpCommand(uint16_t command, intptr_t data);
  bool HelpContext(int32_t context) { return HelpCommand(kHelpContext, context); }
  // ActiveForm: the form a view shows now (null when none); a view sets
  // it while a form is up and puts the previous one back after.
  TComponent* ActiveForm() const;
  void SetActiveForm(TComponent* form);

 private:
  TComponent* main_form_ = nullptr;
  mutable Mutex help_mu_;
  std::string help_file_ TARVEL_GUARDED_BY(help_mu_);
  THelpEvent on_help_ TARVEL_GUARDED_BY(help_mu_);
  TComponent* active_form_ TARVEL_GUARDED_BY(help_mu_) = nullptr;
  uint8_t bidi_mode_ = 0;
};
TApplication& Application();

// TStringList holds lines of text.
class TStringList : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  std::vector<std::string>& Lines() { return lines_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  int Count() const { return static_cast<int>(lines_.size()); }
  void Add(std::string_view line) { lines_.emplace_back(line); }
  void Clear() { lines_.clear(); }
  // Text gives every line followed by CR LF, the last one included.
  std::string Text() const;
  // SetText replaces the lines: a line ends at CR LF, LF or CR, and the text
  // ends at its first NUL character.
  void SetText(std::string_view text);

 private:
  std::vector<std::string> lines_;
};

// TProxyCodeCustomObject marks headless settings objects; it adds nothing.
class TProxyCodeCustomObject : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
};

// ---- The property-access operations ----

// LookupProperty: the descriptor of the named property, or null.
const TPropInfo* LookupProperty(const TObject& object, std::string_view name);
// ReadPropertyValue: the current value; enumerations give their value name,
// characters their code. Raises EPropertyError when there is no such
// property or it cannot be read as a value (tkClass).
OleVariant ReadPropertyValue(const TObject& object, std::string_view name);
// WritePropertyValue converts and stores a value (integers and characters
// checked against the property's range). Raises EPropertyError when the
// property is missing or read-only or the value does not convert or fit.
void WritePropertyValue(TObject& object, std::string_view name, const OleVariant& value);
// WriteEnumByName sets an enumeration from a value name (case-insensitive);
// an unknown name raises "Invalid property element: <name>".
void WriteEnumByName(TObject& object, std::string_view name, std::string_view value_name);
// ReadPropertyObject: the object a tkClass property holds, or null.
TObject* ReadPropertyObject(const TObject& object, std::string_view name);
// WritePropertyReference stores a component (or null) into a tkClass
// property; a component whose class does not fit is silently not stored.
void WritePropertyReference(TObject& object, std::string_view name, TComponent* component);
// FindOwnedComponent: the child of that name, compared case-insensitively.
TComponent* FindOwnedComponent(const TComponent& component, std::string_view name);
// IsProxyObject: true for TProxyCodeCustomObject and its descendants.
bool IsProxyObject(const TObject* object);
// IsStringList / IsComboBox recognise the two classes the engine treats
// apart. A combo box is known by its published integer ItemIndex, through
// which the engine reads and writes it, so the engine needs no control
// class.
bool IsStringList(const TObject* object);
bool IsComboBox(const TObject* object);

// SameTextAscii compares ignoring the case of ASCII letters only.
bool SameTextAscii(std::string_view a, std::string_view b);

// ---- Building property tables ----

const std::vector<std::string>& BooleanNames();  // {"False", "True"}

// FieldProperty makes a property over a data member: int32_t gives
// tkInteger, double tkFloat, std::string tkString, bool the Boolean
// enumeration, OleVariant tkVariant.
template <class C>
TPropInfo FieldProperty(std::string name, int32_t C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkInteger;
  p.get = [member](const TObject& o) { return OleVariant(static_cast<const C&>(o).*member); };
  p.set = [member](TObject& o, const OleVariant& v) {
    static_cast<C&>(o).*member = static_cast<int32_t>(*v.AsInt64());
  };
  return p;
}
template <class C>
TPropInfo FieldProperty(std::string name, double C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkFloat;
  p.get = [member](const TObject& o) { return OleVariant(static_cast<const C&>(o).*member); };
  p.set = [member](TObject& o, const OleVariant& v) { static_cast<C&>(o).*member = *v.AsDouble(); };
  return p;
}
template <class C>
TPropInfo FieldProperty(std::string name, std::string C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkString;
  p.get = [member](const TObject& o) {
    return OleVariant::AnsiString(static_cast<const C&>(o).*member);
  };
  p.set = [member](TObject& o, const OleVariant& v) { static_cast<C&>(o).*member = v.ToAnsi(); };
  return p;
}
template <class C>
TPropInfo FieldProperty(std::string name, bool C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkEnumeration;
  p.enum_names = BooleanNames();
  p.get = [member](const TObject& o) {
    return OleVariant(static_cast<int32_t>(static_cast<const C&>(o).*member ? 1 : 0));
  };
  p.set = [member](TObject& o, const OleVariant& v) {
    static_cast<C&>(o).*member = *v.AsInt64() != 0;
  };
  return p;
}
template <class C>
TPropInfo FieldProperty(std::string name, OleVariant C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkVariant;
  p.get = [member](const TObject& o) { return static_cast<const C&>(o).*member; };
  p.set = [member](TObject& o, const OleVariant& v) { static_cast<C&>(o).*member = v; };
  return p;
}

// FieldTable: one row per persisted field (name, member, default). One
// table drives defaults, field-by-field copying and the property table.
template <class C>
struct FieldSpec {
  const char* name;
  std::variant<int32_t C::*, double C::*, std::string C::*, bool C::*> member;
  std::variant<int32_t, double, const char*, bool> default_value;
};

template <class C, size_t N>
void ApplyFieldDefaults(C& object, const FieldSpec<C> (&table)[N]) {
  for (const FieldSpec<C>& f : table) {
    std::visit(
        [&](auto member) {
          using T = std::remove_reference_t<decltype(object.*member)>;
          if constexpr (std::is_same_v<T, std::string>)
            object.*member = std::get<const char*>(f.default_value);
          else
            object.*member = std::get<T>(f.default_value);
        },
        f.member);
  }
}

template <class C, size_t N>
void AssignFields(C& to, const C& from, const FieldSpec<C> (&table)[N]) {
  for (const FieldSpec<C>& f : table)
    std::visit([&](auto member) { to.*member = from.*member; }, f.member);
}

template <class C, size_t N>
std::vector<TPropInfo> FieldProperties(const FieldSpec<C> (&table)[N]) {
  std::vector<TPropInfo> props;
  for (const FieldSpec<C>& f : table)
    std::visit([&](auto member) { props.push_back(FieldProperty<C>(f.name, member)); }, f.member);
  return props;
}

}  // namespace tarvel
