#include "monitor/TaPlugin.h"

namespace tarvel {

TaPlugin::TaPlugin(PPluginCallRec rec) : TvopPlugin(rec) {
  // The plug-in's fixed definition.
  Description = "Tarvel";
  LogTitle = "Tarvel";
  ModuleType = ModuleTypeBit(mttFilter);
  ModuleOptions = 0;
  MinVersion = 4.0f;
  IsMultiThreadSupported = true;
  MsgNoData = "No data for processing";
  MsgWriteComplete = "Data have been processed successfully";
  MsgWriteCompleteError = "Data have been processed with errors";
}

TaPlugin::~TaPlugin() = default;

void RegisterTaPlugin() {
  RegisterPluginClass([](PPluginCallRec rec) { return std::make_unique<TaPlugin>(rec); });
}

}  // namespace tarvel
