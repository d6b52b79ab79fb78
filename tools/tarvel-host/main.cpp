// tarvel-host: a stand-in for the data-logging host. It loads a module,
// owns a message window on its main thread, feeds the module data portions
// from a feed file or standard input at the pace the feed gives, and prints
// the events and log lines the module hands back. See README.md.
//
// Everything that touches the module runs on the main thread: the instance
// is created there, so its window timers tick only while this thread pumps,
// which it does whenever it is not inside a call into the module. A second
// thread only reads and parses the feed.
//
// This file reads the command line and starts the run: options.h parses
// it, host.h runs the module, feed_reader.h reads the feed, printer.h
// prints.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "host.h"
#include "module_api.h"
#include "options.h"
#include "printer.h"

namespace tarvel::host {
namespace {

int Main(int argc, char** argv) {
#ifdef _WIN32
  // Lines end in LF on every platform, so programs reading us see the same.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  Options options;
  if (int code = ParseOptions(argc, argv, options); code >= 0) return code;
  if (options.module.empty()) options.module = DefaultModulePath();
#ifndef _WIN32
  if (options.options && options.set_values.empty()) {
    std::fputs("tarvel-host: this build has no options dialog; enter values with --set\n", stderr);
    return 2;
  }
#endif

  std::unique_ptr<std::istream> feed;
  if (options.options && !options.feed_given) {
    // No feed: nothing to replay after the options.
  } else if (options.feed != "-") {
    auto file = std::make_unique<std::ifstream>(options.feed, std::ios::binary);
    if (!*file) {
      std::fprintf(stderr, "tarvel-host: cannot open feed %s: %s\n", options.feed.c_str(),
                   std::strerror(errno));
      return 2;
    }
    feed = std::move(file);
  }

  HostedModule module;
  std::string error;
  if (!module.Load(options.module, error)) {
    std::fprintf(stderr, "tarvel-host: %s\n", error.c_str());
    return 2;
  }
  auto printer = std::make_shared<Printer>(options.json);
  int code = RunHost(options, module, printer, std::move(feed));
  module.Unload();
  return code;
}

}  // namespace
}  // namespace tarvel::host

int main(int argc, char** argv) {
  try {
    return tarvel::host::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvel-host: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tarvel-host: unexpected failure\n");
  }
  return 1;
}
