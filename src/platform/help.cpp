// The parts of the help viewer that both platforms share: the registered
// path's system directory, reading a help project's context map, and the
// record of requests.
#include "platform/help.h"

#include <atomic>
#include <cstdlib>
#include <sstream>

#include "Common/Text.h"
#include "Common/ThreadSafety.h"

namespace tarvel::platform {
namespace {

std::atomic<bool> g_recording{false};
Mutex g_record_mu;
std::vector<HelpRequest> g_recorded TARVEL_GUARDED_BY(g_record_mu);

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// ForEachLine calls fn(section, line) for every non-empty line of a
// project, with the name of the [section] it is in.
template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
  std::string section;
  std::istringstream in{std::string(text)};
  std::string raw;
  while (std::getline(in, raw)) {
    std::string_view line = TrimControls(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = std::string(line.substr(1, line.size() - 2));
      continue;
    }
    fn(section, line);
  }
}

// MapLine reads "#define SYMBOL NUMBER" or "SYMBOL NUMBER".
bool MapLine(std::string_view line, std::string* symbol, uint32_t* number) {
  constexpr std::string_view kDefine = "#define";
  if (line.substr(0, kDefine.size()) == kDefine) line = TrimControls(line.substr(kDefine.size()));
  const size_t gap = line.find_first_of(" \t");
  if (gap == std::string_view::npos) return false;
  std::string digits(TrimControls(line.substr(gap)));
  char* end = nullptr;
  const unsigned long n = std::strtoul(digits.c_str(), &end, 0);
  if (digits.empty() || (*end && *end != ' ' && *end != '\t' && *end != '/')) return false;
  *symbol = std::string(line.substr(0, gap));
  *number = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

std::string ExpandSystemDirectory(std::string_view registered, std::string_view system_dir) {
  std::string path(registered);
  if (system_dir.empty()) return path;
  std::string dir(system_dir);
  if (dir.back() != '\\') dir += '\\';
  constexpr std::string_view kPrefix = "%SystemRoot%\\System32\\";
  for (size_t at = 0; at + kPrefix.size() <= path.size(); ++at) {
    if (SameAscii(std::string_view(path).substr(at, kPrefix.size()), kPrefix)) {
      path.replace(at, kPrefix.size(), dir);
      break;
    }
  }
  return path;
}

std::string HelpContextPage(std::string_view project, uint32_t context,
                            const IncludeReader& include) {
  std::string symbol;
  auto map_line = [&](std::string_view line) {
    std::string s;
    uint32_t n = 0;
    if (symbol.empty() && MapLine(line, &s, &n) && n == context) symbol = s;
  };
  ForEachLine(project, [&](const std::string& section, std::string_view line) {
    if (!SameAscii(section, "MAP")) return;
    constexpr std::string_view kInclude = "#include";
    if (line.substr(0, kInclude.size()) == kInclude) {
      std::string file(TrimControls(line.substr(kInclude.size())));
      if (file.size() >= 2 && (file.front() == '"' || file.front() == '<'))
        file = file.substr(1, file.size() - 2);
      if (!include) return;
      std::istringstream in(include(file));
      for (std::string raw; std::getline(in, raw);) map_line(TrimControls(raw));
      return;
    }
    map_line(line);
  });
  if (symbol.empty()) return {};
  std::string page;
  ForEachLine(project, [&](const std::string& section, std::string_view line) {
    if (!page.empty() || !SameAscii(section, "ALIAS")) return;
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && TrimControls(line.substr(0, eq)) == symbol)
      page = std::string(TrimControls(line.substr(eq + 1)));
  });
  return page;
}

std::string HelpDefaultPage(std::string_view project) {
  std::string page;
  ForEachLine(project, [&](const std::string& section, std::string_view line) {
    const size_t eq = line.find('=');
    if (page.empty() && SameAscii(section, "OPTIONS") && eq != std::string_view::npos &&
        SameAscii(TrimControls(line.substr(0, eq)), "Default topic"))
      page = std::string(TrimControls(line.substr(eq + 1)));
  });
  return page;
}

void RecordHelpRequests(bool on) {
  MutexLock lock(g_record_mu);
  g_recording = on;
  g_recorded.clear();
}

std::vector<HelpRequest> RecordedHelpRequests() {
  MutexLock lock(g_record_mu);
  return g_recorded;
}

// Called by each platform's HtmlHelpCall.
void RecordHelpRequest(const HelpRequest& request) {
  if (!g_recording.load()) return;
  MutexLock lock(g_record_mu);
  if (g_recording) g_recorded.push_back(request);
}

}  // namespace tarvel::platform
