// Feeds arbitrary bytes to the INI reader, queries and changes the result,
// and checks the round trips:
//  - saving what was read, unchanged, gives back every byte of the input,
//    and reading that again gives the same sections, keys and values;
//  - after writing one key, reading the saved text again gives that value
//    and leaves every other section as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/BigIni.h"

namespace {

// Snapshot: every section that is read, with its keys and their values.
using Snapshot = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

Snapshot Take(tarvel::TBigIniFile& ini, const std::string& leave_out = "") {
  Snapshot snapshot;
  std::vector<std::string> names;
  ini.ReadSections(names);
  for (const std::string& name : names) {
    if (Lower(name) == leave_out) continue;
    auto& entries = snapshot[Lower(name)];
    std::vector<std::string> keys;
    ini.ReadSection(name, keys);
    for (const std::string& key : keys) entries.emplace_back(key, ini.ReadString(name, key, ""));
  }
  return snapshot;
}

// Printable gives the printable ASCII of text without the characters that
// would make a key or value read otherwise ("=", blanks at the ends, ...).
std::string Printable(std::string_view text, std::string_view banned, size_t most) {
  std::string out;
  for (char c : text)
    if (c > ' ' && c < 127 && banned.find(c) == std::string_view::npos && out.size() < most)
      out += c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tarvel::TBigIniFile ini("");
  ini.LoadFromString(text);
  std::vector<std::string> names;
  ini.ReadSections(names);
  for (size_t i = 0; i < names.size() && i < 8; ++i) {
    std::vector<std::string> keys;
    ini.ReadSection(names[i], keys);
    for (size_t k = 0; k < keys.size() && k < 8; ++k) {
      ini.ReadInteger(names[i], keys[k], 0);
      ini.ReadFloat(names[i], keys[k], 0);
      if (!ini.ValueExists(names[i], keys[k])) std::abort();
    }
  }

  const std::string saved = ini.SaveToString();
  if (saved != text) std::abort();
  tarvel::TBigIniFile again("");
  again.LoadFromString(saved);
  if (Take(again) != Take(ini)) std::abort();

  if (size > 2) {
    std::string key = Printable(text.substr(0, size / 2), "=[;", 16);
    if (key.empty()) key = "k";
    const std::string value = Printable(text.substr(size / 2), "", 32);
    const Snapshot others = Take(ini, "fuzz");
    ini.WriteString("Fuzz", key, value);
    const std::string changed = ini.SaveToString();
    tarvel::TBigIniFile third("");
    third.LoadFromString(changed);
    if (third.ReadString("Fuzz", key, "<none>") != value) std::abort();
    if (Take(third, "fuzz") != others) std::abort();
    ini.DeleteKey("Fuzz", key);
    ini.EraseSection("Fuzz");
    ini.SaveToString();
  }
  return 0;
}
