// The module's language end to end: the stand-in host runs the real module
// with the shipped language file beside it, in real time, and the log lines
// it prints follow the host's LANGUAGE.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/host_harness.h"
#include "support/process.h"
#include "support/test_support.h"

namespace tarvel::test {
namespace {

namespace fs = std::filesystem;

// One watched variable of one second that times out again every second.
const char* const kSettings =
    "[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t-out\r\nEvent once=False\r\n";

// The "text" of every log line in the host's JSON output (UTF-8).
std::vector<std::string> LogTexts(const std::string& out) {
  std::vector<std::string> texts;
  size_t pos = 0;
  while ((pos = out.find("\"type\":\"log\"", pos)) != std::string::npos) {
    size_t start = out.find("\"text\":\"", pos) + 8;
    size_t end = out.find("\"}", start);
    texts.push_back(out.substr(start, end - start));
    pos = end;
  }
  return texts;
}

class HostLanguageTest : public ::testing::Test {
 protected:
  ProgramResult Run(const std::string& module, const std::string& feed,
                    std::vector<std::string> args) {
    WriteWholeFile(ini, kSettings);
    std::vector<std::string> all = {"--module", module, "--ini", ini, "--json", "--linger", "1500"};
    all.insert(all.end(), args.begin(), args.end());
    ProgramResult r = RunProgram(ProgramBesideTests("tarvel-host"), all, feed);
    EXPECT_FALSE(r.timed_out) << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  }
  // CopyModule puts a copy of the module into its own folder, where its
  // language file is whatever the test puts beside it.
  std::string CopyModule() {
    const fs::path original(ProductModulePath());
    const fs::path copy = fs::path(dir.Path()) / "mod" / original.filename();
    fs::create_directories(copy.parent_path());
    fs::copy_file(original, copy);
    return copy.string();
  }
  static std::string LanguageFileOf(const std::string& module) {
    return fs::path(module).replace_extension(".lng").string();
  }

  TempDir dir;
  std::string ini = dir.File("settings.ini");
};

TEST_F(HostLanguageTest, GermanFromTheShippedFileThenFrenchOnceAndAnEmptyLanguageChangesNothing) {
  ASSERT_TRUE(fs::exists(LanguageFileOf(ProductModulePath()))) << "installed beside the module";
  // Timeouts come every second from 1 s on; French from 1.5 s; the empty
  // language at 3.5 s changes nothing.
  const ProgramResult r =
      Run(ProductModulePath(), "CLIENTID=1 TEMP=1\n@at 1500\n@language FR\n@at 3500\n@language\n",
          {"--language", "DE"});
  const std::string de_timeout =
      "Tarvel. Zeit\xC3\xBC"
      "berschreitung: 1";
  const std::string de_event = "Tarvel. Ereignis wird ausgel\xC3\xB6st: t-out";
  const std::string fr_timeout = "Tarvel. D\xC3\xA9lai d'attente: 1";
  const std::string fr_event =
      "Tarvel. G\xC3\xA9n\xC3\xA9ration de l'\xC3\xA9v\xC3\xA9nement: t-out";
  std::vector<std::string> texts = LogTexts(r.out);
  ASSERT_GE(texts.size(), 8u) << r.out;
  int switches = 0;
  for (size_t i = 0; i + 1 < texts.size(); i += 2) {
    SCOPED_TRACE(texts[i]);
    const bool german = texts[i] == de_timeout && texts[i + 1] == de_event;
    const bool french = texts[i] == fr_timeout && texts[i + 1] == fr_event;
    EXPECT_TRUE(german || french) << texts[i] << " / " << texts[i + 1];
    if (i == 0) {
      EXPECT_TRUE(german);
      continue;
    }
    if (french && texts[i - 2] == de_timeout) ++switches;
    EXPECT_FALSE(german && texts[i - 2] == fr_timeout) << "back to German";
  }
  EXPECT_EQ(switches, 1);
  EXPECT_EQ(texts[texts.size() - 2], fr_timeout) << "the empty language kept French";
}

TEST_F(HostLanguageTest, TheLanguageFileBesideTheModule) {
  struct {
    const char* what;
    const char* file;  // null: a folder in the file's place
    std::vector<std::string> args;
    const char* timeout_line;
    bool problem_line;
  } cases[] = {
      {"the file's default language without LANGUAGE",
       "Encoding=utf-8\r\n[Languages]\r\n$DE=Deutsch\r\nDefault=DE\r\n\r\n"
       "EN:>Timeout\r\nDE:>Zeit\xC3\xBC"
       "berschreitung\r\n\r\n",
       {},
       "Tarvel. Zeit\xC3\xBC"
       "berschreitung: 1",
       false},
      {"a file that names no default language still follows LANGUAGE",
       "Encoding=utf-8\r\n\r\nEN:>Timeout\r\nDE:>Zeit\xC3\xBC"
       "berschreitung\r\n\r\n",
       {"--language", "DE"},
       "Tarvel. Zeit\xC3\xBC"
       "berschreitung: 1",
       false},
      {"a file that cannot be read: English, and one line that says so",
       nullptr,
       {"--language", "DE"},
       "Tarvel. Timeout: 1",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string module = CopyModule();
    if (c.file)
      WriteWholeFile(LanguageFileOf(module), c.file);
    else
      fs::create_directory(LanguageFileOf(module));
    const ProgramResult r = Run(module, "CLIENTID=1 TEMP=1\n@at 1200\n", c.args);
    std::vector<std::string> texts = LogTexts(r.out);
    ASSERT_FALSE(texts.empty()) << r.out;
    int problems = 0;
    for (const std::string& t : texts)
      if (t.find("cannot be read") != std::string::npos) {
        ++problems;
        EXPECT_NE(t.find(fs::path(LanguageFileOf(module)).filename().string()), std::string::npos)
            << t;
      }
    EXPECT_EQ(problems, c.problem_line ? 1 : 0) << r.out;
    EXPECT_NE(std::find(texts.begin(), texts.end(), c.timeout_line), texts.end()) << r.out;
    fs::remove_all(fs::path(module).parent_path());
  }
}

}  // namespace
}  // namespace tarvel::test
