// The host settings context: the property map run at the place the host
// named for this instance.
//
// Threads: any; each run holds the instance's command lock.
#include "Plugins/vopPluginModule.h"

namespace tarvel {

namespace {
constexpr std::string_view kShortMarker = ";---short---";
}

bool TvopPlugin::RunPropertyMap(const std::string& map_lines, TComponent* target,
                                const std::string& ini_override, bool saving) {
  if (map_lines.empty()) return false;
  // The settings place is what commands change; the options dialog runs
  // outside any command.
  std::lock_guard<std::recursive_mutex> hold(command_lock_);
  const std::string& ini = ini_override.empty() ? ini_file_ : ini_override;
  // Without a file and without a key the settings have no place: writing
  // them would scatter values over the registry root itself.
  if (ini.empty() && registry_path_.empty()) return false;
  TWreg reg;  // one engine per operation, freed also when an exception passes
  reg.RegistryRoot = registry_root_;
  reg.SecondRegistryRoot = second_registry_root_;
  reg.RegistryPath = registry_path_;
  reg.INIFileSectionPrefix = ini_section_prefix_;
  reg.OnSetValue = OnSetPropertyValue;
  reg.OnGetValue = OnGetPropertyValue;
  reg.OnBeforeProcessItem = OnBeforeProcessSettingsItem;
  reg.INIFile = ini;
  reg.Components.SetText(map_lines);
  return saving ? reg.SaveProperties(target) : reg.LoadProperties(target);
}

bool TvopPlugin::LoadSettings(const std::string& map_lines, TComponent* target,
                              const std::string& ini_override) {
  return RunPropertyMap(map_lines, target, ini_override, false);
}

bool TvopPlugin::SaveSettings(const std::string& map_lines, TComponent* target,
                              const std::string& ini_override) {
  return RunPropertyMap(map_lines, target, ini_override, true);
}

bool TvopPlugin::SaveSettingsShort(const std::string& map_lines, TComponent* target,
                                   const std::string& ini_override) {
  const size_t at = map_lines.find(kShortMarker);
  const std::string head =
      at == std::string::npos ? map_lines : map_lines.substr(0, at + kShortMarker.size());
  return SaveSettings(head, target, ini_override);
}

}  // namespace tarvel
