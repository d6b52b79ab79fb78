// The help viewer: the registered library's path, the help project's
// context map, and the viewer itself (the HTML Help library under Wine, the
// page opener on POSIX).
#include "platform/help.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/thread.h"
#include "support/test_support.h"

namespace tarvel::platform {
namespace {

TEST(HelpLibraryPath, SystemRootPrefixIsReplacedByTheSystemDirectory) {
  struct {
    const char* name;
    const char* registered;
    const char* system_dir;
    const char* expected;
  } cases[] = {
      {"prefix replaced", "%SystemRoot%\\System32\\hhctrl.ocx", "C:\\windows\\system32",
       "C:\\windows\\system32\\hhctrl.ocx"},
      {"letter case ignored", "%systemroot%\\SYSTEM32\\hhctrl.ocx", "C:\\windows\\system32\\",
       "C:\\windows\\system32\\hhctrl.ocx"},
      {"32-bit directory on 64-bit Windows", "%SystemRoot%\\System32\\hhctrl.ocx",
       "C:\\Windows\\SysWOW64", "C:\\Windows\\SysWOW64\\hhctrl.ocx"},
      {"full path kept", "C:\\windows\\system32\\hhctrl.ocx", "D:\\sys",
       "C:\\windows\\system32\\hhctrl.ocx"},
      {"only the first occurrence", "%SystemRoot%\\System32\\%SystemRoot%\\System32\\x", "S",
       "S\\%SystemRoot%\\System32\\x"},
      {"no directory, no change", "%SystemRoot%\\System32\\hhctrl.ocx", "",
       "%SystemRoot%\\System32\\hhctrl.ocx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExpandSystemDirectory(c.registered, c.system_dir), c.expected);
  }
}

constexpr char kProject[] = R"([OPTIONS]
Compiled file=tarvel.chm
Default topic=index.htm
Title=Tarvel Help

[FILES]
index.htm
options.htm

[ALIAS]
IDH_OPTIONS=options.htm
IDH_EVENTS = events.htm
IDH_UNUSED=unused.htm

[MAP]
#include help_ids.h
IDH_EVENTS 81
)";

TEST(HelpProject, ContextNumbersFindTheirPagesThroughMapAndAlias) {
  std::map<std::string, std::string> files = {
      {"help_ids.h", "/* ids */\r\n#define IDH_OPTIONS 80\r\n#define IDH_HEX 0x60\r\n"}};
  auto include = [&](const std::string& f) { return files[f]; };
  struct {
    uint32_t context;
    const char* page;
  } cases[] = {
      {80, "options.htm"},  // #define in an included file
      {81, "events.htm"},   // a plain map line; blanks around "=" in the alias
      {0x60, ""},           // mapped, but no alias
      {82, ""},             // not mapped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.context);
    EXPECT_EQ(HelpContextPage(kProject, c.context, include), c.page);
  }
  EXPECT_EQ(HelpDefaultPage(kProject), "index.htm");
  EXPECT_EQ(HelpContextPage(kProject, 80, nullptr), "");
}

TEST(HelpProject, TheShippedSourcesMapTheOptionsTopic) {
  namespace fs = std::filesystem;
  const fs::path help = fs::path(TARVEL_TEST_DATA_DIR).parent_path().parent_path() / "help";
  const std::string project = test::ReadWholeFile((help / "tarvel.hhp").string());
  ASSERT_FALSE(project.empty());
  EXPECT_EQ(HelpContextPage(
                project, 80,
                [&](const std::string& f) { return test::ReadWholeFile((help / f).string()); }),
            "options.htm");
  EXPECT_EQ(HelpDefaultPage(project), "index.htm");
}

#ifdef _WIN32

// Wine registers its hhctrl.ocx as the HTML Help library.
TEST(HtmlHelpLoader, FindsLoadsAndAfterAnUnloadLoadsAgain) {
  std::string path;
  ASSERT_TRUE(LocateHtmlHelp(&path));
  EXPECT_NE(path.find("hhctrl.ocx"), std::string::npos) << path;
  EXPECT_EQ(path.find('%'), std::string::npos) << path;

  EXPECT_TRUE(IsHtmlHelpLoaded());
  EXPECT_TRUE(UnloadHtmlHelp());
  // A dialog shown after the first one closed still finds its help.
  EXPECT_TRUE(IsHtmlHelpLoaded());
  EXPECT_TRUE(UnloadHtmlHelp());
  EXPECT_TRUE(UnloadHtmlHelp());  // nothing loaded: still true
}

TEST(HtmlHelpLoader, CallsAreRecordedWithTheViewersAnswer) {
  RecordHelpRequests(true);
  ASSERT_TRUE(IsHtmlHelpLoaded());
  // No such file: the viewer shows nothing and answers 0.
  EXPECT_EQ(HtmlHelpCall(0, "Z:\\no\\such\\file.chm", kHhHelpContext, 80), 0u);
  auto seen = RecordedHelpRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].command, kHhHelpContext);
  EXPECT_EQ(seen[0].data, 80u);
  EXPECT_EQ(seen[0].path, "Z:\\no\\such\\file.chm");
  RecordHelpRequests(false);
  UnloadHtmlHelp();
}

#else

// The POSIX viewer opens the page of the sources beside the help file with
// $TARVEL_HELP_VIEWER; here a script that writes down what it was given.
TEST(HelpPageViewer, OpensTheTopicsPageOfTheSourcesBesideTheHelpFile) {
  test::TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directory(dir.File("help"));
  test::WriteWholeFile(dir.File("help/tarvel.hhp"), kProject);
  test::WriteWholeFile(dir.File("help/help_ids.h"), "#define IDH_OPTIONS 80\n");
  const std::string opened = dir.File("opened.txt");
  const std::string viewer = dir.File("viewer.sh");
  test::WriteWholeFile(viewer, "#!/bin/sh\necho \"$1\" > '" + opened + "'\n");
  fs::permissions(viewer, fs::perms::owner_all);
  ::setenv("TARVEL_HELP_VIEWER", viewer.c_str(), 1);
  RecordHelpRequests(true);

  EXPECT_TRUE(IsHtmlHelpLoaded());
  const std::string chm = dir.File("libtarvel.chm");
  EXPECT_NE(HtmlHelpCall(7, chm, kHhHelpContext, 80), 0u);
  // The viewer runs detached; wait for its note.
  for (int i = 0; i < 200 && test::ReadWholeFile(opened).empty(); ++i) SleepMs(10);
  EXPECT_EQ(test::ReadWholeFile(opened), dir.File("help/options.htm") + "\n");

  EXPECT_EQ(HtmlHelpCall(7, chm, kHhHelpContext, 99), 0u);  // not mapped
  EXPECT_EQ(HtmlHelpCall(7, dir.File("elsewhere/x.chm"), kHhHelpContext, 80), 0u);
  const auto seen = RecordedHelpRequests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].owner, 7u);
  EXPECT_EQ(seen[0].command, kHhHelpContext);
  EXPECT_EQ(seen[0].data, 80u);
  EXPECT_NE(seen[0].answer, 0u);
  EXPECT_EQ(seen[1].answer, 0u);
  RecordHelpRequests(false);
  ::unsetenv("TARVEL_HELP_VIEWER");
}

#endif

}  // namespace
}  // namespace tarvel::platform
