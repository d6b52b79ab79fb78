// OleVariant: an owning C++ wrapper around the OLE VARIANT layout
// (platform::Variant). It handles the host runtime's 8-bit string variant
// (VT_ANSISTRING) too: copies of it hold a module-owned AnsiStr.
//
// Text conversions use the system ANSI code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace tarvel {

using platform::Variant;

class OleVariant {
 public:
  OleVariant() { platform::VariantInit(&v_); }
  OleVariant(int32_t value);          // VT_I4
  OleVariant(double value);           // VT_R8
  OleVariant(bool value);             // VT_BOOL
  OleVariant(std::string_view text);  // VT_BSTR from ANSI text
  OleVariant(const char* text) : OleVariant(std::string_view(text)) {}
  OleVariant(const std::string& text) : OleVariant(std::string_view(text)) {}
  OleVariant(std::u16string_view text);  // VT_BSTR

  static OleVariant Null();
  // AnsiString makes the 8-bit string variant (VT_ANSISTRING) the host runtime uses.
  static OleVariant AnsiString(std::string_view text);
  // CopyOf makes a deep copy of any variant, also one the host owns.
  static OleVariant CopyOf(const Variant& raw);

  OleVariant(const OleVariant& other) : OleVariant() { CopyInto(&v_, other.v_); }
  OleVariant(OleVariant&& other) noexcept : v_(other.v_) { platform::VariantInit(&other.v_); }
  OleVariant& operator=(const OleVariant& other);
  OleVariant& operator=(OleVariant&& other) noexcept;
  ~OleVariant() { ClearRaw(&v_); }

  uint16_t Type() const { return v_.vt; }
  bool IsEmpty() const { return v_.vt == platform::VT_EMPTY; }
  bool IsNull() const { return v_.vt == platform::VT_NULL; }
  bool IsText() const { return v_.vt == platform::VT_BSTR || v_.vt == platform::VT_ANSISTRING; }
  bool IsNumeric() const;

  const Variant& Raw() const { return v_; }
  // Detach hands the raw variant to the caller, who then owns what it holds.
  Variant Detach();

  // ToAnsi converts to text as the host runtime does: empty and null give
  // "", numbers their decimal form, dates their date and time in the
  // formats in force (platform::DateTimeText), booleans "True"/"False".
  std::string ToAnsi() const;
  std::u16string ToWide() const;
  // AsDouble / AsInt64 give the number a numeric variant holds, or the number
  // a text variant spells (after trimming); nullopt otherwise.
  std::optional<double> AsDouble() const;
  std::optional<int64_t> AsInt64() const;
  std::optional<bool> AsBool() const;

  // CopyInto deep-copies src into dst (clearing dst first), converting nothing.
  static void CopyInto(Variant* dst, const Variant& src);
  // ClearRaw frees what a module-owned raw variant holds and empties it.
  static void ClearRaw(Variant* v);

 private:
  Variant v_;
};

// FormatFloat renders a double as the host runtime's FloatToStr does: up to
// 15 significant digits, the locale's decimal separator.
std::string FormatFloat(double value, char decimal_separator = '.');

// ParseNumber reads a decimal number; both '.' and ',' are accepted as the
// decimal separator. Leading and trailing spaces are ignored.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace tarvel
