#include "monitor/NameKeys.h"

#include <utility>

#include "Common/vopParamLst.h"
#include "monitor/ClientId.h"
#include "platform/text.h"

namespace tarvel {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned x = static_cast<unsigned char>(a[i]);
    unsigned y = static_cast<unsigned char>(b[i]);
    if (x - 'A' < 26u) x += 'a' - 'A';
    if (y - 'A' < 26u) y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

NameKeys::NameKeys(const MonitorSettings& settings) {
  Add(platform::AnsiLowerCase(kNewRowMarker), &marker_keys, 0);
  if (settings.check_client) Add(platform::AnsiLowerCase(settings.client_var), &client_keys, 0);
  for (size_t row = 0; row < settings.rows.size(); ++row) {
    const std::string& name = settings.rows[row].var_name;
    bool first = true;
    for (size_t k = 0; k < row; ++k) first = first && settings.rows[k].var_name != name;
    if (first) Add(name, &watch_keys, static_cast<unsigned>(row));
  }
  BuildTable();
}

void NameKeys::Add(std::string text, unsigned* bits, unsigned row) {
  *bits |= 1u << count_;
  signatures_[count_] = Signature(text);
  rows_[count_] = row;
  texts_[count_] = std::move(text);
  ++count_;
}

// BuildTable files the keys by signature so that distinct signatures have
// distinct entries: odd multipliers are tried until one spreads them so,
// which for a handful of keys in 64 entries takes a few tries.
void NameKeys::BuildTable() {
  uint64_t m = 0x9e3779b97f4a7c15ULL;
  for (int tries = 0; tries < 1000; ++tries, m = client_hash::Mix(m)) {
    multiplier_ = static_cast<uint32_t>(m >> 32) | 1;
    bool distinct = true;
    for (Entry& e : table_) e = Entry{};
    for (size_t k = 0; k < count_ && distinct; ++k) {
      Entry& e = table_[Slot(signatures_[k])];
      distinct = e.keys == 0 || e.signature == signatures_[k];
      e.signature = signatures_[k];
      e.keys |= 1u << k;
    }
    if (distinct) return;
  }
  multiplier_ = 0;
}

}  // namespace tarvel
