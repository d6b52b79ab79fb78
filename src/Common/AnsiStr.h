// The host runtime's 8-bit string layout: a pointer to the first character
// (zero-terminated), the 32-bit length in the four bytes before it and a
// 32-bit reference count in the four bytes before that; the empty string is
// a null pointer.
//
// Strings the module allocates carry the constant reference count -1, so the
// host's runtime treats them as literals: it never frees or changes them.
// The module frees them itself with AnsiStrFree. Strings the host allocated
// are only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel {

// AnsiStrNew allocates a module-owned string; null for empty text.
char* AnsiStrNew(std::string_view text);
// AnsiStrFree frees a string from AnsiStrNew (null is fine).
void AnsiStrFree(char* s);

inline int32_t AnsiStrLen(const char* s) {
  return s ? reinterpret_cast<const int32_t*>(s)[-1] : 0;
}
inline int32_t AnsiStrRefCount(const char* s) {
  return s ? reinterpret_cast<const int32_t*>(s)[-2] : 0;
}
inline std::string_view AnsiStrView(const char* s) {
  int32_t n = AnsiStrLen(s);
  return n > 0 ? std::string_view(s, static_cast<size_t>(n)) : std::string_view();
}

}  // namespace tarvel
