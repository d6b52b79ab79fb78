// The host settings context: the property map run at the place the host
// named for this instance, or, where it named none, over settings the
// instance keeps in memory.
//
// Threads: any; each run holds the instance's command lock.
#include "Plugins/vopPluginModule.h"
#include "platform/registry.h"

namespace tarvel {

namespace {
constexpr std::string_view kShortMarker = ";---short---";
}

bool TvopPlugin::RunPropertyMap(const std::string& map_lines, TComponent* target,
                                const std::string& ini_override, bool saving, bool report_no_place,
                                std::string* problem) {
  if (map_lines.empty()) return false;
  bool result = false;
  bool unplaced = false;
  std::string write_back_error;
  {
    // The settings place is what commands change; the options dialog runs
    // outside any command.
    RecursiveMutexLock hold(host_.CommandLock());
    const std::string& ini = ini_override.empty() ? host_.IniFile() : ini_override;
    TWreg reg;  // one engine per operation, freed also when an exception passes
    // Without a file and without a key the settings have no place: writing
    // them would scatter values over the registry root itself. They are
    // kept in memory instead, so that what the user confirmed is what the
    // instance runs with until it goes.
    unplaced = ini.empty() && host_.RegistryPath().empty();
    if (unplaced) reg.MemoryIni = host_.UnplacedSettings();
    reg.RegistryRoot = host_.RegistryRoot();
    reg.SecondRegistryRoot = host_.SecondRegistryRoot();
    reg.RegistryPath = host_.RegistryPath();
    reg.INIFileSectionPrefix = host_.INISectionPrefix();
    reg.OnSetValue = OnSetPropertyValue;
    reg.OnGetValue = OnGetPropertyValue;
    reg.OnBeforeProcessItem = OnBeforeProcessSettingsItem;
    reg.INIFile = ini;
    reg.Components.SetText(map_lines);
    if (saving) {
      result = reg.SaveProperties(target);
    } else if (!problem) {
      result = reg.LoadProperties(target);
    } else {
      try {
        result = reg.LoadProperties(target);
      } catch (const std::exception& e) {
        *problem = e.what();
      } catch (...) {
        *problem = "an unknown error";
      }
      if (!result && problem->empty() && !unplaced) *problem = UnopenedSettingsKey();
    }
    write_back_error = reg.WriteBackError;
  }
  // The operation answers as done (the file keeps its old content), but the
  // user learns that the settings did not reach the file. Sent after the
  // command lock is let go: the host may take a while to answer.
  if (!write_back_error.empty()) SendLog(1, "Settings not saved: " + write_back_error);
  if (unplaced && saving && report_no_place)
    SendLog(1,
            "Settings not saved: the host named no place for them (neither an INI file nor a "
            "registry key); they hold until the module is unloaded");
  return result;
}

std::string TvopPlugin::UnopenedSettingsKey() {
  // Nothing could be opened to load from: settings that are not there yet
  // (a first start) are no problem, a key that is there and could not be
  // opened with full access is.
  std::string path = host_.RegistryPath();
  while (!path.empty() && path.front() == '\\') path.erase(0, 1);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) return {};
  for (TRegistryRoot root : {host_.RegistryRoot(), host_.SecondRegistryRoot()}) {
    const std::optional<platform::RegistryRootKey> key = RegistryRootKeyOf(root);
    if (key && platform::RegistryKeyExists(*key, path))
      return std::string("the registry key ") + platform::RegistryRootName(*key) + "\\" + path +
             " cannot be opened";
  }
  return {};
}

bool TvopPlugin::LoadSettings(const std::string& map_lines, TComponent* target,
                              const std::string& ini_override, std::string* problem) {
  return RunPropertyMap(map_lines, target, ini_override, false, false, problem);
}

bool TvopPlugin::SaveSettings(const std::string& map_lines, TComponent* target,
                              const std::string& ini_override) {
  return RunPropertyMap(map_lines, target, ini_override, true, true);
}

bool TvopPlugin::SaveSettingsShort(const std::string& map_lines, TComponent* target,
                                   const std::string& ini_override) {
  const size_t at = map_lines.find(kShortMarker);
  const std::string head =
      at == std::string::npos ? map_lines : map_lines.substr(0, at + kShortMarker.size());
  // Only the dialog's place: not worth a line in the host's log when it
  // cannot be stored.
  return RunPropertyMap(head, target, ini_override, true, false);
}

}  // namespace tarvel
