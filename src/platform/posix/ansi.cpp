// Windows-1252 stands in for the system ANSI code page on POSIX.
#include <array>

#include "platform/text.h"

namespace tarvel::platform {
namespace {

// Unicode of the bytes 0x80..0x9F; the five unassigned bytes map to the C1
// control of the same number, as Windows does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

unsigned char Lower1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A:
      return 0x9A;
    case 0x8C:
      return 0x9C;
    case 0x8E:
      return 0x9E;
    case 0x9F:
      return 0xFF;
    default:
      return c;
  }
}

unsigned char Upper1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A:
      return 0x8A;
    case 0x9C:
      return 0x8C;
    case 0x9E:
      return 0x8E;
    case 0xFF:
      return 0x9F;
    default:
      return c;
  }
}

}  // namespace

std::string AnsiLowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(Lower1252(static_cast<unsigned char>(c)));
  return out;
}

std::string AnsiUpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(Upper1252(static_cast<unsigned char>(c)));
  return out;
}

std::u16string AnsiToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    out += (c >= 0x80 && c <= 0x9F) ? kHigh[c - 0x80] : static_cast<char16_t>(c);
  }
  return out;
}

std::string WideToAnsi(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t w : s) {
    if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) {
      out += static_cast<char>(w);
      continue;
    }
    char mapped = '?';
    for (size_t i = 0; i < kHigh.size(); ++i) {
      if (kHigh[i] == w) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

}  // namespace tarvel::platform
