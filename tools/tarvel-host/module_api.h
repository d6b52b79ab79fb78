// The stand-in host's view of a module: loaded by path, with its twelve
// exports resolved by name as the real host does. On 32-bit Windows the
// exports are stdcall.
#pragma once

#include <cstdint>
#include <string>

#include "Plugins/vopPluginTypes.h"
#include "platform/module.h"

#ifdef _WIN32
#define TARVEL_HOST_STDCALL __stdcall
#else
#define TARVEL_HOST_STDCALL
#endif

namespace tarvel::host {

struct ModuleApi {
  int32_t(TARVEL_HOST_STDCALL* GetPluginIntfVersion)() = nullptr;
  float(TARVEL_HOST_STDCALL* GetAppMinVersion)(PPluginCallRec) = nullptr;
  const char*(TARVEL_HOST_STDCALL* GetModuleDescription)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* GetModuleType)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* GetCustomCommands)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* GetLogEx)(PPluginCallRec) = nullptr;
  void(TARVEL_HOST_STDCALL* ShowOptionsDialog)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* ExecutePluginCommand)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* GetData)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* GetEvents)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_HOST_STDCALL* ProcessData)(PPluginCallRec) = nullptr;
  bool(TARVEL_HOST_STDCALL* MultiThreadSupport)(PPluginCallRec) = nullptr;
};

// HostedModule owns a loaded module. Load fails, with a message saying why
// (the loader's reason, or every missing export), when the file cannot be
// loaded or lacks an export; the module is then not kept loaded.
class HostedModule {
 public:
  HostedModule() = default;
  ~HostedModule() { Unload(); }
  HostedModule(const HostedModule&) = delete;
  HostedModule& operator=(const HostedModule&) = delete;

  bool Load(const std::string& path, std::string& error);
  void Unload();
  const ModuleApi* operator->() const { return &api_; }

 private:
  platform::ModuleHandle handle_ = 0;
  ModuleApi api_;
};

// DefaultModulePath is the product module beside the running program:
// tarvel.dll on Windows, libtarvel.so elsewhere.
std::string DefaultModulePath();

}  // namespace tarvel::host
