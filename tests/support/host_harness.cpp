#include "support/host_harness.h"

#include "support/test_support.h"

namespace tarvel::test {

LoadedModule::LoadedModule(const std::string& path) {
  handle_ = platform::LoadModule(path);
  if (!handle_) {
    error_ = "cannot load " + path + ": " + platform::LastLoadError();
    return;
  }
  ok_ = true;
  auto resolve = [&](auto& field, const char* name) {
    void* p = platform::ModuleProcedure(handle_, name);
    if (!p) {
      ok_ = false;
      error_ += std::string("missing export ") + name + "; ";
    }
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
}

LoadedModule::~LoadedModule() {
  Unload();
}

void LoadedModule::Unload() {
  if (handle_) platform::UnloadModule(handle_);
  handle_ = 0;
  api_ = ModuleExports{};
  ok_ = false;
}

std::string ProductModulePath() {
  return ModuleBesideTests("tarvel");
}
std::string ProbeModulePath() {
  return ModuleBesideTests("tarvel_probe");
}

HostCall::HostCall(uint32_t instance_id, std::string_view command) : params(NewParamsList()) {
  rec.Marker = kCallRecMarker;
  rec.InstanceId = instance_id;
  rec.Params = params.get();
  if (!command.empty()) Param("COMMAND", OleVariant(command));
}

HostCall& HostCall::Param(std::string_view name, const OleVariant& value) {
  params->SetParamValue(name, value, true);
  return *this;
}

std::string HostCall::Result() const {
  return params->GetParamValue("RESULT").ToAnsi();
}

}  // namespace tarvel::test
