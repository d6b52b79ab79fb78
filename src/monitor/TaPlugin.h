// TaPlugin: the timeout monitor's plug-in class, the one the module creates
// for every host instance.
#pragma once

#include "Plugins/vopPluginModule.h"

namespace tarvel {

class TaPlugin : public TvopPlugin {
 public:
  explicit TaPlugin(PPluginCallRec rec);
  ~TaPlugin() override;
};

// RegisterTaPlugin makes the module create TaPlugin objects.
void RegisterTaPlugin();

}  // namespace tarvel
