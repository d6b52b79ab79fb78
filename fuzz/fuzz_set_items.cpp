// Hands arbitrary bytes to SET-ITEMS as the host's parser item text and
// checks the table it builds: no more items than lines, no field holding a
// field or line separator, and the text ITEMS gives back is a fixed point
// (handed to SET-ITEMS again it builds the same table and the same text).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Plugins/vopPluginModule.h"

namespace {

using namespace tarvel;

std::vector<TParserItem> Items(const TvopPlugin& plugin) {
  std::vector<TParserItem> items;
  for (int i = 0; i < plugin.ParserItemCount(); ++i) items.push_back(plugin.GetParserItem(i));
  return items;
}

int32_t SetItems(TvopPlugin& plugin, std::string_view text) {
  ParamsListPtr params = NewParamsList();
  params->Add("ITEMS", OleVariant::AnsiString(text));
  TPluginCallRec rec{};
  rec.Marker = kCallRecMarker;
  rec.Params = params.get();
  return plugin.ExecuteCommand("SET-ITEMS", &rec);
}

bool Clean(const std::string& field) {
  return field.find_first_of("|\r\n") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TvopPlugin* plugin = new TvopPlugin(nullptr);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (SetItems(*plugin, text) != 0) std::abort();
  const std::vector<TParserItem> items = Items(*plugin);
  if (items.size() > SplitLines(text).size()) std::abort();
  for (const TParserItem& item : items) {
    if (!Clean(item.Name) || !Clean(item.Source) || !Clean(item.Extra)) std::abort();
    if (item.DataType > kParserItemUnknownType) std::abort();
  }
  const std::string rendered = plugin->GetParserItemsText();
  if (SetItems(*plugin, rendered) != 0) std::abort();
  if (Items(*plugin) != items || plugin->GetParserItemsText() != rendered) std::abort();
  return 0;
}
