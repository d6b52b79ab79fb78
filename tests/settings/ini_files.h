// Helpers for tests on settings files as users keep them: the module's
// stored names (from its shipped property map) and a look at a file's
// lines that does not go through the module's own reader.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "components/Components.h"
#include "monitor/DataSourceCfg.h"

namespace tarvel::test {

// ModuleKeys: the value names the module's property map stores.
inline std::vector<std::string> ModuleKeys() {
  TStringList map;
  map.SetText(kTaPluginProperties);
  std::vector<std::string> keys;
  for (const std::string& line : map.Lines()) {
    const size_t comma = line.find(',');
    if (comma != std::string::npos && line[0] != ';') keys.push_back(line.substr(comma + 1));
  }
  return keys;
}

// FileLines splits a file's bytes into lines, each with its line end (LF,
// CR LF or a lone CR, in code units of the file's encoding); a byte-order
// mark at the start is a line of its own.
struct FileLines {
  explicit FileLines(const std::string& bytes) {
    size_t start = 0;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
      start = 3;
    } else if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
      start = 2;
      unit = 2;
      big_endian = bytes[0] == '\xFE';
    }
    if (start > 0) lines.push_back(bytes.substr(0, start));
    size_t line_start = start;
    for (size_t i = start; i + unit <= bytes.size();) {
      const unsigned c = Unit(bytes, i);
      i += unit;
      const bool lf_follows = i + unit <= bytes.size() && Unit(bytes, i) == '\n';
      if (c == '\n' || (c == '\r' && !lf_follows)) {
        lines.push_back(bytes.substr(line_start, i - line_start));
        line_start = i;
      }
    }
    if (line_start < bytes.size()) lines.push_back(bytes.substr(line_start));
  }

  // Ascii gives a line's text with every character beyond ASCII as '?'.
  std::string Ascii(const std::string& line) const {
    std::string out;
    for (size_t i = 0; i + unit <= line.size(); i += unit) {
      const unsigned c = Unit(line, i);
      out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
  }

  // IsKeyLine: whether a line sets one of keys (blanks around the key,
  // letter case ignored).
  bool IsKeyLine(const std::string& line, const std::vector<std::string>& keys) const {
    const std::string text = Ascii(line);
    const size_t eq = text.find('=');
    const size_t b = text.find_first_not_of(" \t");
    if (eq == std::string::npos || b >= eq) return false;
    const size_t e = text.find_last_not_of(" \t", eq - 1);
    const std::string key = text.substr(b, e - b + 1);
    for (const std::string& k : keys) {
      if (k.size() != key.size()) continue;
      bool same = true;
      for (size_t i = 0; i < k.size() && same; ++i)
        same = std::tolower(static_cast<unsigned char>(k[i])) ==
               std::tolower(static_cast<unsigned char>(key[i]));
      if (same) return true;
    }
    return false;
  }

  // Without gives the lines that do not set any of keys.
  std::vector<std::string> Without(const std::vector<std::string>& keys) const {
    std::vector<std::string> kept;
    for (const std::string& line : lines)
      if (!IsKeyLine(line, keys)) kept.push_back(line);
    return kept;
  }

  std::vector<std::string> lines;
  size_t unit = 1;
  bool big_endian = false;

 private:
  unsigned Unit(const std::string& s, size_t i) const {
    const auto a = static_cast<unsigned char>(s[i]);
    if (unit == 1) return a;
    const auto b = static_cast<unsigned char>(s[i + 1]);
    return big_endian ? (a << 8) | b : a | (b << 8);
  }
};

}  // namespace tarvel::test
