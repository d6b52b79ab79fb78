// Feeds arbitrary bytes to the stand-in host's feed reader, in pairs and in
// CSV mode, and checks what it makes of them: errors and portions carry
// line numbers within the feed, in order; every row has items and every
// item a name; and rows written back in the pairs format read back equal
// (when every name can be written there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "feed.h"

namespace {

using tarvel::host::FeedItem;
using tarvel::host::FeedPortion;
using tarvel::host::FeedValue;
using tarvel::host::ParsedFeed;

int CountLines(std::string_view text) {
  int lines = 0;
  while (!text.empty()) {
    ++lines;
    size_t end = text.find('\n');
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A name the pairs format can hold as it stands, also first on its line.
bool PairsName(const std::string& name) {
  if (name.empty() || name.front() == '#' || name.front() == '@') return false;
  for (char c : name)
    if (c == ' ' || c == '\t' || c == '=' || c == '\r' || c == '\n') return false;
  return true;
}

std::string PairsValue(const FeedValue& v) {
  // Numbers are written as they were read ("007" stays "007").
  if (v.kind != FeedValue::Kind::kText) return v.text;
  std::string out = "\"";
  for (char c : v.text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void Check(std::string_view text, bool csv) {
  const ParsedFeed feed = tarvel::host::ParseFeed(text, csv);
  const int lines = CountLines(text);
  int last = 0;
  for (const auto& e : feed.errors) {
    if (e.line <= last || e.line > lines || e.message.empty()) std::abort();
    last = e.line;
  }
  // Written back: one line per row, a blank line after each portion.
  std::string written;
  bool writable = true;
  last = 0;
  for (const FeedPortion& p : feed.portions) {
    if (p.rows.empty()) continue;  // a trailing delay
    if (p.line <= last || p.line > lines) std::abort();
    last = p.line;
    for (const auto& row : p.rows) {
      if (row.empty()) std::abort();
      for (const FeedItem& item : row) {
        if (item.name.empty()) std::abort();
        if (!PairsName(item.name) || item.value.text.find('\n') != std::string::npos)
          writable = false;
        written += item.name + "=" + PairsValue(item.value) + " ";
      }
      written += "\n";
    }
    written += "\n";
  }
  if (!writable) return;
  const ParsedFeed again = tarvel::host::ParseFeed(written);
  if (!again.errors.empty()) std::abort();
  size_t i = 0;
  for (const FeedPortion& p : feed.portions) {
    if (p.rows.empty()) continue;
    if (i >= again.portions.size() || again.portions[i].rows != p.rows) std::abort();
    ++i;
  }
  if (i != again.portions.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Check(text, false);
  Check(text, true);
  return 0;
}
