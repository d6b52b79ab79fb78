// Tests that run this program again as child processes: several processes
// saving into one INI file at once, and a second process reading back what
// the first one stored. The ChildProcess.* tests are the children's side;
// they do nothing unless TARVEL_CHILD_ROLE is set. A child that skipped or
// stopped early exits 0 as well, so each one that ran all its checks
// leaves the file TARVEL_CHILD_DONE names, and the parent looks for it.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"
#include "settings_forms.h"
#include "settings_support.h"

namespace tarvel {
namespace {

using test::Child;
using test::GetEnv;
using test::SetEnv;

// MarkDone: the child's checks ran to the end and held.
void MarkDone() {
  if (!::testing::Test::HasFailure()) test::WriteWholeFile(GetEnv("TARVEL_CHILD_DONE"), "done");
}

// RanToTheEnd: the child that was given done_file left it.
bool RanToTheEnd(const std::string& done_file) {
  return test::ReadWholeFile(done_file) == "done";
}

constexpr int kSavers = 4;
constexpr int kSavesEach = 25;

// ChildProcess.SaveDistinctKeys: one saver. Each save adds its own key
// through a full TWreg save (lock, read, change, write back).
TEST(ChildProcess, SaveDistinctKeys) {
  if (GetEnv("TARVEL_CHILD_ROLE") != "saver") GTEST_SKIP() << "runs only as a child";
  std::string ini = GetEnv("TARVEL_CHILD_INI");
  std::string me = GetEnv("TARVEL_CHILD_INDEX");
  TProxyCodeObject s;
  for (int n = 0; n < kSavesEach; ++n) {
    TWreg reg;
    reg.INIFile = ini;
    reg.Components.SetText("Left,C" + me + "_" + std::to_string(n) + "\r\nTop,Last" + me);
    s.Left = n;
    s.Top = n;
    ASSERT_TRUE(reg.SaveProperties(&s));
  }
  MarkDone();
}

TEST(CrossProcess, ConcurrentSaversToOneIniFileLoseNoUpdate) {
  test::RegistrySandbox sandbox;  // also a private lock directory on POSIX
  std::string ini = sandbox.Dir().File("shared.ini");
  SetEnv("TARVEL_CHILD_ROLE", "saver");
  SetEnv("TARVEL_CHILD_INI", ini);
  std::vector<std::unique_ptr<Child>> children;
  std::vector<std::string> done;
  for (int i = 0; i < kSavers; ++i) {
    SetEnv("TARVEL_CHILD_INDEX", std::to_string(i));
    done.push_back(sandbox.Dir().File("done-" + std::to_string(i)));
    SetEnv("TARVEL_CHILD_DONE", done.back());
    children.push_back(std::make_unique<Child>("ChildProcess.SaveDistinctKeys"));
  }
  SetEnv("TARVEL_CHILD_ROLE", "");
  SetEnv("TARVEL_CHILD_DONE", "");
  for (int i = 0; i < kSavers; ++i) {
    EXPECT_EQ(children[static_cast<size_t>(i)]->Wait(), 0);
    EXPECT_TRUE(RanToTheEnd(done[static_cast<size_t>(i)])) << "saver " << i << " did not run";
  }

  TBigIniFile file(ini);
  std::vector<std::string> keys;
  file.ReadSection("Common", keys);
  std::set<std::string> unique(keys.begin(), keys.end());
  EXPECT_EQ(unique.size(), keys.size());
  for (int i = 0; i < kSavers; ++i) {
    EXPECT_EQ(file.ReadInteger("Common", "Last" + std::to_string(i), -1), kSavesEach - 1);
    for (int n = 0; n < kSavesEach; ++n) {
      std::string key = "C" + std::to_string(i) + "_" + std::to_string(n);
      EXPECT_EQ(file.ReadInteger("Common", key, -1), n) << key;
    }
  }
}

// The values the writer stores and the reader expects.
void FillExpected(TProxyCodeObject& s) {
  test::FillSample(s);
}

// ChildProcess.ReadBack: the second process loads both stores and checks.
TEST(ChildProcess, ReadBack) {
  if (GetEnv("TARVEL_CHILD_ROLE") != "reader") GTEST_SKIP() << "runs only as a child";
  TProxyCodeObject expected;
  FillExpected(expected);
  for (bool ini : {false, true}) {
    SCOPED_TRACE(ini ? "INI" : "registry");
    TWreg reg;
    reg.RegistryRoot = rrHKEY_CURRENT_USER;
    reg.RegistryPath = GetEnv("TARVEL_CHILD_REGPATH");
    if (ini) reg.INIFile = GetEnv("TARVEL_CHILD_INI");
    reg.Components.SetText(kTaPluginProperties);
    TProxyCodeObject loaded;
    ASSERT_TRUE(reg.LoadProperties(&loaded));
    test::ExpectSameSettings(expected, loaded);
  }
  MarkDone();
}

TEST(CrossProcess, ASecondProcessReadsBackWhatTheFirstStored) {
  test::RegistrySandbox sandbox;
  std::string ini = sandbox.Dir().File("written.ini");
  TProxyCodeObject s;
  FillExpected(s);
  for (bool use_ini : {false, true}) {
    TWreg reg;
    reg.RegistryRoot = rrHKEY_CURRENT_USER;
    reg.RegistryPath = sandbox.Path();
    if (use_ini) reg.INIFile = ini;
    reg.Components.SetText(kTaPluginProperties);
    ASSERT_TRUE(reg.SaveProperties(&s));
  }
  SetEnv("TARVEL_CHILD_ROLE", "reader");
  SetEnv("TARVEL_CHILD_INI", ini);
  SetEnv("TARVEL_CHILD_REGPATH", sandbox.Path());
  const std::string done = sandbox.Dir().File("done-reader");
  SetEnv("TARVEL_CHILD_DONE", done);
  Child reader("ChildProcess.ReadBack");
  int code = reader.Wait();
  SetEnv("TARVEL_CHILD_ROLE", "");
  SetEnv("TARVEL_CHILD_DONE", "");
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(RanToTheEnd(done)) << "the reader's checks did not run";
}

}  // namespace
}  // namespace tarvel
