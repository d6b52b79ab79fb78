// Feeds arbitrary bytes to the INI reader, queries and changes the result,
// and checks that the written form is stable: writing what was read back
// again gives the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/BigIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tarvel::TBigIniFile ini("");
  ini.LoadFromString(text);
  int sections = ini.Sections().Count();
  for (int i = 0; i < sections && i < 8; ++i) {
    std::string name = ini.Sections().Strings(i);
    std::vector<std::string> keys;
    ini.ReadSection(name, keys);
    for (size_t k = 0; k < keys.size() && k < 8; ++k) {
      ini.ReadString(name, keys[k], "");
      ini.ReadInteger(name, keys[k], 0);
      ini.ReadFloat(name, keys[k], 0);
      if (!ini.ValueExists(name, keys[k])) std::abort();
    }
  }
  std::string first = ini.SaveToString();
  tarvel::TBigIniFile again("");
  again.LoadFromString(first);
  if (again.SaveToString() != first) std::abort();
  if (size > 2) {
    std::string key(text.substr(0, size / 2));
    ini.WriteString("Fuzz", key, text.substr(size / 2));
    ini.DeleteKey("Fuzz", key);
    ini.EraseSection("Fuzz");
    ini.SaveToString();
  }
  return 0;
}
