// The parameters of the host context the commands carry: TEMPORARY-LOAD,
// INI-FILE, the owner window and LANGUAGE. What they change is the host
// context's (Plugins/HostContext.h).
//
// Threads: called from commands, which run one at a time per instance
// under its command lock, and by the options dialog under HoldCommands;
// what writes a guarded field takes the (re-entrant) command lock itself,
// so that a caller the analysis cannot follow is covered too.
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

bool TvopPlugin::ReadTemporaryLoad(const TvopParamsList* params) {
  try {
    if (!params) return false;
    OleVariant v = params->GetParamValue("TEMPORARY-LOAD");
    if (!Present(v)) return false;
    auto b = v.AsBool();
    if (!b) return false;
    RecursiveMutexLock hold(host_.CommandLock());
    host_.SetTemporaryLoad(*b);
    return true;
  } catch (...) {
    return false;
  }
}

std::string TvopPlugin::ReadIniFileParam(const TvopParamsList* params, bool store) {
  std::string file = TextParam(params, "INI-FILE");
  if (store && params) {
    RecursiveMutexLock hold(host_.CommandLock());
    host_.SetIniFile(file);
  }
  return file;
}

void TvopPlugin::ApplyLanguageParam(const TvopParamsList* params) {
  if (!params) return;
  OleVariant v = params->GetParamValue("LANGUAGE");
  if (!Present(v)) return;
  ChangeLanguage(v.ToAnsi());
}

std::optional<platform::WindowHandle> TvopPlugin::ReadOwnerWindow(const TvopParamsList* params) {
  if (!params) return std::nullopt;
  OleVariant owner = params->GetParamValue("OWNERFORM");
  if (!Present(owner)) return std::nullopt;
  return HandleParam(owner, "OWNERFORM");
}

void TvopPlugin::TakeOwnerWindow(const TvopParamsList* params) {
  if (std::optional<platform::WindowHandle> owner = ReadOwnerWindow(params))
    host_.SetOwnerWindow(*owner);
}

}  // namespace tarvel
