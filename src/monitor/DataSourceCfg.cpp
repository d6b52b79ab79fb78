#include "monitor/DataSourceCfg.h"

#include "Plugins/vopPluginModule.h"

namespace tarvel {

const char* const kTaPluginProperties =
    "Left,Left\r\n"
    "Top,Top\r\n"
    "Height,Height\r\n"
    "Width,Width\r\n"
    ";---short---\r\n"
    "var1.Text,Var1\r\n"
    "var2.Text,Var2\r\n"
    "var3.Text,Var3\r\n"
    "var4.Text,Var4\r\n"
    "type1.ItemIndex,Type1\r\n"
    "type2.ItemIndex,Type2\r\n"
    "type3.ItemIndex,Type3\r\n"
    "type4.ItemIndex,Type4\r\n"
    "val1.Value,Val1\r\n"
    "val2.Value,Val2\r\n"
    "val3.Value,Val3\r\n"
    "val4.Value,Val4\r\n"
    "event1.Text,Event1\r\n"
    "event2.Text,Event2\r\n"
    "event3.Text,Event3\r\n"
    "event4.Text,Event4\r\n"
    "\r\n"
    "chkWaitData.Checked,Wait data\r\n"
    "chkEvOnce.Checked,Event once\r\n"
    "chkCheckClient.Checked,Check client\r\n"
    "edtClientVar.Text,Client variable\r\n"
    "edtEventResume.Text,Resume event suffix\r\n"
    "chkEventResume.Checked,Resume event\r\n";

TDataSourceCfg::TDataSourceCfg(TvopPlugin& module, std::function<void()> on_loaded)
    : TProxyCodeObject(nullptr), module_(module), on_loaded_(std::move(on_loaded)) {}

bool TDataSourceCfg::Load() {
  const bool ok = module_.LoadSettings(kTaPluginProperties, this);
  if (on_loaded_) on_loaded_();
  return ok;
}

bool TDataSourceCfg::Save() {
  return module_.SaveSettings(kTaPluginProperties, this);
}

}  // namespace tarvel
