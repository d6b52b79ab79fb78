// The stand-in host's command line: the usage text and ParseOptions (see
// options.h). Main thread only.
#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarvel::host {
namespace {

constexpr char kUsage[] = R"(Usage: tarvel-host [options]
       tarvel-host options [--set NAME=VALUE ...] [options]

Loads a data-logging filter module, feeds it data portions and prints the
events and log lines it hands back, one line each.

"options" first shows the module's options dialog, owned by a main window
of the host (win32), as the host does when its user asks for the options;
the feed, when one is given with --feed, is replayed after the dialog
closed, so the running module shows what the new settings do. With --set
the values are entered into the dialog's form and confirmed without
showing it (both builds), so the dialog's own rules apply.

Options:
  --module PATH         module to load (default: tarvel.dll / libtarvel.so
                        beside this program)
  --ini FILE            settings place: INI file handed over with LOAD
  --registry-path KEY   settings place: registry key handed over with LOAD
  --language CODE       language handed over with every command
  --feed FILE           data feed to replay (default: standard input, "-")
  --csv                 the feed starts with a CSV header line
  --json                print one JSON object per line instead of text
  --linger MS           keep running MS milliseconds after the feed ends, so
                        pending timeouts can fire (default 0)
  --set NAME=VALUE      with "options": a setting to enter (repeatable). NAME
                        is a control (var1, val1, type1, event1, chkWaitData,
                        edtClientVar, ...) or a stored name (Var1, Type1,
                        "Wait data", "Client variable", ...); a unit is its
                        name or 0..3, a flag true or false
  --help                show this text

Feed format (one item per line; see README.md):
  NAME=VALUE NAME="text"   one row; several rows make one data portion
  (blank line) or ---      ends the data portion
  +MS  or  @delay MS       wait MS milliseconds before the next portion
  @at MS                   send the next portion MS ms after the feed starts
  @language CODE           from here on the host's language is CODE
  @csv / @pairs            switch to CSV lines (header first) / back
  # comment
  Values that read as integers or numbers are passed as such, others as text.

Output:
  +1.234s EVENT NAME PARAM=VALUE ...     an event collected with GetEvents
  +1.240s LOG LEVEL TEXT                 a log line (WM_COPYDATA or GetLogEx)

Exit codes: 0 done, 1 the module refused LOAD, 2 bad options, a feed that
cannot be opened, or a module that cannot be loaded or lacks an export,
4 the options dialog was cancelled or the values were refused.
)";

}  // namespace

int ParseOptions(int argc, char** argv, Options& o) {
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "options") {
    o.options = true;
    o.feed.clear();
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inline_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inline_value = true;
    }
    auto take = [&](std::string& out) {
      if (inline_value) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto missing = [&] {
      std::fprintf(stderr, "tarvel-host: %s needs a value (see --help)\n", arg.c_str());
      return 2;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--module") {
      if (!take(o.module)) return missing();
    } else if (arg == "--ini") {
      if (!take(o.ini)) return missing();
    } else if (arg == "--registry-path") {
      if (!take(o.registry_path)) return missing();
    } else if (arg == "--language") {
      if (!take(o.language)) return missing();
      o.has_language = true;
    } else if (arg == "--feed") {
      if (!take(o.feed)) return missing();
      o.feed_given = true;
    } else if (arg == "--set") {
      std::string v;
      if (!take(v)) return missing();
      if (!o.options) {
        std::fprintf(stderr, "tarvel-host: --set goes with \"options\" (see --help)\n");
        return 2;
      }
      if (v.find('=') == std::string::npos || v.front() == '=') {
        std::fprintf(stderr, "tarvel-host: --set wants NAME=VALUE, got \"%s\"\n", v.c_str());
        return 2;
      }
      o.set_values.push_back(v);
    } else if (arg == "--linger") {
      std::string ms;
      if (!take(ms)) return missing();
      char* end = nullptr;
      unsigned long n = std::strtoul(ms.c_str(), &end, 10);
      if (ms.empty() || *end || n > 0x7FFFFFFFul || ms[0] == '-') {
        std::fprintf(stderr, "tarvel-host: --linger wants milliseconds, got \"%s\"\n", ms.c_str());
        return 2;
      }
      o.linger_ms = static_cast<uint32_t>(n);
    } else if (arg == "--json" && !inline_value) {
      o.json = true;
    } else if (arg == "--csv" && !inline_value) {
      o.csv = true;
    } else if (arg == "--no-window" && !inline_value) {
      o.no_window = true;
    } else {
      std::fprintf(stderr, "tarvel-host: unknown option %s (see --help)\n", argv[i]);
      return 2;
    }
  }
  return -1;
}

}  // namespace tarvel::host
