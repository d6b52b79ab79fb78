// Drives a built module through its exports, as the host does: loads it by
// path, resolves the exported functions, and builds call records with
// parameter lists of its own (which the module sees as host-built lists).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "platform/module.h"

#ifdef _WIN32
#define TARVEL_TEST_STDCALL __stdcall
#else
#define TARVEL_TEST_STDCALL
#endif

namespace tarvel::test {

struct ModuleExports {
  int32_t(TARVEL_TEST_STDCALL* GetPluginIntfVersion)() = nullptr;
  float(TARVEL_TEST_STDCALL* GetAppMinVersion)(PPluginCallRec) = nullptr;
  const char*(TARVEL_TEST_STDCALL* GetModuleDescription)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* GetModuleType)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* GetCustomCommands)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* GetLogEx)(PPluginCallRec) = nullptr;
  void(TARVEL_TEST_STDCALL* ShowOptionsDialog)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* ExecutePluginCommand)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* GetData)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* GetEvents)(PPluginCallRec) = nullptr;
  int32_t(TARVEL_TEST_STDCALL* ProcessData)(PPluginCallRec) = nullptr;
  bool(TARVEL_TEST_STDCALL* MultiThreadSupport)(PPluginCallRec) = nullptr;
};

// LoadedModule loads a module and resolves all twelve exports.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const ModuleExports& api() const { return api_; }
  const ModuleExports* operator->() const { return &api_; }
  // Unload frees the module now (module shutdown runs).
  void Unload();

 private:
  platform::ModuleHandle handle_ = 0;
  ModuleExports api_;
  bool ok_ = false;
  std::string error_;
};

// ProductModule / ProbeModule: the built product and the framework's test
// module, both beside the test programs.
std::string ProductModulePath();
std::string ProbeModulePath();

// HostCall is one call record with its own parameter list.
class HostCall {
 public:
  explicit HostCall(uint32_t instance_id, std::string_view command = {});
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;

  HostCall& Param(std::string_view name, const OleVariant& value);
  // WithResult adds an empty RESULT item for the module to fill.
  HostCall& WithResult() { return Param("RESULT", OleVariant()); }
  HostCall& Types(TModuleTypes types) {
    rec.ModuleTypes = types;
    return *this;
  }
  std::string Result() const;  // RESULT as text
  PPluginCallRec get() { return &rec; }
  operator PPluginCallRec() { return &rec; }

  TPluginCallRec rec{};
  ParamsListPtr params;
};

}  // namespace tarvel::test
