// The help viewer: shows a topic of the module's help file by its context
// number, or the file's table of contents.
//
// Win32: the system's HTML Help library, found through its COM registration
// (HKEY_CLASSES_ROOT\CLSID\{adb880a6-d8ff-11cf-9377-00aa003b7a11}\InprocServer32),
// loaded on first need and called through its "HtmlHelpA" entry, so the
// module has no static dependency on it. POSIX has no HTML Help viewer: the
// help file's sources lie beside it in a folder named help/ (the build
// copies them there), and a request opens the page the sources' project maps
// the context to, with $TARVEL_HELP_VIEWER, else xdg-open when a display is
// there; when nothing can open it, the page's path is written to standard
// error.
//
// Loader life: IsHtmlHelpLoaded loads on its first call; UnloadHtmlHelp
// closes every help window and frees the library. A request after an unload
// loads the library again (each options dialog unloads it as it closes, and
// help must keep working for the next one).
//
// Threads: any thread; the loader's state is held under one lock, which is
// also held while the library is called, so an unload never frees it under
// a running call.
//
// Example:
//   if (IsHtmlHelpLoaded())
//     HtmlHelpCall(owner, "C:\\hosts\\modules\\tarvel.chm", kHhHelpContext, 80);
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

namespace tarvel::platform {

// Commands of the HTML Help API used by the module.
constexpr uint32_t kHhDisplayToc = 1;
constexpr uint32_t kHhHelpContext = 15;
constexpr uint32_t kHhCloseAll = 18;
constexpr uint32_t kHhInitialize = 28;
constexpr uint32_t kHhUninitialize = 29;

// IsHtmlHelpLoaded loads the viewer on the first call after start-up or an
// unload, and tells whether it is loaded. POSIX: always true.
bool IsHtmlHelpLoaded();
// LoadHtmlHelp locates and loads the library unless it is loaded, resolves
// its entries and initialises it; true when it is loaded afterwards.
bool LoadHtmlHelp();
// UnloadHtmlHelp closes every help window, ends the viewer and frees the
// library; true when nothing was loaded or the library was freed.
bool UnloadHtmlHelp();

// HtmlHelpCall calls the viewer (HtmlHelpA(owner, path, command, data)) and
// returns its answer: for kHhHelpContext and kHhDisplayToc the help
// window, 0 when the topic is not mapped or nothing is loaded. The path is
// the help file, optionally followed by "::topic" and ">window".
uintptr_t HtmlHelpCall(WindowHandle owner, const std::string& path, uint32_t command,
                       uintptr_t data);

// LocateHtmlHelp finds the library through its registration; false when
// it is not registered or no file lies at the registered path. Win32 only
// (POSIX: false).
bool LocateHtmlHelp(std::string* path);
// IsWow64: a 32-bit process on 64-bit Windows (POSIX: false).
bool IsWow64();

// ExpandSystemDirectory replaces the first "%SystemRoot%\System32\" in a
// registered path, compared without regard to letter case, by the system
// directory (a backslash added when it lacks one). An empty directory leaves
// the path as it is.
std::string ExpandSystemDirectory(std::string_view registered, std::string_view system_dir);

// HelpContextPage finds the page a context number opens from a help
// project's text (.hhp): its [MAP] gives the number a symbol (a line
// "#define SYMBOL NUMBER", or "SYMBOL NUMBER", or an "#include FILE" that
// include() returns the text of), its [ALIAS] the page for the symbol
// ("SYMBOL=page.htm"). Empty when the number is not mapped.
using IncludeReader = std::function<std::string(const std::string& file)>;
std::string HelpContextPage(std::string_view project, uint32_t context,
                            const IncludeReader& include);
// HelpDefaultPage: the project's "Default topic" (the contents' first page).
std::string HelpDefaultPage(std::string_view project);

// Every HtmlHelpCall is recorded while recording is on, for tests.
struct HelpRequest {
  WindowHandle owner;
  std::string path;
  uint32_t command;
  uintptr_t data;
  uintptr_t answer;
};
// RecordHelpRequests switches recording on or off and forgets what was
// recorded; RecordedHelpRequests returns the record.
void RecordHelpRequests(bool on);
std::vector<HelpRequest> RecordedHelpRequests();
// RecordHelpRequest adds one request to the record while it is on (used by
// each platform's HtmlHelpCall).
void RecordHelpRequest(const HelpRequest& request);

}  // namespace tarvel::platform
