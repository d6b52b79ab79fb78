// The help viewer where there is no HTML Help: the page a request names is
// looked up in the help sources beside the help file (help/, with its
// project *.hhp) and opened with $TARVEL_HELP_VIEWER or xdg-open, or its
// path is written to standard error.
#include "platform/help.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvel::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// SourcesProject: the help project in the help/ folder beside the file.
fs::path SourcesProject(const std::string& help_file) {
  std::error_code ec;
  const fs::path dir = fs::path(help_file).parent_path() / "help";
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.path().extension() == ".hhp") return entry.path();
  return {};
}

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

// Launch starts program with one argument, detached: the intermediate child
// is reaped at once, the viewer itself is adopted by init.
bool Launch(const std::string& program, const std::string& argument) {
  const char* argv[] = {program.c_str(), argument.c_str(), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) {
      ::execvp(argv[0], const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Show(const fs::path& page) {
  const std::string file = page.string();
  const char* viewer = std::getenv("TARVEL_HELP_VIEWER");
  if (viewer && *viewer && Launch(viewer, file)) return;
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  if ((!viewer || !*viewer) && display && OnPath("xdg-open") && Launch("xdg-open", file)) return;
  std::fprintf(stderr, "tarvel: help: %s\n", file.c_str());
}

}  // namespace

bool IsWow64() {
  return false;
}

bool LocateHtmlHelp(std::string* path) {
  path->clear();
  return false;
}

bool IsHtmlHelpLoaded() {
  return true;
}

bool LoadHtmlHelp() {
  return true;
}

bool UnloadHtmlHelp() {
  return true;
}

uintptr_t HtmlHelpCall(WindowHandle owner, const std::string& path, uint32_t command,
                       uintptr_t data) {
  uintptr_t answer = 0;
  if (command == kHhHelpContext || command == kHhDisplayToc) {
    const std::string file = path.substr(0, path.find("::"));
    const fs::path project = SourcesProject(file.substr(0, file.find('>')));
    std::string page;
    if (!project.empty()) {
      const std::string text = ReadText(project);
      page = command == kHhDisplayToc
                 ? HelpDefaultPage(text)
                 : HelpContextPage(text, static_cast<uint32_t>(data), [&](const std::string& f) {
                     return ReadText(project.parent_path() / f);
                   });
    }
    if (!page.empty()) {
      Show(project.parent_path() / page);
      answer = 1;
    } else {
      std::fprintf(stderr, "tarvel: help: no page for topic %lu of %s\n",
                   static_cast<unsigned long>(data), file.c_str());
    }
  }
  RecordHelpRequest({owner, path, command, data, answer});
  return answer;
}

}  // namespace tarvel::platform
