#include "translation/LanguageFile.h"

#include <filesystem>
#include <vector>

#include "Common/Text.h"
#include "platform/file_io.h"

namespace tarvel {

namespace {

constexpr int kDirectiveLines = 19;
constexpr size_t kHeadLength = 50;
constexpr size_t kValueLength = 255;

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// ParseLocale reads a decimal number, or a hexadecimal one after "0x" or
// "$"; nullopt when the text is not one (or does not fit 32 bits).
std::optional<uint32_t> ParseLocale(std::string_view v) {
  int base = 10;
  if (v.size() > 2 && v[0] == '0' && v[1] == 'x') {
    base = 16;
    v.remove_prefix(2);
  } else if (!v.empty() && v[0] == '$') {
    base = 16;
    v.remove_prefix(1);
  }
  if (v.empty()) return std::nullopt;
  uint64_t n = 0;
  for (char c : v) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return std::nullopt;
    n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (n > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(n);
}

std::optional<uint8_t> CharsetNumber(std::string_view name) {
  static const struct {
    const char* name;
    uint8_t charset;
  } kCharsets[] = {
      {"windows-1250", 238}, {"windows-1251", 204}, {"windows-1252", 0},   {"windows-1253", 161},
      {"windows-1254", 162}, {"windows-1255", 177}, {"windows-1256", 178}, {"windows-1257", 186},
      {"windows-1258", 163}, {"windows-874", 222},  {"shift-jis", 128},    {"hangeul", 129},
      {"johab", 130},        {"gb2312", 134},       {"chinesebig5", 136},
  };
  for (const auto& c : kCharsets)
    if (name == c.name) return c.charset;
  return std::nullopt;
}

void ApplyValue(std::string_view keyword, const std::string& value, TLanguageFileSettings& s) {
  if (keyword == "Encoding=") {
    if (value == "utf-8")
      s.encoding = 1;
    else if (value == "utf-16")
      s.encoding = 2;
    else if (value == "unicode")
      s.encoding = 3;
  } else if (keyword == "BiDiMode=") {
    if (value == "righttoleft")
      s.bidi_mode = 1;
    else if (value == "righttoleftnoalign")
      s.bidi_mode = 2;
    else if (value == "righttoleftreadingonly")
      s.bidi_mode = 3;
  } else if (keyword == "Locale=") {
    if (auto n = ParseLocale(value); n && *n > 0) s.locale = *n;
  } else if (keyword == "Charset=") {
    if (auto c = CharsetNumber(value)) s.font_charset = *c;
  }
}

}  // namespace

std::string LowerAsciiLetters(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool ApplyDirective(std::string_view line, TLanguageFileSettings& settings) {
  const std::string_view head = TrimControls(line.substr(0, kHeadLength));
  if (head == "//filenew") {
    settings.collect_file_mode = cfNew;
    return false;
  }
  if (head == "//filerewrite") {
    settings.collect_file_mode = cfRewrite;
    return false;
  }
  if (head == "//fileappend") {
    settings.collect_file_mode = cfAppend;
    return false;
  }
  for (std::string_view keyword : {"Encoding=", "BiDiMode=", "Locale=", "Charset="}) {
    if (head.find(keyword) == std::string_view::npos) continue;
    std::string_view value = head.substr(head.find('=') + 1);
    value = TrimControls(value.substr(0, kValueLength));
    ApplyValue(keyword, LowerAsciiLetters(value), settings);
    return true;
  }
  if (head == "//saveuntr")
    settings.collect_mode = cmUntranslated;
  else if (head == "//saveuntrobj")
    settings.collect_mode = cmUntranslatedWithPlace;
  else if (head == "//saveunused")
    settings.collect_mode = cmUnused;
  else if (head == "//saveall")
    settings.collect_mode = cmAll;
  return false;
}

int32_t ParseLanguageFile(std::string_view bytes, std::string_view source, std::string_view target,
                          TWtranslLanguagesList& dictionary, TLanguageFileSettings& settings,
                          const std::function<void(std::string_view)>& on_pair) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  const std::string source_prefix = std::string(source) + ":>";
  const std::string target_prefix = std::string(target) + ":>";
  int32_t count = 0;
  std::vector<std::string_view> block;

  auto close_block = [&] {
    std::string_view from, to;
    for (std::string_view line : block) {
      if (line.substr(0, source_prefix.size()) == source_prefix)
        from = line.substr(source_prefix.size());
      else if (line.substr(0, target_prefix.size()) == target_prefix)
        to = line.substr(target_prefix.size());
    }
    block.clear();
    if (from.empty() || to.empty()) return;
    dictionary.ExactTexts.AddString(from, to);
    std::string lower = LowerAsciiLetters(from);
    if (lower != from) dictionary.LowerTexts.AddString(lower, to);
    ++count;
    if (on_pair) on_pair(from);
  };

  size_t pos = 0;
  int line_number = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(pos, end - pos);
    // CR LF ends a line; a CR without LF after it stays in the line.
    if (end < bytes.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    line = TrimBlanks(line);
    if (++line_number <= kDirectiveLines && ApplyDirective(line, settings)) continue;
    if (line.substr(0, 2) == "//") continue;
    if (line.empty()) {
      close_block();
      continue;
    }
    block.push_back(line);
  }
  return count;
}

std::optional<std::string> ReadLanguageFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::path(path), ec))
    throw platform::EFileError(path + " is a directory");
  std::unique_ptr<platform::ByteSource> source = platform::OpenFileForReading(path);
  if (!source) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  while (size_t n = source->Read(buffer, sizeof buffer)) bytes.append(buffer, n);
  return bytes;
}

}  // namespace tarvel
