// The stand-in host's run: creates the host window, loads the module's
// settings (LOAD), shows or fills in the options dialog when asked,
// replays the feed at its pace, prints what the module hands back, then
// UNLOAD and release. Main thread only; the feed reader runs beside it.
#pragma once

#include <istream>
#include <memory>

#include "module_api.h"
#include "options.h"
#include "printer.h"

namespace tarvel::host {

// RunHost runs the module loaded in module as the options say and returns
// the program's exit code.
int RunHost(const Options& options, HostedModule& module, std::shared_ptr<Printer> printer,
            std::unique_ptr<std::istream> feed);

}  // namespace tarvel::host
