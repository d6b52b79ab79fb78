#include "Common/Text.h"

#include <cstdint>

namespace tarvel {

std::u16string EscapeControls(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 32) {
      out += u'%';
      out += static_cast<char16_t>(UpperHexDigit(c >> 4));
      out += static_cast<char16_t>(UpperHexDigit(c & 15));
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view bytes) {
  constexpr char16_t kReplacement = 0xFFFD;
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    const size_t len = c >= 0xF0 && c <= 0xF4  ? 4
                       : c >= 0xE0 && c < 0xF0 ? 3
                       : c >= 0xC2 && c < 0xE0 ? 2
                                               : 0;
    uint32_t cp = len == 4 ? c & 0x07u : len == 3 ? c & 0x0Fu : c & 0x1Fu;
    bool ok = len != 0 && i + len <= bytes.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
               (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

}  // namespace tarvel
