// bench_translation: the translator's dictionary. Lookups in the hash trie
// against std::unordered_map on the same 10,000 pairs and the same shuffled
// keys, and the load of a language file of 10,000 pairs (read, parsed and
// filed, as the first pass for a language does).
//
// A plain program: each figure is the median of five runs; the last lines
// read "goal NAME VALUE UNIT LIMIT pass|fail".
//
// Usage: bench_translation [--quick]   (--quick: fewer lookups)
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "translation/HashTrie.h"
#include "translation/Translator.h"

namespace tarvel {
namespace {

constexpr size_t kPairs = 10000;

double NsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
}

template <class Measure>
double MedianOfFive(Measure measure) {
  std::array<double, 5> runs;
  for (double& r : runs) r = measure();
  std::sort(runs.begin(), runs.end());
  return runs[2];
}

// Texts like a dialog's and a log's: a few words and a number, 10 to 70
// characters, some with an "&" or a line break escaped as %0D%0A.
std::vector<std::string> SourceTexts() {
  static const char* const kWords[] = {"Control",  "timeout",  "parser", "variable", "event",
                                       "client",   "Generate", "when",   "resume",   "data",
                                       "received", "each",     "name",   "suffix",   "Second"};
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  for (size_t i = 0; i < kPairs; ++i) {
    std::string t;
    const int words = 1 + static_cast<int>(rng() % 8);
    for (int w = 0; w < words; ++w) {
      if (w) t += ' ';
      t += kWords[rng() % std::size(kWords)];
    }
    t += ' ' + std::to_string(i);
    if (i % 17 == 0) t.insert(0, "&");
    if (i % 23 == 0) t += "%0D%0Amore";
    texts.push_back(std::move(t));
  }
  return texts;
}

std::string Translation(const std::string& source) {
  return "\xC3\x9C"
         "bersetzung von " +
         source;  // UTF-8
}

int Main(bool quick) {
  const size_t lookups = quick ? 200000 : 2000000;
  const std::vector<std::string> sources = SourceTexts();
  std::vector<const std::string*> order;
  std::mt19937 rng(11);
  for (size_t i = 0; i < lookups; ++i) order.push_back(&sources[rng() % sources.size()]);

  TStringHashTrie trie;
  trie.CaseSensitive = true;
  trie.AutoFreeValue = true;
  std::unordered_map<std::string, std::string> map;
  for (const std::string& s : sources) {
    trie.AddString(s, Translation(s));
    map.emplace(s, Translation(s));
  }

  size_t sink = 0;
  const double trie_ns = MedianOfFive([&] {
    const auto t0 = std::chrono::steady_clock::now();
    for (const std::string* key : order) sink += trie.FindText(*key)->size();
    return NsSince(t0) / static_cast<double>(lookups);
  });
  const double map_ns = MedianOfFive([&] {
    const auto t0 = std::chrono::steady_clock::now();
    for (const std::string* key : order) sink += map.find(*key)->second.size();
    return NsSince(t0) / static_cast<double>(lookups);
  });
  std::printf("lookup of %zu pairs, %zu lookups (ns per lookup, median of 5 runs)\n", kPairs,
              lookups);
  std::printf("  hash trie       %8.1f\n  unordered_map   %8.1f\n  ratio           %8.2f\n",
              trie_ns, map_ns, trie_ns / map_ns);

  // The whole step of a pass for one text: escaping, the ANSI key, the
  // lookup and the UTF-8 decoding of the translation.
  std::string file_text = "Encoding=utf-8\r\n\r\n";
  for (const std::string& s : sources)
    file_text += "EN:>" + s + "\r\nDE:>" + Translation(s) + "\r\n\r\n";
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("bench_translation_" + std::to_string(::getpid()) + ".lng");
  std::ofstream(file, std::ios::binary) << file_text;
  TWtransl translator;
  translator.SetLanguageFile(file.string());
  translator.LoadLanguageText(file_text, "EN", "DE");
  std::vector<std::u16string> wide;
  for (size_t i = 0; i < 1000; ++i) wide.push_back(platform::AnsiToWide(sources[i * 7]));
  const double text_ns = MedianOfFive([&] {
    const auto t0 = std::chrono::steady_clock::now();
    bool found = false;
    for (int round = 0; round < (quick ? 20 : 200); ++round)
      for (const std::u16string& w : wide) sink += translator.LookupText(w, &found).size();
    return NsSince(t0) / (1000.0 * (quick ? 20 : 200));
  });
  std::printf("one text of a pass (LookupText)  %8.1f ns\n", text_ns);

  // Loading: the first pass for a language reads the file into the
  // dictionary; a release in between makes every run read it again.
  const double load_ms = MedianOfFive([&] {
    translator.ReleaseDictionary();
    std::string text = sources[0];
    const auto t0 = std::chrono::steady_clock::now();
    translator.Translate("DE", nullptr, &text, "EN");
    return NsSince(t0) / 1e6;
  });
  std::printf("load of a %zu-pair file (%zu bytes)  %8.2f ms\n", kPairs, file_text.size(), load_ms);
  if (translator.EntryCount() != static_cast<int32_t>(kPairs))
    std::printf("unexpected pair count %d\n", translator.EntryCount());
  std::filesystem::remove(file);

  struct Goal {
    const char* name;
    double value;
    const char* unit;
    double limit;
  } goals[] = {
      {"trie_lookup_vs_unordered_map", trie_ns / map_ns, "x", 1.5},
      {"load_10000_pair_file_ms", load_ms, "ms", 10},
  };
  std::printf("(checksum %zu)\n", sink);
  for (const Goal& g : goals)
    std::printf("goal %s %.2f %s %g %s\n", g.name, g.value, g.unit, g.limit,
                g.value <= g.limit ? "pass" : "fail");
  return 0;
}

}  // namespace
}  // namespace tarvel

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  return tarvel::Main(quick);
}
