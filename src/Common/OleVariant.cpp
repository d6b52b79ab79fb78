#include "Common/OleVariant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "Common/AnsiStr.h"
#include "platform/text.h"

namespace tarvel {

using namespace platform;

namespace {
Bstr NewBstr(std::u16string_view w) {
  if (w.empty()) return nullptr;
  Bstr b = SysAllocStringLen(w.data(), static_cast<uint32_t>(w.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}
}  // namespace

OleVariant::OleVariant(int32_t value) : OleVariant() {
  v_.vt = VT_I4;
  v_.lVal = value;
}

OleVariant::OleVariant(double value) : OleVariant() {
  v_.vt = VT_R8;
  v_.dblVal = value;
}

OleVariant::OleVariant(bool value) : OleVariant() {
  v_.vt = VT_BOOL;
  v_.boolVal = value ? kVariantTrue : kVariantFalse;
}

OleVariant::OleVariant(std::string_view text) : OleVariant() {
  v_.bstrVal = NewBstr(AnsiToWide(text));
  v_.vt = VT_BSTR;
}

OleVariant::OleVariant(std::u16string_view text) : OleVariant() {
  v_.bstrVal = NewBstr(text);
  v_.vt = VT_BSTR;
}

OleVariant OleVariant::Null() {
  OleVariant v;
  v.v_.vt = VT_NULL;
  return v;
}

OleVariant OleVariant::AnsiString(std::string_view text) {
  OleVariant v;
  v.v_.byref = AnsiStrNew(text);
  v.v_.vt = VT_ANSISTRING;
  return v;
}

OleVariant OleVariant::CopyOf(const Variant& raw) {
  OleVariant v;
  CopyInto(&v.v_, raw);
  return v;
}

OleVariant& OleVariant::operator=(const OleVariant& other) {
  if (this != &other) {
    Variant copy;
    VariantInit(&copy);
    CopyInto(&copy, other.v_);
    ClearRaw(&v_);
    v_ = copy;
  }
  return *this;
}

OleVariant& OleVariant::operator=(OleVariant&& other) noexcept {
  if (this != &other) {
    ClearRaw(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

Variant OleVariant::Detach() {
  Variant out = v_;
  VariantInit(&v_);
  return out;
}

void OleVariant::CopyInto(Variant* dst, const Variant& src) {
  if (dst == &src) return;
  ClearRaw(dst);
  if (src.vt == VT_ANSISTRING) {
    dst->byref = AnsiStrNew(AnsiStrView(static_cast<const char*>(src.byref)));
    dst->vt = VT_ANSISTRING;
    return;
  }
  if (!VariantCopy(dst, &src)) {
    // A type the module does not carry (interfaces, arrays, by-reference
    // values): keep the slot empty rather than alias foreign memory.
    VariantInit(dst);
  }
}

void OleVariant::ClearRaw(Variant* v) {
  if (v->vt == VT_ANSISTRING) {
    AnsiStrFree(static_cast<char*>(v->byref));
    VariantInit(v);
    return;
  }
  if (!VariantClear(v)) VariantInit(v);
}

bool OleVariant::IsNumeric() const {
  switch (v_.vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_CY:
    case VT_DATE:
      return true;
    default:
      return false;
  }
}

std::optional<double> OleVariant::AsDouble() const {
  switch (v_.vt) {
    case VT_I2:
      return v_.iVal;
    case VT_I4:
    case VT_INT:
      return v_.lVal;
    case VT_R4:
      return v_.fltVal;
    case VT_R8:
    case VT_DATE:
      return v_.dblVal;
    case VT_I1:
      return static_cast<int8_t>(v_.bVal);
    case VT_UI1:
      return v_.bVal;
    case VT_UI2:
      return static_cast<uint16_t>(v_.iVal);
    case VT_UI4:
    case VT_UINT:
      return v_.ulVal;
    case VT_I8:
      return static_cast<double>(v_.llVal);
    case VT_UI8:
      return static_cast<double>(v_.ullVal);
    case VT_CY:
      return static_cast<double>(v_.llVal) / 10000.0;
    case VT_BOOL:
      return v_.boolVal ? -1.0 : 0.0;
    case VT_BSTR:
    case VT_ANSISTRING:
      return ParseNumber(ToAnsi());
    default:
      return std::nullopt;
  }
}

std::optional<int64_t> OleVariant::AsInt64() const {
  switch (v_.vt) {
    case VT_I8:
      return v_.llVal;
    case VT_UI8:
      return static_cast<int64_t>(v_.ullVal);
    default:
      break;
  }
  auto d = AsDouble();
  if (!d || !std::isfinite(*d) || *d >= 9.2e18 || *d <= -9.2e18) return std::nullopt;
  return static_cast<int64_t>(*d);
}

std::optional<bool> OleVariant::AsBool() const {
  if (v_.vt == VT_BOOL) return v_.boolVal != 0;
  if (IsText()) {
    std::string t = AnsiLowerCase(Trim(ToAnsi()));
    if (t == "true") return true;
    if (t == "false") return false;
  }
  auto d = AsDouble();
  if (d) return *d != 0;
  return std::nullopt;
}

std::string OleVariant::ToAnsi() const {
  switch (v_.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BSTR:
      return WideToAnsi(
          std::u16string_view(v_.bstrVal ? v_.bstrVal : u"", SysStringLen(v_.bstrVal)));
    case VT_ANSISTRING:
      return std::string(AnsiStrView(static_cast<const char*>(v_.byref)));
    case VT_BOOL:
      return v_.boolVal ? "True" : "False";
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
      auto i = AsInt64();
      if (v_.vt == VT_UI8) return std::to_string(v_.ullVal);
      return std::to_string(i.value_or(0));
    }
    case VT_R4:
    case VT_R8:
    case VT_CY:
      return FormatFloat(*AsDouble(), DecimalSeparator());
    case VT_DATE:
      return DateTimeText(v_.dblVal);
    default:
      return {};
  }
}

std::u16string OleVariant::ToWide() const {
  if (v_.vt == VT_BSTR)
    return std::u16string(v_.bstrVal ? v_.bstrVal : u"", SysStringLen(v_.bstrVal));
  return AnsiToWide(ToAnsi());
}

std::string FormatFloat(double value, char decimal_separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s = buf;
  // "1E+20" -> "1E20", "1E-05" -> "1E-5", as the host runtime writes them.
  auto e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  for (char& c : s)
    if (c == '.') c = decimal_separator;
  return s;
}

std::optional<double> ParseNumber(std::string_view text) {
  std::string t(Trim(text));
  if (t.empty() || t.size() > 64) return std::nullopt;
  for (char& c : t)
    if (c == ',') c = '.';
  // Only plain decimal forms; strtod would also take hex, "inf" and "nan".
  for (char c : t) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return std::nullopt;
  }
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return std::nullopt;
  return d;
}

}  // namespace tarvel
