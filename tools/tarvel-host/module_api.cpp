#include "module_api.h"

#include <filesystem>
#include <type_traits>

namespace tarvel::host {

bool HostedModule::Load(const std::string& path, std::string& error) {
  Unload();
  handle_ = platform::LoadModule(path);
  if (!handle_) {
    error = "cannot load module " + path + ": " + platform::LastLoadError();
    return false;
  }
  std::string missing;
  auto resolve = [&](auto& field, const char* name) {
    void* p = platform::ModuleProcedure(handle_, name);
    if (!p) missing += std::string(missing.empty() ? "" : ", ") + name;
    field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(p);
  };
  resolve(api_.GetPluginIntfVersion, "GetPluginIntfVersion");
  resolve(api_.GetAppMinVersion, "GetAppMinVersion");
  resolve(api_.GetModuleDescription, "GetModuleDescription");
  resolve(api_.GetModuleType, "GetModuleType");
  resolve(api_.GetCustomCommands, "GetCustomCommands");
  resolve(api_.GetLogEx, "GetLogEx");
  resolve(api_.ShowOptionsDialog, "ShowOptionsDialog");
  resolve(api_.ExecutePluginCommand, "ExecutePluginCommand");
  resolve(api_.GetData, "GetData");
  resolve(api_.GetEvents, "GetEvents");
  resolve(api_.ProcessData, "ProcessData");
  resolve(api_.MultiThreadSupport, "MultiThreadSupport");
  if (!missing.empty()) {
    error = "module " + path + " lacks the export(s) " + missing;
    Unload();
    return false;
  }
  return true;
}

void HostedModule::Unload() {
  if (handle_) platform::UnloadModule(handle_);
  handle_ = 0;
  api_ = ModuleApi{};
}

std::string DefaultModulePath() {
  std::filesystem::path dir = std::filesystem::path(platform::OwnModulePath()).parent_path();
#ifdef _WIN32
  return (dir / "tarvel.dll").string();
#else
  return (dir / "libtarvel.so").string();
#endif
}

}  // namespace tarvel::host
