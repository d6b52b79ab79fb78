// Every VARIANT type a host may hand over, one case each, for the tests of
// hostile input (tests/host) and of foreign handles (tests/faults).
#pragma once

#include <cstdint>
#include <string>

#include "Common/OleVariant.h"
#include "platform/variant.h"

namespace tarvel::test {

using platform::Variant;
using platform::VT_ANSISTRING;
using platform::VT_BSTR;
using platform::VT_BYREF;

inline constexpr uint16_t kVtDispatch = 9, kVtVariant = 12, kVtUnknown = 13, kVtDecimal = 14,
                          kVtRecord = 36, kVtArray = 0x2000;
// An address the module must never follow.
inline constexpr uintptr_t kForeign = 0x1234;

struct VariantCase {
  const char* name;
  Variant (*make)(int n);
  // kOdd: a value the module carries but that converts to nothing (an
  // error code); kForeign: one it never follows, which reads as absent.
  enum Kind { kNumber, kText, kBool, kEmpty, kNull, kOdd, kForeign } kind;
};

inline Variant Raw(uint16_t vt, uint64_t bits = 0) {
  Variant v{};
  v.vt = vt;
  v.ullVal = bits;
  return v;
}

inline const VariantCase kVariants[] = {
    {"VT_EMPTY", [](int) { return Raw(platform::VT_EMPTY); }, VariantCase::kEmpty},
    {"VT_NULL", [](int) { return Raw(platform::VT_NULL); }, VariantCase::kNull},
    {"VT_I2",
     [](int n) {
       Variant v = Raw(platform::VT_I2);
       v.iVal = static_cast<int16_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_I4",
     [](int n) {
       Variant v = Raw(platform::VT_I4);
       v.lVal = n;
       return v;
     },
     VariantCase::kNumber},
    {"VT_R4",
     [](int n) {
       Variant v = Raw(platform::VT_R4);
       v.fltVal = static_cast<float>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_R8",
     [](int n) {
       Variant v = Raw(platform::VT_R8);
       v.dblVal = n;
       return v;
     },
     VariantCase::kNumber},
    {"VT_CY",
     [](int n) {
       Variant v = Raw(platform::VT_CY);
       v.llVal = int64_t{n} * 10000;
       return v;
     },
     VariantCase::kNumber},
    {"VT_DATE",
     [](int n) {
       Variant v = Raw(platform::VT_DATE);
       v.dblVal = n;
       return v;
     },
     VariantCase::kNumber},
    {"VT_BSTR", [](int n) { return OleVariant("text" + std::to_string(n)).Detach(); },
     VariantCase::kText},
    {"VT_BSTR null", [](int) { return Raw(VT_BSTR); }, VariantCase::kText},
    {"VT_DISPATCH", [](int) { return Raw(kVtDispatch, kForeign); }, VariantCase::kForeign},
    {"VT_ERROR",
     [](int n) {
       Variant v = Raw(platform::VT_ERROR);
       v.lVal = n;
       return v;
     },
     VariantCase::kOdd},
    {"VT_BOOL",
     [](int) {
       Variant v = Raw(platform::VT_BOOL);
       v.boolVal = -1;
       return v;
     },
     VariantCase::kBool},
    {"VT_VARIANT", [](int) { return Raw(kVtVariant, kForeign); }, VariantCase::kForeign},
    {"VT_UNKNOWN", [](int) { return Raw(kVtUnknown, kForeign); }, VariantCase::kForeign},
    {"VT_DECIMAL", [](int n) { return Raw(kVtDecimal, static_cast<uint64_t>(n)); },
     VariantCase::kForeign},
    {"VT_I1",
     [](int n) {
       Variant v = Raw(platform::VT_I1);
       v.bVal = static_cast<uint8_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_UI1",
     [](int n) {
       Variant v = Raw(platform::VT_UI1);
       v.bVal = static_cast<uint8_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_UI2",
     [](int n) {
       Variant v = Raw(platform::VT_UI2);
       v.iVal = static_cast<int16_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_UI4",
     [](int n) {
       Variant v = Raw(platform::VT_UI4);
       v.ulVal = static_cast<uint32_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_I8",
     [](int n) {
       Variant v = Raw(platform::VT_I8);
       v.llVal = n;
       return v;
     },
     VariantCase::kNumber},
    {"VT_UI8",
     [](int n) {
       Variant v = Raw(platform::VT_UI8);
       v.ullVal = static_cast<uint64_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_INT",
     [](int n) {
       Variant v = Raw(platform::VT_INT);
       v.lVal = n;
       return v;
     },
     VariantCase::kNumber},
    {"VT_UINT",
     [](int n) {
       Variant v = Raw(platform::VT_UINT);
       v.ulVal = static_cast<uint32_t>(n);
       return v;
     },
     VariantCase::kNumber},
    {"VT_RECORD", [](int) { return Raw(kVtRecord, kForeign); }, VariantCase::kForeign},
    {"8-bit string",
     [](int n) { return OleVariant::AnsiString("ansi" + std::to_string(n)).Detach(); },
     VariantCase::kText},
    {"8-bit string null", [](int) { return Raw(VT_ANSISTRING); }, VariantCase::kText},
    {"VT_ARRAY|VT_I4", [](int) { return Raw(kVtArray | platform::VT_I4, kForeign); },
     VariantCase::kForeign},
    {"VT_BYREF|VT_I4", [](int) { return Raw(VT_BYREF | platform::VT_I4, kForeign); },
     VariantCase::kForeign},
    {"VT_BYREF|VT_BSTR", [](int) { return Raw(VT_BYREF | VT_BSTR, kForeign); },
     VariantCase::kForeign},
    {"VT_BYREF|VT_VARIANT", [](int) { return Raw(VT_BYREF | kVtVariant, kForeign); },
     VariantCase::kForeign},
    {"no such type", [](int) { return Raw(0x7FFF, kForeign); }, VariantCase::kForeign},
};

}  // namespace tarvel::test
