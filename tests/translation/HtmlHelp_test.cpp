// THtmlHelp: the application's help requests while help components live,
// also when several live at once and go in any order.
#include "translation/HtmlHelp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "components/Controls.h"
#include "platform/help.h"
#include "platform/module.h"

namespace tarvel {
namespace {

class HtmlHelpTest : public ::testing::Test {
 protected:
  HtmlHelpTest() {
#ifndef _WIN32
    ::setenv("TARVEL_HELP_VIEWER", "true", 1);
#endif
    platform::RecordHelpRequests(true);
  }
  ~HtmlHelpTest() override {
    platform::RecordHelpRequests(false);
  }

  static std::unique_ptr<THtmlHelp> Component(const char* file) {
    auto help = std::make_unique<THtmlHelp>();
    help->SetChmFile(file);
    return help;
  }
  // Requested: the files asked for, in order.
  static std::string Requested() {
    std::string files;
    for (const auto& r : platform::RecordedHelpRequests()) files += r.path + ";";
    return files;
  }
};

TEST_F(HtmlHelpTest, WithoutComponentTheApplicationHasNoHelp) {
  EXPECT_FALSE(Application().HelpContext(80));
  EXPECT_EQ(Requested(), "");
}

TEST_F(HtmlHelpTest, TheLatestLiveComponentAnswersAndAnyOrderOfGoingIsSafe) {
  bool outer_called = false;
  auto outer = Application().SetOnHelp([&](uint16_t, intptr_t, bool&) {
    outer_called = true;
    return true;
  });
  auto first = Component("first.chm");
  auto second = Component("second.chm");
  EXPECT_TRUE(Application().HelpContext(80));
  first.reset();  // the older one goes first
  EXPECT_TRUE(Application().HelpContext(80));
  auto third = Component("third.chm");
  second.reset();
  EXPECT_TRUE(Application().HelpContext(80));
  third.reset();
  EXPECT_EQ(Requested(), "second.chm;second.chm;third.chm;");
  // With the last one gone the handler from before is back.
  EXPECT_TRUE(Application().HelpContext(80));
  EXPECT_TRUE(outer_called);
  Application().SetOnHelp(outer);
}

TEST_F(HtmlHelpTest, AThreadsOwnComponentAnswersItsRequests) {
  auto mine = Component("mine.chm");
  std::unique_ptr<THtmlHelp> theirs;
  std::thread([&] { theirs = Component("theirs.chm"); }).join();
  EXPECT_TRUE(Application().HelpContext(80));
  EXPECT_EQ(Requested(), "mine.chm;");
  theirs.reset();
}

TEST_F(HtmlHelpTest, DefaultFileTakesTheApplicationsHelpFileBesideTheProgram) {
  const std::string saved = Application().HelpFile();
  Application().SetHelpFile("app.chm");
  auto help = std::make_unique<THtmlHelp>();
  help->Loaded();
  const std::filesystem::path file(help->ChmFile());
  EXPECT_EQ(file.filename().string(), "app.chm");
  EXPECT_EQ(file.parent_path(), std::filesystem::path(platform::MainProgramPath()).parent_path());
  help->SetDefaultFile(false);
  help->SetChmFile("x.chm");
  help->Loaded();
  EXPECT_EQ(help->ChmFile(), "x.chm");
  Application().SetHelpFile(saved);
}

}  // namespace
}  // namespace tarvel
