// TDataSourceCfg: the monitor's settings object with storage: it loads and
// saves its fields through the module's property map at the settings place
// the host named for the instance.
#pragma once

#include <functional>
#include <string>

#include "monitor/ProxyCodeObject.h"

namespace tarvel {

class TvopPlugin;

// The module's property map: dialog place first (all a cancelled dialog
// keeps), then the settings proper.
extern const char* const kTaPluginProperties;

class TDataSourceCfg : public TProxyCodeObject {
 public:
  // on_loaded runs after every successful read (the monitor drops its
  // clients there, so watching starts afresh with the new settings).
  TDataSourceCfg(TvopPlugin& module, std::function<void()> on_loaded);

  // Load reads every mapped value; values the store lacks keep their
  // current value. Errors of the property map reach the caller before
  // on_loaded runs.
  bool Load();
  bool Save();

 private:
  TvopPlugin& module_;
  std::function<void()> on_loaded_;
};

}  // namespace tarvel
