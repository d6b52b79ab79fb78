// Hands arbitrary bytes to SET-STATE as the host's DATA-SOURCES-IN-CFG text
// and checks the data sources it keeps: no more than lines, none with the
// id -1, fields trimmed and free of field and line separators, and the
// sources written back as lines read back equal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Plugins/vopPluginModule.h"

namespace {

using namespace tarvel;

int32_t SetState(TvopPlugin& plugin, std::string_view sources) {
  ParamsListPtr params = NewParamsList();
  params->Add("DATA-SOURCES-IN-CFG", OleVariant::AnsiString(sources));
  params->Add("RESULT", OleVariant(int32_t{1}));
  TPluginCallRec rec{};
  rec.Marker = kCallRecMarker;
  rec.Params = params.get();
  rec.ModuleTypes = ModuleTypeBit(mttFilter);
  return plugin.ExecuteCommand("SET-STATE", &rec);
}

bool Clean(const std::string& field) {
  if (field.find_first_of(";\r\n") != std::string::npos) return false;
  return field.empty() || (static_cast<unsigned char>(field.front()) > ' ' &&
                           static_cast<unsigned char>(field.back()) > ' ');
}

std::string Written(const TvopPlugin& plugin) {
  std::string text;
  for (const auto& s : plugin.DataSources())
    text += std::to_string(s->Id) + ";" + s->Text2 + ";" + s->Text3 + "\r\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TvopPlugin* plugin = new TvopPlugin(nullptr);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (SetState(*plugin, text) != 0) std::abort();
  if (plugin->DataSources().size() > SplitLines(text).size()) std::abort();
  for (const auto& s : plugin->DataSources())
    if (s->Id == -1 || !Clean(s->Text2) || !Clean(s->Text3)) std::abort();
  const std::string written = Written(*plugin);
  if (SetState(*plugin, written) != 0 || Written(*plugin) != written) std::abort();
  return 0;
}
