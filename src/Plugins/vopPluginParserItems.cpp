// Parser items: the host's parser variables as SET-ITEMS hands them over
// ("source|name|type|extra" lines) and as ITEMS gives them back.
//
// Threads: changed under the command lock (by commands, one at a time per
// instance); the options dialog reads them on the thread that shows it.
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"
#include "platform/text.h"

namespace tarvel {

using namespace plugin_detail;

const char* const kParserDataTypeNames =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|"
    "Shortint|Int64|Currency|";

namespace {

const std::vector<std::string>& DataTypeNames() {
  static const std::vector<std::string> names = SplitFields(kParserDataTypeNames, '|');
  return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parser items

void TvopPlugin::SetParserItems(std::string_view text) {
  RecursiveMutexLock hold(host_.CommandLock());
  parser_items_.clear();
  const auto& names = DataTypeNames();
  for (const std::string& line : SplitLines(text)) {
    std::vector<std::string> fields = SplitFields(line, '|');
    if (fields.size() < 2) continue;
    TParserItem item;
    item.Source = fields[0];
    item.Name = fields[1];
    item.DataType = kParserItemUnknownType;
    if (fields.size() > 2) {
      std::string wanted = platform::AnsiLowerCase(fields[2]);
      for (size_t i = 0; i < names.size(); ++i) {
        if (platform::AnsiLowerCase(names[i]) == wanted) {
          item.DataType = static_cast<uint8_t>(i);
          break;
        }
      }
    }
    if (fields.size() > 3) item.Extra = fields[3];
    parser_items_.push_back(std::move(item));
  }
}

std::string TvopPlugin::GetParserItemsText() const {
  const auto& names = DataTypeNames();
  std::string out;
  for (size_t i = 0; i < parser_items_.size(); ++i) {
    const TParserItem& item = parser_items_[i];
    if (i) out += "\r\n";
    out += item.Source + "|" + item.Name + "|" +
           (item.DataType < names.size() ? names[item.DataType] : std::string()) + "|" + item.Extra;
  }
  return out;
}

TParserItem TvopPlugin::GetParserItem(int index) const {
  if (index < 0 || index >= ParserItemCount()) throw std::out_of_range("parser item index");
  return parser_items_[static_cast<size_t>(index)];
}

void TvopPlugin::SetParserItem(int index, const TParserItem& item) {
  if (index < 0) throw std::out_of_range("parser item index");
  RecursiveMutexLock hold(host_.CommandLock());
  if (index >= ParserItemCount()) parser_items_.resize(static_cast<size_t>(index) + 1);
  parser_items_[static_cast<size_t>(index)] = item;
}

}  // namespace tarvel
