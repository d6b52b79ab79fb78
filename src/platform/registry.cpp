#include "platform/registry.h"

namespace tarvel::platform {

const char* RegistryRootName(RegistryRootKey root) {
  switch (root) {
    case RegistryRootKey::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRootKey::kCurrentUser:
      return "HKEY_CURRENT_USER";
    case RegistryRootKey::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRootKey::kUsers:
      return "HKEY_USERS";
    case RegistryRootKey::kCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
  }
  return "HKEY_UNKNOWN";
}

}  // namespace tarvel::platform
