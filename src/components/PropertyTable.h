// Internal to the settings controls: builders for property-table entries
// over a control's getter and setter member functions (FieldProperty in
// components/Components.h does the same over data members). Each builder
// returns a TPropInfo whose get/set cast the object to the class named and
// call the members; the kinds and limits are those a form designer shows.
// Used only while class descriptors are built; no state, any thread.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "components/Components.h"

namespace tarvel {

// ---- Property table helpers: getters and setters over member functions ----

template <class C>
const C& As(const TObject& o) {
  return static_cast<const C&>(o);
}
template <class C>
C& As(TObject& o) {
  return static_cast<C&>(o);
}

template <class C, class G, class S>
TPropInfo WideProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkWString;
  p.get = [get](const TObject& o) {
    const std::u16string text = (As<C>(o).*get)();
    return OleVariant(std::u16string_view(text));
  };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.ToWide()); };
  return p;
}

template <class C>
TPropInfo WideField(std::string name, std::u16string C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkWString;
  p.get = [member](const TObject& o) { return OleVariant(std::u16string_view(As<C>(o).*member)); };
  p.set = [member](TObject& o, const OleVariant& v) { As<C>(o).*member = v.ToWide(); };
  return p;
}

template <class C, class G, class S>
TPropInfo AnsiProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkString;
  p.get = [get](const TObject& o) { return OleVariant::AnsiString((As<C>(o).*get)()); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.ToAnsi()); };
  return p;
}

template <class C, class G, class S>
TPropInfo IntProp(std::string name, G get, S set, int64_t min = std::numeric_limits<int32_t>::min(),
                  int64_t max = std::numeric_limits<int32_t>::max()) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkInteger;
  p.min_value = min;
  p.max_value = max;
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) {
    using Arg = decltype((As<C>(o).*get)());
    (As<C>(o).*set)(static_cast<std::decay_t<Arg>>(v.AsInt64().value_or(0)));
  };
  return p;
}

template <class C, class G, class S>
TPropInfo DoubleProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkFloat;
  p.get = [get](const TObject& o) { return OleVariant((As<C>(o).*get)()); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.AsDouble().value_or(0)); };
  return p;
}

template <class C, class G, class S>
TPropInfo EnumProp(std::string name, std::vector<std::string> names, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkEnumeration;
  p.enum_names = std::move(names);
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) {
    using Arg = std::decay_t<decltype((As<C>(o).*get)())>;
    (As<C>(o).*set)(static_cast<Arg>(v.AsInt64().value_or(0)));
  };
  return p;
}

template <class C, class G, class S>
TPropInfo BoolProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkEnumeration;
  p.enum_names = BooleanNames();
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.AsInt64().value_or(0) != 0); };
  return p;
}

// ObjectProp: a read-only property holding an object the control owns.
template <class C, class T>
TPropInfo ObjectProp(std::string name, const TClassInfo& held, T& (C::*get)()) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkClass;
  p.held_class = &held;
  p.get_object = [get](const TObject& o) -> TObject* { return &(const_cast<C&>(As<C>(o)).*get)(); };
  return p;
}

}  // namespace tarvel
