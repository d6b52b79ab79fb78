// The shipped module while the platform services it relies on fail: the
// registry, the named INI lock, the host window that does not answer, and
// posting to the host. The services fail for real (support/service_outage.h
// and dead or flooded windows); nothing of the module is replaced. In each
// case the call answers what the module's contract says, nothing stored is
// lost, nothing crashes, and the module works normally once the service is
// back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "host/product_host.h"
#include "platform/registry.h"
#include "support/service_outage.h"

namespace tarvel::test {
namespace {

using platform::RegistryKey;
using platform::RegistryRootKey;

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

std::vector<std::string> Clients(const std::vector<EventRow>& events) {
  std::vector<std::string> out;
  for (const EventRow& e : events) out.push_back(e.type + " " + e.Client());
  std::sort(out.begin(), out.end());
  return out;
}

// The settings of kLostSettings as registry values.
void WriteRegistrySettings(const std::string& path, const char* variable) {
  RegistryKey key;
  ASSERT_TRUE(key.Create(RegistryRootKey::kLocalMachine, path));
  const double timeout = kWatchMs;
  const uint32_t unit = 0;
  ASSERT_TRUE(key.SetValue("Var1", platform::kRegSz, std::string(variable) + '\0'));
  ASSERT_TRUE(key.SetValue("Type1", platform::kRegDword,
                           std::string_view(reinterpret_cast<const char*>(&unit), 4)));
  ASSERT_TRUE(key.SetValue("Val1", platform::kRegBinary,
                           std::string_view(reinterpret_cast<const char*>(&timeout), 8)));
  ASSERT_TRUE(key.SetValue("Event1", platform::kRegSz, std::string("LOST") + '\0'));
  ASSERT_TRUE(key.SetValue("Resume event", platform::kRegSz, std::string("True") + '\0'));
}

std::string StoredText(const std::string& path, const char* name) {
  RegistryKey key;
  if (!key.Open(RegistryRootKey::kLocalMachine, path)) return "<no key>";
  platform::RegistryValue v;
  if (key.Query(name, &v) != platform::RegistryQuery::kOk) return "<no value>";
  return v.data;
}

class FailingServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.ok()) << host.module.error(); }
  // Feeds one row of client `client` with the watched variable T.
  int32_t Feed(uint32_t id, int client) {
    return host.Feed(id, Portion().Item("CLIENTID", OleVariant(client)).Item("T", OleVariant(1)));
  }

  TempDir scratch;
  // Registry and lock files of this test stay apart from everyone else's.
  ScopedEnv registry_dir{"TARVEL_REGISTRY_DIR", scratch.File("registry")};
  ScopedEnv lock_dir{"TARVEL_LOCK_DIR", scratch.File("locks")};
  ProductHost host;
};

TEST_F(FailingServicesTest, RegistryCallsFailing) {
  const std::string path = "Software\\TarvelTests\\Outage";
  platform::DeleteRegistryTree(RegistryRootKey::kLocalMachine, path);
  WriteRegistrySettings(path, "T");
  const std::string stored_var = StoredText(path, "Var1");
  const std::string stored_val = StoredText(path, "Val1");
  ASSERT_EQ(host.Command(1, "LOAD", {{"RegistryPath", OleVariant(path)}}), 0);
  ASSERT_EQ(Feed(1, 1), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 1"});
  {
    RegistryOutage outage(scratch.Path());
    // Saving and reloading do nothing; the settings in use stay.
    EXPECT_EQ(host.Command(1, "SAVE-SETTINGS-NOW"), -2);
    EXPECT_EQ(host.Command(1, "LOAD-SETTINGS-NOW"), -2);
    ASSERT_EQ(Feed(1, 2), 0);
    EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 2"});
    // An instance loaded now starts from the defaults: it watches nothing.
    EXPECT_EQ(host.Command(2, "LOAD", {{"RegistryPath", OleVariant(path)}}), 0);
    ASSERT_EQ(Feed(2, 3), 0);
    EXPECT_TRUE(host.WaitForEvents(2, 1, 3 * kWatchMs).empty());
  }
  // Nothing stored was lost.
  EXPECT_EQ(StoredText(path, "Var1"), stored_var);
  EXPECT_EQ(StoredText(path, "Val1"), stored_val);
  // Back: the instance loaded during the outage reads the stored settings.
  EXPECT_EQ(host.Command(2, "LOAD-SETTINGS-NOW"), -2);
  ASSERT_EQ(Feed(2, 4), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(2, 1)), std::vector<std::string>{"LOST 4"});
  // And changed settings are read and saved again.
  WriteRegistrySettings(path, "U");
  EXPECT_EQ(host.Command(1, "LOAD-SETTINGS-NOW"), -2);
  ASSERT_EQ(host.Feed(1, Portion().Item("CLIENTID", OleVariant(5)).Item("U", OleVariant(1))), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 5"});
  EXPECT_EQ(host.Command(1, "SAVE-SETTINGS-NOW"), -2);
  EXPECT_EQ(StoredText(path, "Var1"), std::string("U") + '\0');
  platform::DeleteRegistryTree(RegistryRootKey::kLocalMachine, path);
}

TEST_F(FailingServicesTest, TheIniLockCannotBeMade) {
  ASSERT_EQ(host.Load(1), 0);
  const std::string ini = host.IniFile(1);
  const std::string stored = ReadWholeFile(ini);
  // The settings commands name the file they work on.
  const std::initializer_list<std::pair<const char*, OleVariant>> in_ini = {
      {"INI-FILE", OleVariant(ini)}};
  {
    IniLockOutage outage(ini);
    // The lock's failure reaches the command before the file is touched.
    EXPECT_EQ(host.Command(1, "SAVE-SETTINGS-NOW", in_ini), -3);
    EXPECT_EQ(host.Command(1, "LOAD-SETTINGS-NOW", in_ini), -3);
    EXPECT_EQ(ReadWholeFile(ini), stored);
    // The settings in use stay.
    ASSERT_EQ(Feed(1, 1), 0);
    EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 1"});
    // A LOAD that cannot read its settings fails; the host unloads it.
    WriteWholeFile(host.IniFile(2), kLostSettings);
    IniLockOutage outage2(host.IniFile(2));
    EXPECT_EQ(host.Command(2, "LOAD", {{"INI-FILE", OleVariant(host.IniFile(2))}}), -3);
    EXPECT_EQ(host.Command(2, "UNLOAD", {{"INI-FILE", OleVariant(host.IniFile(2))}}), 0);
  }
  EXPECT_EQ(ReadWholeFile(ini), stored);
  // Back: both instances work with their files again.
  EXPECT_EQ(host.Command(1, "SAVE-SETTINGS-NOW", in_ini), -2);
  WriteWholeFile(ini, "[Common]\r\nVar1=U\r\nType1=0\r\nVal1=300\r\nEvent1=LOST\r\n");
  EXPECT_EQ(host.Command(1, "LOAD-SETTINGS-NOW", in_ini), -2);
  ASSERT_EQ(host.Feed(1, Portion().Item("CLIENTID", OleVariant(2)).Item("U", OleVariant(1))), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 2"});
  EXPECT_EQ(host.Load(2), 0);
  ASSERT_EQ(Feed(2, 3), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(2, 1)), std::vector<std::string>{"LOST 3"});
}

TEST_F(FailingServicesTest, TheHostWindowDoesNotAnswer) {
  // The host's window lives on a thread that stops looking at its messages
  // until it is told to go on.
  std::promise<platform::WindowHandle> made;
  std::promise<void> answer_again;
  std::vector<RecordingWindow::Message> received;
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    RecordingWindow stalled;
    made.set_value(stalled.handle());
    answer_again.get_future().wait();
    while (!stop) {
      for (auto& m : stalled.Take()) received.push_back(std::move(m));
      platform::SleepMs(5);
    }
    for (auto& m : stalled.Take()) received.push_back(std::move(m));
  });
  const platform::WindowHandle stalled = made.get_future().get();
  const OleVariant stalled_param(static_cast<int32_t>(stalled));
  ASSERT_EQ(host.Load(1), 0);
  ASSERT_EQ(host.Command(1, "EVENTS-SUPPORT", {{"MessagesProcessorHandle", stalled_param}}), 0);
  ASSERT_EQ(Feed(1, 7), 0);
  // The timeout is raised here; its log lines cannot be sent and wait.
  auto events = host.WaitForEvents(1, 1);
  EXPECT_EQ(Clients(events), std::vector<std::string>{"LOST 7"});
  // The host answers again: it finds the notices and fetches the lines.
  answer_again.set_value();
  const std::vector<std::string> queued = host.FetchLog(1);
  EXPECT_TRUE(HasLine(queued, "Tarvel. Timeout: 7")) << ::testing::PrintToString(queued);
  EXPECT_TRUE(HasLine(queued, "Tarvel. Generating event: LOST"))
      << ::testing::PrintToString(queued);
  // Lines go straight to it again.
  ASSERT_EQ(Feed(1, 7), 0);
  EXPECT_EQ(Clients(CollectEvents(host.module, 1)), std::vector<std::string>{"LOST-RESUME 7"});
  host.PumpFor(200);
  stop = true;
  owner.join();
  bool log_notice = false, event_notice = false, resume_line = false;
  for (const auto& m : received) {
    log_notice |= m.msg == PLUGIN_MSG_LOG;
    event_notice |= m.msg == PLUGIN_MSG_EVENTS;
    resume_line |= m.msg == platform::kWmCopyData &&
                   m.text.find("Generating event: LOST-RESUME") != std::string::npos;
  }
  EXPECT_TRUE(log_notice);
  EXPECT_TRUE(event_notice);
  EXPECT_TRUE(resume_line);
}

TEST_F(FailingServicesTest, PostingToADeadHostWindow) {
  platform::WindowHandle dead = 0;
  {
    RecordingWindow gone;
    dead = gone.handle();
  }
  ASSERT_EQ(host.Load(1), 0);
  ASSERT_EQ(host.Command(1, "EVENTS-SUPPORT",
                         {{"MessagesProcessorHandle", OleVariant(static_cast<int32_t>(dead))}}),
            0);
  host.window.Take();
  ASSERT_EQ(Feed(1, 1), 0);
  // Neither the notices nor the lines reach anyone; the event waits.
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 1"});
  EXPECT_TRUE(host.window.Take().empty());
  // The host names a live window again: everything queued meanwhile comes.
  ASSERT_EQ(host.Command(1, "EVENTS-SUPPORT"), 0);
  ASSERT_EQ(Feed(1, 2), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 2"});
  std::vector<std::string> lines;
  bool notice = false;
  for (const auto& m : host.window.Take()) {
    notice |= m.msg == PLUGIN_MSG_EVENTS;
    if (m.msg == platform::kWmCopyData)
      for (const std::string& l : ProductHost::SplitLogText(m.text)) lines.push_back(l);
  }
  EXPECT_TRUE(notice);
  EXPECT_TRUE(HasLine(lines, "Timeout: 1")) << ::testing::PrintToString(lines);
  EXPECT_TRUE(HasLine(lines, "Timeout: 2")) << ::testing::PrintToString(lines);
}

TEST_F(FailingServicesTest, PostingToAFullHostQueueFallsBackToSending) {
  ASSERT_EQ(host.Load(1), 0);
  ASSERT_EQ(Feed(1, 1), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 1)), std::vector<std::string>{"LOST 1"});
  host.window.Take();
  // The host's queue fills up with messages of its own.
  constexpr uint32_t kFiller = platform::kWmUser + 99;
  int posted = 0;
  while (posted < 20000 && platform::PostMessageTo(host.window.handle(), kFiller, 0, 0)) ++posted;
  if (posted == 20000) {
    host.window.Take();
    GTEST_SKIP() << "this system takes more than 20000 posted messages in one queue";
  }
  // The resume is raised in this data call: its notice cannot be posted
  // and is sent instead, ahead of everything waiting in the queue.
  ASSERT_EQ(Feed(1, 1), 0);
  auto messages = host.window.Take();
  auto is = [](uint32_t msg) { return [msg](const auto& m) { return m.msg == msg; }; };
  const auto notice = std::find_if(messages.begin(), messages.end(), is(PLUGIN_MSG_EVENTS));
  ASSERT_NE(notice, messages.end());
  EXPECT_LT(notice - messages.begin(),
            std::find_if(messages.begin(), messages.end(), is(kFiller)) - messages.begin());
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), is(PLUGIN_MSG_EVENTS)), 1);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), is(kFiller)), posted);
  EXPECT_EQ(Clients(CollectEvents(host.module, 1)), std::vector<std::string>{"LOST-RESUME 1"});
  // With room in the queue again, notices are posted as before.
  ASSERT_EQ(Feed(1, 2), 0);
  EXPECT_EQ(Clients(host.WaitForEvents(1, 2)), (std::vector<std::string>{"LOST 1", "LOST 2"}));
  bool posted_notice = false;
  for (const auto& m : host.window.Take()) posted_notice |= m.msg == PLUGIN_MSG_EVENTS;
  EXPECT_TRUE(posted_notice);
}

}  // namespace
}  // namespace tarvel::test
