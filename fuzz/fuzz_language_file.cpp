// Feeds arbitrary bytes to the language-file reader as a file for EN -> DE,
// then looks texts up the way a pass does. Checks: every source the reader
// took is found again, and looking a text up never fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "translation/LanguageFile.h"
#include "translation/Translator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  tarvel::TWtranslLanguagesList dictionary;
  tarvel::TLanguageFileSettings settings;
  std::vector<std::string> sources;
  const int32_t count =
      tarvel::ParseLanguageFile(bytes, "EN", "DE", dictionary, settings,
                                [&](std::string_view source) { sources.emplace_back(source); });
  if (count < 0 || static_cast<size_t>(count) != sources.size()) std::abort();
  for (const std::string& source : sources)
    if (!dictionary.ExactTexts.Contains(source)) std::abort();

  // The same bytes through the translator, and lookups of the file's own
  // lines (their sources, escapes, ampersands and odd bytes included).
  // A fresh translator each time: directives persist in one; no language
  // file, so it writes no side file when it goes.
  tarvel::TWtransl translator;
  translator.SetLanguageFile("");
  if (translator.LoadLanguageText(bytes, "EN", "DE") != count) std::abort();
  size_t start = 0;
  for (int n = 0; n < 16 && start <= bytes.size(); ++n) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (line.substr(0, 4) == "EN:>") line.remove_prefix(4);
    bool found = false;
    translator.LookupText(tarvel::platform::AnsiToWide(line), &found);
    start = end + 1;
  }
  return 0;
}
