// The host context the commands carry: TEMPORARY-LOAD, INI-FILE, the
// owner window, LANGUAGE, and the host's application icon shared by every
// instance of the process.
//
// Threads: called from commands, which run one at a time per instance
// under its command lock; the shared icon is guarded by its own mutex.
#include <mutex>

#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

// The shared host icon.
std::mutex g_icon_mutex;
int g_icon_refs = 0;                   // guarded by g_icon_mutex
platform::IconHandle g_host_icon = 0;  // guarded by g_icon_mutex

}  // namespace

bool TvopPlugin::ReadTemporaryLoad(const TvopParamsList* params) {
  try {
    if (!params) return false;
    OleVariant v = params->GetParamValue("TEMPORARY-LOAD");
    if (!Present(v)) return false;
    auto b = v.AsBool();
    if (!b) return false;
    temporary_load_ = *b;
    return true;
  } catch (...) {
    return false;
  }
}

std::string TvopPlugin::ReadIniFileParam(const TvopParamsList* params, bool store) {
  std::string file = TextParam(params, "INI-FILE");
  if (store && params) ini_file_ = file;
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
  if (std::optional<platform::WindowHandle> owner = ReadOwnerWindow(params)) owner_window_ = *owner;
}

void TvopPlugin::TakeHostIcon() {
  std::lock_guard<std::mutex> lock(g_icon_mutex);
  if (holds_host_icon_) return;
  holds_host_icon_ = true;
  if (g_icon_refs++ == 0) {
    try {
      g_host_icon = platform::LoadIconResource(host_module_, "MAINICON");
    } catch (...) {
      g_host_icon = 0;
    }
  }
}

void TvopPlugin::ReleaseHostIcon() {
  std::lock_guard<std::mutex> lock(g_icon_mutex);
  if (!holds_host_icon_) return;
  holds_host_icon_ = false;
  if (--g_icon_refs == 0) {
    try {
      platform::DestroyIconHandle(g_host_icon);
    } catch (...) {
    }
    g_host_icon = 0;
  }
}

}  // namespace tarvel
