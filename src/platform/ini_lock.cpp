#include "platform/ini_lock.h"

#include <cstdint>

namespace tarvel::platform {

std::string IniLockName(std::string_view ini_file) {
  std::string name(ini_file);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

std::string BoundedLockName(const std::string& name) {
  constexpr size_t kMax = 200;
  if (name.size() <= kMax) return name;
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string tail;
  for (int i = 15; i >= 0; --i) tail += kHex[(h >> (4 * i)) & 15];
  return name.substr(0, kMax - 17) + "_" + tail;
}

}  // namespace tarvel::platform
