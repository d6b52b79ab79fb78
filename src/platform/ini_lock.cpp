#include "platform/ini_lock.h"

namespace tarvel::platform {

std::string IniLockName(std::string_view ini_file) {
  std::string name(ini_file);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

}  // namespace tarvel::platform
