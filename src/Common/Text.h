// Text: small helpers on 8-bit and UTF-16 text that several parts of the
// module need alike: trimming the codes 0..32 from both ends, decoding
// UTF-8, escaping controls, and hexadecimal digits both ways.
//
// Depends on the standard library only, so every layer may use it, the
// platform layer included. Every function is pure and thread-safe.
//
// Example:
//   TrimControls("\t name \r\n")   // "name"
//   Utf8ToWide("\xC3\xA4")         // u"\u00E4"
//   UpperHexDigit(11)              // 'B'
//   HexDigitValue(u'b')            // 11
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// TrimControls drops every code 0..32 (the controls and the space) from
// both ends.
template <typename Char>
std::basic_string_view<Char> TrimControls(std::basic_string_view<Char> s) {
  auto control = [](Char c) { return static_cast<std::make_unsigned_t<Char>>(c) <= 32; };
  while (!s.empty() && control(s.front())) s.remove_prefix(1);
  while (!s.empty() && control(s.back())) s.remove_suffix(1);
  return s;
}
inline std::string_view TrimControls(std::string_view s) {
  return TrimControls<char>(s);
}
inline std::u16string_view TrimControls(std::u16string_view s) {
  return TrimControls<char16_t>(s);
}

// EscapeControls writes every character below 32 as "%" and two upper-case
// hexadecimal digits: the form in which a file holds a text of several
// lines ("a%0D%0Ab").
std::u16string EscapeControls(std::u16string_view text);

// Utf8ToWide decodes UTF-8 to UTF-16. Each byte that does not start or
// continue a valid sequence (overlong forms, surrogates and values past
// U+10FFFF included) becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view bytes);

// UpperHexDigit: the digit '0'..'9', 'A'..'F' that writes value (0..15).
inline char UpperHexDigit(unsigned value) {
  return "0123456789ABCDEF"[value & 15];
}

// HexDigitValue: the value 0..15 of a hexadecimal digit of either case;
// -1 for any other character.
inline int HexDigitValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

}  // namespace tarvel
