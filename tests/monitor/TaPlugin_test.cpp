// The plug-in object's handlers and settings storage, in-process.
#include "monitor/TaPlugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include "components/Components.h"
#include "host/host_window.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/ini_lock.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "settings/settings_support.h"
#include "support/host_harness.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using test::HostCall;

std::vector<std::string> MapLines() {
  TStringList lines;
  lines.SetText(kTaPluginProperties);
  return lines.Lines();
}

TEST(TaPluginProperties, TheMapHasItsTwentyEightLinesInOrder) {
  const std::vector<std::string> lines = MapLines();
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[0], "Left,Left");
  EXPECT_EQ(lines[4], ";---short---");
  EXPECT_EQ(lines[5], "var1.Text,Var1");
  EXPECT_EQ(lines[9], "type1.ItemIndex,Type1");
  EXPECT_EQ(lines[13], "val1.Value,Val1");
  EXPECT_EQ(lines[20], "event4.Text,Event4");
  EXPECT_EQ(lines[21], "");
  EXPECT_EQ(lines[27], "chkEventResume.Checked,Resume event");
}

class TaPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini = dir.File("settings.ini");
    HostCall create(1);
    plugin = std::make_unique<TaPlugin>(create.get());
    plugin->AfterConstruction();
  }
  void Write(const std::string& text) { test::WriteWholeFile(ini, text); }
  std::string Read() { return test::ReadWholeFile(ini); }
  int32_t Command(const char* command, const std::string& ini_file) {
    HostCall call(1, command);
    if (!ini_file.empty()) call.Param("INI-FILE", OleVariant(ini_file));
    return plugin->ExecuteCommand(command, call.get());
  }
  // Load sends LOAD with the INI file, the registry place and the host window.
  int32_t Load(platform::WindowHandle host_window = 0) {
    HostCall call(1, "LOAD");
    call.Param("INI-FILE", OleVariant(ini));
    call.Param("RegistryPath", OleVariant(registry.Path()));
    if (host_window)
      call.Param("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(host_window)));
    return plugin->ExecuteCommand("LOAD", call.get());
  }
  // Feed hands the plug-in one row of a client with one variable.
  void Feed(int32_t client, const char* variable) {
    auto rows = NewParamsList(kRowsParamsListClass);
    rows->Add("CLIENTID", OleVariant(client));
    rows->Add(variable, OleVariant(1));
    FeedList(rows.get());
  }
  // FeedList hands the plug-in a data list; returns the output's data.
  uintptr_t FeedList(TvopParamsList* rows) {
    HostCall data(1);
    data.rec.Input.Kind = 1;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows);
    int32_t result = -7;
    plugin->vopPluginProcessData(data.get(), result);
    EXPECT_EQ(result, 0);
    return data.rec.Output.Data;
  }
  // WaitForEvents pumps this thread, which owns the check timer, until at
  // least `items` event items are queued (at most 10 s of real time).
  bool WaitForEvents(int32_t items) {
    const uint32_t start = platform::SystemTickCount();
    while (plugin->PendingEventItems() < items) {
      if (platform::TickDiff(platform::SystemTickCount(), start) > 10000) return false;
      platform::ProcessPendingMessages();
      platform::SleepMs(5);
    }
    return true;
  }
  std::vector<std::string> QueuedLogLines() {
    auto lines = plugin->LogLines().Lock();
    return *lines;
  }

  test::RegistrySandbox registry;
  test::TempDir dir;
  std::string ini;
  std::unique_ptr<TaPlugin> plugin;
};

TEST_F(TaPluginTest, FixedPropertiesAndTextsBeforeLoad) {
  EXPECT_EQ(plugin->Description, "Tarvel");
  EXPECT_EQ(plugin->LogTitle, "Tarvel");
  EXPECT_EQ(plugin->ModuleType, ModuleTypeBit(mttFilter));
  ASSERT_NE(plugin->TextRes(), nullptr);
  EXPECT_EQ(plugin->TextRes()->TimeoutText(), "Timeout");
  EXPECT_EQ(plugin->TextRes()->GeneratingEventText(), "Generating event");
  EXPECT_EQ(plugin->Cfg(), nullptr);
  EXPECT_EQ(plugin->Monitor(), nullptr);
  EXPECT_FALSE(plugin->ChkTimeouts().Enabled());
  EXPECT_EQ(plugin->ChkTimeouts().Interval(), 3000u);
  // Data before the first LOAD fails without touching the record.
  HostCall data(1);
  int32_t result = 5;
  EXPECT_THROW(plugin->vopPluginProcessData(data.get(), result), std::logic_error);
  EXPECT_EQ(result, 5);
  // Saving while unloaded does nothing.
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  EXPECT_FALSE(std::ifstream(ini).good());
}

TEST_F(TaPluginTest, LoadReadsTheStoredSettingsAndStartsTheTimer) {
  Write("[Common]\r\nVar1=Level\r\nType1=3\r\nVal1=1\r\nEvent once=False\r\n");
  ASSERT_EQ(Command("LOAD", ini), 0);
  ASSERT_NE(plugin->Cfg(), nullptr);
  auto row = plugin->Cfg()->WatchRowAt(0);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->timeout_ms, 3600000);
  EXPECT_FALSE(plugin->Cfg()->chkEvOnce_Checked);
  EXPECT_TRUE(plugin->Cfg()->chkWaitData_Checked);  // not stored: default
  EXPECT_EQ(plugin->Cfg()->edtClientVar_Text, "CLIENTID");
  ASSERT_NE(plugin->Monitor(), nullptr);
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
  EXPECT_EQ(plugin->ChkTimeouts().Interval(), 3000u);  // nothing pending yet
}

TEST_F(TaPluginTest, ReloadingDropsEveryClientAndUnloadFreesTheMonitor) {
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=5\r\nEvent1=t\r\n");
  ASSERT_EQ(Command("LOAD", ini), 0);
  auto rows = NewParamsList(kRowsParamsListClass);
  for (int client = 1; client <= 3; ++client) {
    rows->Add("CLIENTID", OleVariant(client));
    rows->Add("TEMP", OleVariant(20));
    rows->AddNewRow();
  }
  EXPECT_EQ(FeedList(rows.get()), reinterpret_cast<uintptr_t>(rows.get()));
  EXPECT_EQ(plugin->Monitor()->ClientCount(), 3u);

  Write("");  // an empty store: every property keeps its value
  EXPECT_EQ(Command("LOAD-SETTINGS-NOW", ini), -2);
  EXPECT_EQ(plugin->Monitor()->ClientCount(), 0u);
  EXPECT_EQ(plugin->Cfg()->var1_Text, "TEMP");
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());

  std::weak_ptr<TimeoutMonitor> monitor = plugin->Monitor();
  EXPECT_EQ(Command("UNLOAD", ini), 0);
  EXPECT_EQ(plugin->Cfg(), nullptr);
  EXPECT_TRUE(monitor.expired());
  EXPECT_FALSE(plugin->ChkTimeouts().Enabled());
}

TEST_F(TaPluginTest, SaveWritesEveryMappedValueAndShortSaveOnlyThePlace) {
  ASSERT_EQ(Command("LOAD", ini), 0);
  plugin->Cfg()->var2_Text = "FLOW";
  plugin->Cfg()->Left = 12;
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  const std::string text = Read();
  for (const char* key : {"Left=12", "Var2=FLOW", "Type1=-1", "Wait data=True", "Event once=True",
                          "Check client=True", "Client variable=CLIENTID",
                          "Resume event suffix=-RESUME", "Resume event=False"}) {
    SCOPED_TRACE(key);
    EXPECT_NE(text.find(key), std::string::npos) << text;
  }
  const std::string other = dir.File("short.ini");
  EXPECT_TRUE(plugin->SaveSettingsShort(kTaPluginProperties, plugin->Cfg(), other));
  std::ifstream in(other, std::ios::binary);
  const std::string short_text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  EXPECT_NE(short_text.find("Width=541"), std::string::npos) << short_text;
  EXPECT_EQ(short_text.find("Var2"), std::string::npos) << short_text;
}

// BlockedIniLock keeps the named lock of an INI file from being made while
// it lives, so that settings cannot be read from that file: an object of
// another kind holds the lock event's name (Win32), a folder holds the lock
// file's place (POSIX).
class BlockedIniLock {
 public:
  explicit BlockedIniLock(const std::string& ini_file) {
    const std::string name = platform::BoundedLockName(platform::IniLockName(ini_file));
#ifdef _WIN32
    mutex_ = ::CreateMutexA(nullptr, FALSE, ("Optex_Event_" + name).c_str());
    EXPECT_NE(mutex_, nullptr);
#else
    const char* dir = std::getenv("TARVEL_LOCK_DIR");
    EXPECT_NE(dir, nullptr);
    ::mkdir(dir, 0777);
    folder_ = std::string(dir) + "/" + name + ".lock";
    ::unlink(folder_.c_str());
    EXPECT_EQ(::mkdir(folder_.c_str(), 0777), 0);
#endif
  }
  ~BlockedIniLock() {
#ifdef _WIN32
    if (mutex_) ::CloseHandle(mutex_);
#else
    ::rmdir(folder_.c_str());
#endif
  }
  BlockedIniLock(const BlockedIniLock&) = delete;
  BlockedIniLock& operator=(const BlockedIniLock&) = delete;

 private:
#ifdef _WIN32
  HANDLE mutex_ = nullptr;
#else
  std::string folder_;
#endif
};

// The check timer runs on after every reload of the settings: one that
// changes nothing while nothing is pending, and one that fails while a
// silence is pending (and other clients keep talking).
TEST_F(TaPluginTest, TheTimerRunsOnAfterEveryReload) {
  Write("[Common]\r\nVar1=TEMP\r\nType1=0\r\nVal1=1000\r\nEvent1=t\r\n");
  constexpr int32_t kItemsPerEvent = 4;  // EVENT-TYPE, CLIENTID-ITEM, PARSER-ITEM, row marker
  ASSERT_EQ(Load(), 0);
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
  {
    SCOPED_TRACE("a reload that changes nothing");
    EXPECT_EQ(Command("LOAD-SETTINGS-NOW", ini), -2);
    EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
    Feed(1, "TEMP");
    EXPECT_TRUE(WaitForEvents(kItemsPerEvent)) << "the silence was reported";
  }
  {
    SCOPED_TRACE("a reload that fails");
    const int32_t before = plugin->PendingEventItems();
    Feed(2, "TEMP");
    {
      BlockedIniLock blocked(ini);
      EXPECT_ANY_THROW(Command("LOAD-SETTINGS-NOW", ini));
    }
    EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
    Feed(3, "TEMP");
    EXPECT_TRUE(WaitForEvents(before + 2 * kItemsPerEvent)) << "both silences were reported";
  }
}

// A plug-in whose event queue fails, as it does when memory runs out.
class FailingEventsPlugin : public TaPlugin {
 public:
  using TaPlugin::TaPlugin;

 private:
  void RaiseEvent(bool, std::string_view, const TvopParamsList*) override {
    throw std::runtime_error("event queue failed");
  }
};

TEST_F(TaPluginTest, ASaveThatCannotReachTheFileIsLoggedAndTheFileKept) {
  test::RecordingWindow host;
  Write("[Common]\r\nVar1=TEMP\r\n");
  ASSERT_EQ(Load(host.handle()), 0);
  host.Take();
  plugin->Cfg()->var1_Text = "FLOW";
  platform::FileFaults full;
  full.free_bytes = 0;
  platform::SetFileFaults(full);
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  platform::ClearFileFaults();
  EXPECT_EQ(Read(), "[Common]\r\nVar1=TEMP\r\n");
  std::vector<std::string> lines;
  for (const auto& m : host.Take())
    if (m.msg == platform::kWmCopyData) lines.push_back(m.text);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("\x02Tarvel. Settings not saved: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("settings.ini"), std::string::npos) << lines[0];

  // Once the disk has room the save goes through, without a word.
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  EXPECT_NE(Read().find("Var1=FLOW"), std::string::npos);
  for (const auto& m : host.Take()) EXPECT_NE(m.msg, platform::kWmCopyData) << m.text;
}

TEST_F(TaPluginTest, AFailedTickIsReportedToTheHost) {
  platform::ManualTickClock clock(1000);
  test::RecordingWindow host;
  HostCall create(1);
  plugin = std::make_unique<FailingEventsPlugin>(create.get());
  plugin->AfterConstruction();
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t\r\n");
  ASSERT_EQ(Load(host.handle()), 0);
  Feed(1, "TEMP");
  clock.Advance(1000);
  EXPECT_NO_THROW(plugin->ChkTimeoutsTimer());
  EXPECT_EQ(QueuedLogLines(), std::vector<std::string>{
                                  "\x01Tarvel. Exception std::runtime_error: event queue failed"});
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
}

// The host's window belongs to a thread that also feeds data: its handler
// of a log line feeds the client that fell silent, as a host may. The
// lines must be answered at once, not wait out the send's time limit and
// fall back to the queue. A tick's lines come in order.
TEST_F(TaPluginTest, AHostWindowWhoseThreadFeedsDataGetsItsLogLinesAtOnce) {
  platform::ManualTickClock clock(1000);
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t\r\n");
  std::atomic<platform::WindowHandle> window{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<std::string> received;  // guarded by mutex
  std::thread host_thread([&] {
    const platform::WindowHandle w = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t lparam) -> intptr_t {
          if (msg != platform::kWmCopyData) return 0;
          auto* cd = reinterpret_cast<const platform::CopyData*>(lparam);
          bool first;
          {
            std::lock_guard<std::mutex> lock(mutex);
            first = received.empty();
            received.emplace_back(static_cast<const char*>(cd->lpData), cd->cbData);
          }
          if (first) Feed(1, "TEMP");
          return 1;
        });
    window.store(w);
    platform::RunMessageLoop([&] { return stop.load(); }, 5);
    platform::DestroyMessageWindow(w);
  });
  while (window.load() == 0) platform::SleepMs(1);
  ASSERT_EQ(Load(window.load()), 0);
  Feed(1, "TEMP");
  clock.Advance(1000);
  plugin->ChkTimeoutsTimer();
  stop.store(true);
  host_thread.join();
  // In order; the batch is sent up to the event's notice, then the rest.
  std::string all;
  for (const std::string& m : received) all += m;
  EXPECT_EQ(all, "\x02Tarvel. Timeout: 1\r\n\x02Tarvel. Generating event: t\r\n");
  EXPECT_EQ(QueuedLogLines(), std::vector<std::string>{});
}

// One notice stands for the events queued until the host collects; a
// notice the host never answers (dropped, or sent to a window it has since
// replaced) is repeated, so events never wait for good behind it. A tick's
// log lines reach the host before the notice of its events.
TEST_F(TaPluginTest, ANoticeTheHostDoesNotAnswerIsRepeated) {
  platform::ManualTickClock clock(1000);
  test::RecordingWindow host, other_host;
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t\r\n");
  ASSERT_EQ(Load(host.handle()), 0);
  auto notices = [](const std::vector<test::RecordingWindow::Message>& messages) {
    return std::count_if(messages.begin(), messages.end(),
                         [](const auto& m) { return m.msg == PLUGIN_MSG_EVENTS; });
  };
  auto tick_at = [&](uint32_t tick) {
    clock.Set(tick);
    plugin->ChkTimeoutsTimer();
  };
  Feed(1, "TEMP");  // falls silent at 2000
  clock.Set(1500);
  Feed(2, "TEMP");  // at 2500
  clock.Set(1600);
  Feed(3, "TEMP");  // at 2600
  tick_at(2000);
  auto messages = host.Take();
  ASSERT_EQ(notices(messages), 1);
  EXPECT_EQ(messages.back().msg, PLUGIN_MSG_EVENTS);  // after the tick's lines

  // A command names another host window: the next event is announced there
  // at once, and that notice stands for what follows.
  HostCall call(1, "SAVE-SETTINGS-NOW");
  call.Param("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(other_host.handle())));
  plugin->ExecuteCommand("SAVE-SETTINGS-NOW", call.get());
  tick_at(2500);
  EXPECT_EQ(notices(other_host.Take()), 1);
  tick_at(2600);
  EXPECT_EQ(notices(other_host.Take()), 0);
  EXPECT_EQ(notices(host.Take()), 0);

  // Unanswered for a second: the next event announces again.
  Feed(4, "TEMP");  // at 3600
  tick_at(3600);
  EXPECT_EQ(notices(other_host.Take()), 1);
}

// A host that does not answer a notice: events raised after it wait
// uncollected, and no further event comes to announce them. The module
// announces again, at most once a second, so no event waits unannounced
// for more than 2 s; once the host has collected, the notices stop.
TEST_F(TaPluginTest, EventsLeftUncollectedAreAnnouncedAgainAtMostOnceASecond) {
  // Natively the window timers follow the manual clock, which runs in steps
  // of 100 ms; under Windows they follow real time, so there time really
  // passes (and only the order and spacing of notices are checked, not
  // how soon they come, which a busy machine could delay).
#ifdef _WIN32
  const uint32_t base = platform::TickCount() - 1000;
  auto now = [&] { return platform::TickCount() - base; };
  auto step = [] { platform::SleepMs(20); };
  auto set = [&](uint32_t tick) {
    while (platform::TickDiff(tick, now()) > 0) platform::SleepMs(5);
  };
#else
  platform::ManualTickClock clock(1000);
  auto now = [&] { return clock.Now(); };
  auto step = [&] { clock.Advance(100); };
  auto set = [&](uint32_t tick) { clock.Set(tick); };
#endif
  test::RecordingWindow host;
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t\r\n");
  ASSERT_EQ(Load(host.handle()), 0);
  Feed(1, "TEMP");  // falls silent at 2000
  set(1500);
  Feed(2, "TEMP");  // at 2500, after the first notice, with no event after it
  // This thread pumps, so the module's timers tick here, and the host sees
  // a notice at its next pump and ignores it.
  std::vector<uint32_t> notices;
  auto run_until = [&](uint32_t end) {
    while (platform::TickDiff(end, now()) > 0) {
      step();
      for (const auto& m : host.Take())
        if (m.msg == PLUGIN_MSG_EVENTS) notices.push_back(now());
    }
  };
  run_until(6000);
  ASSERT_GE(notices.size(), 2u) << "client 2's event (at 2500) was announced again";
#ifndef _WIN32
  EXPECT_LE(notices[0], 2100u) << "client 1's event";
  EXPECT_LE(notices[1], 2500u + 2000u + 100u) << "client 2's event waited at most 2 s";
  const uint32_t min_gap = 1000;
#else
  const uint32_t min_gap = 900;  // the host takes a notice a little after it was posted
#endif
  for (size_t i = 1; i < notices.size(); ++i)
    EXPECT_GE(notices[i] - notices[i - 1], min_gap) << "at most one notice a second";
  EXPECT_EQ(plugin->PendingEventItems(), 8) << "both events still wait";

  // The host collects: nothing waits, nothing more is announced.
  HostCall first(1);
  ASSERT_EQ(plugin->DoGetEvents(first.get()), 0);
  HostCall second(1);
  second.rec.Output = first.rec.Output;
  ASSERT_EQ(plugin->DoGetEvents(second.get()), 0);
  notices.clear();
  run_until(now() + 3000);
  EXPECT_TRUE(notices.empty());
}

TEST_F(TaPluginTest, ClientIdsOfUnsupportedTypesFailTheDataCall) {
  ASSERT_EQ(Load(), 0);
  auto rows = NewParamsList(kRowsParamsListClass);
  Variant& id = rows->Add("CLIENTID", OleVariant())->Value;
  id.vt = platform::VT_ERROR;
  id.lVal = static_cast<int32_t>(0x80020004u);  // an omitted parameter
  rows->Add("TEMP", OleVariant(1));
  HostCall data(1);
  data.Types(ModuleTypeBit(mttFilter));
  data.rec.Input.Kind = 1;
  data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
  EXPECT_EQ(plugin->DoProcessData(data.get()), -3);
  EXPECT_EQ(plugin->Monitor()->ClientCount(), 0u);
}

}  // namespace
}  // namespace tarvel
