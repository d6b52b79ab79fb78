// The stand-in host's command line: what the user asked for, and the
// parser that fills it in (printing usage or complaints itself). Main
// thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel::host {

struct Options {
  std::string module;
  std::string ini;
  std::string registry_path;
  std::string language;
  bool has_language = false;
  std::string feed = "-";
  bool csv = false;
  bool json = false;
  uint32_t linger_ms = 0;
  // For tests: hand the module no window (MessagesProcessorHandle 0).
  bool no_window = false;
  // "options": show the options dialog (or enter the --set values) first.
  bool options = false;
  std::vector<std::string> set_values;
  bool feed_given = false;
};

// ParseOptions returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options& o);

}  // namespace tarvel::host
