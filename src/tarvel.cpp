// The module's main unit: it only registers the plug-in class. All work
// starts from the exported functions (Plugins/exports/vopPluginExports.cpp).
#include "Plugins/vopPluginModule.h"
#include "monitor/TaPlugin.h"

namespace {
const bool registered = [] {
  tarvel::ModuleStartup();
  tarvel::RegisterTaPlugin();
  return true;
}();
}  // namespace
