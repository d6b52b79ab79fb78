// The host context's work under the command lock, and the host icon shared
// by every instance of the process.
#include "Plugins/HostContext.h"

#include "Plugins/vopPluginInternal.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

// The shared host icon: loaded by the first instance that holds it,
// destroyed by the last.
Mutex g_icon_mutex;
int g_icon_refs TARVEL_GUARDED_BY(g_icon_mutex) = 0;
platform::IconHandle g_host_icon TARVEL_GUARDED_BY(g_icon_mutex) = 0;

}  // namespace

void HostContext::Load(uint32_t tag, const TvopParamsList* params,
                       std::optional<platform::ModuleHandle> handle) {
  tag_ = tag;
  registry_path_ = TextParam(params, "RegistryPath");
  ini_section_prefix_ = TextParam(params, "INISectionPrefix");
  if (handle) module_ = *handle;
  application_name_ = TextParam(params, "ApplicationName");
  if (!module_ && !application_name_.empty())
    module_ = platform::LoadedModuleHandle(application_name_);
}

void HostContext::BindModule() {
  send_data_proc_ = send_string_proc_ = send_byte_proc_ = nullptr;
  if (!module_) return;
  {
    MutexLock lock(g_icon_mutex);
    if (!holds_icon_) {
      holds_icon_ = true;
      if (g_icon_refs++ == 0) {
        try {
          g_host_icon = platform::LoadIconResource(module_, "MAINICON");
        } catch (...) {
          g_host_icon = 0;
        }
      }
    }
  }
  send_data_proc_ = platform::ModuleProcedure(module_, "fSendData");
  send_string_proc_ = platform::ModuleProcedure(module_, "fSendString");
  send_byte_proc_ = platform::ModuleProcedure(module_, "fSendByte");
}

void HostContext::ReleaseIcon() {
  MutexLock lock(g_icon_mutex);
  if (!holds_icon_) return;
  holds_icon_ = false;
  if (--g_icon_refs == 0) {
    try {
      platform::DestroyIconHandle(g_host_icon);
    } catch (...) {
    }
    g_host_icon = 0;
  }
}

void HostContext::Unload() {
  module_ = 0;
  window_ = 0;
}

TBigIniFile* HostContext::UnplacedSettings() {
  if (!unplaced_settings_) unplaced_settings_ = std::make_unique<TBigIniFile>("");
  return unplaced_settings_.get();
}

}  // namespace tarvel
