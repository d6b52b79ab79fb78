// Drives a built module through its exports, as the host does: loads it by
// path, resolves the exported functions, and builds call records with
// parameter lists of its own (which the module sees as host-built lists).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "module_api.h"
#include "platform/module.h"

namespace tarvel::test {

// LoadedModule loads a module and resolves all twelve exports, with the
// stand-in host's loader.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path) { ok_ = module_.Load(path, error_); }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const host::ModuleApi* operator->() const { return module_.operator->(); }
  // Unload frees the module now (module shutdown runs).
  void Unload() {
    module_.Unload();
    ok_ = false;
  }

 private:
  host::HostedModule module_;
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
  // RawParam adds an item holding any variant as it stands (also types the
  // module must never follow, such as interfaces or references); the list
  // never frees what such a value points at.
  HostCall& RawParam(std::string_view name, const Variant& value);
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
