// The shipped module end to end, in this process: the real tarvel.dll (or
// libtarvel.so) loaded like the host loads it, settings in a real INI file
// and the real registry, a real host window on this thread, and real time:
// the module's check timer ticks only while this thread pumps messages.
// Timeouts are a few hundred milliseconds and every wait is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "Plugins/vopPluginTypes.h"
#include "host/host_test_util.h"
#include "host/host_window.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "support/process.h"
#include "support/test_support.h"

namespace tarvel::test {
namespace {

constexpr uint32_t kTag = 77;

// Two watched variables of one second; resume events on. A client that
// reports every 100 ms keeps a wide margin even on a loaded machine.
constexpr uint32_t kTimeoutMs = 1000;
const char* const kSettings =
    "[Common]\r\n"
    "Var1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=temp-timeout\r\n"
    "Var2=Press\r\nType2=0\r\nVal2=1000\r\nEvent2=press-lost\r\n"
    "Resume event=True\r\n";

struct Event {
  std::string name, client, item;
  bool operator==(const Event&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << e.name << "(" << e.client << "," << e.item << ")";
}

class TarvelModuleTest : public ProductModuleTest {
 protected:
  int32_t Command(uint32_t id, const char* command,
                  std::initializer_list<std::pair<const char*, OleVariant>> params = {}) {
    HostCall call(id, command);
    call.rec.HostTag = kTag;
    for (const auto& [name, value] : params) call.Param(name, value);
    return module->ExecutePluginCommand(call);
  }
  int32_t Load(uint32_t id, std::initializer_list<std::pair<const char*, OleVariant>> params) {
    HostCall call(id, "LOAD");
    call.rec.HostTag = kTag;
    call.Param("MessagesProcessorHandle", OleVariant(host.HandleParam()));
    for (const auto& [name, value] : params) call.Param(name, value);
    return module->ExecutePluginCommand(call);
  }
  // Feed sends one data portion of rows "NAME=VALUE ..." (values are text
  // unless they parse as integers).
  int32_t Feed(uint32_t id,
               const std::vector<std::vector<std::pair<std::string, OleVariant>>>& rows) {
    auto list = NewParamsList(kRowsParamsListClass);
    for (const auto& row : rows) {
      for (const auto& [name, value] : row) list->Add(name, value);
      list->AddNewRow();
    }
    HostCall data(id);
    data.Types(ModuleTypeBit(mttFilter));
    data.rec.Input.Kind = 1;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(list.get());
    const int32_t r = module->ProcessData(data);
    if (r == 0) {  // the data comes back unchanged
      EXPECT_EQ(+data.rec.Output.Data, reinterpret_cast<uintptr_t>(list.get()));
      EXPECT_EQ(+data.rec.Output.Kind, 1);
    }
    return r;
  }
  // Collect gathers the events queued so far (the host's two calls).
  std::vector<Event> Collect(uint32_t id) {
    HostCall first(id);
    EXPECT_EQ(module->GetEvents(first), 0);
    auto* list = reinterpret_cast<TvopParamsList*>(+first.rec.Output.Data);
    std::vector<Event> out;
    Event e;
    for (int32_t i = 0; list && i < list->Count; ++i) {
      const TvopParamsListItem* item = list->Item(i);
      const std::string name(item->NameView());
      const std::string value = OleVariant::CopyOf(item->Value).ToAnsi();
      if (name == "$NEW_ROW$") {
        out.push_back(e);
        e = {};
      } else if (name == "EVENT-TYPE") {
        e.name = value;
      } else if (name == "CLIENTID-ITEM") {
        e.client = value;
      } else if (name == "PARSER-ITEM") {
        e.item = value;
        EXPECT_EQ(item->Value.vt, platform::VT_BSTR);
      }
    }
    HostCall second(id);
    second.rec.Output = first.rec.Output;
    EXPECT_EQ(module->GetEvents(second), 0);
    return out;
  }
  // PumpFor pumps this thread's messages (the module's timer ticks here)
  // for about ms milliseconds of real time.
  void PumpFor(uint32_t ms) {
    const uint32_t start = platform::SystemTickCount();
    while (platform::TickDiff(platform::SystemTickCount(), start) < static_cast<int32_t>(ms)) {
      host.Pump();
      platform::SleepMs(5);
    }
    host.Pump();
  }
  // WaitForEvents pumps until at least n events are queued (at most 10 s)
  // and returns everything collected.
  std::vector<Event> WaitForEvents(uint32_t id, size_t n) {
    std::vector<Event> all;
    const uint32_t start = platform::SystemTickCount();
    while (all.size() < n && platform::TickDiff(platform::SystemTickCount(), start) < 10000) {
      PumpFor(20);
      for (const Event& e : Collect(id)) all.push_back(e);
    }
    return all;
  }
  // LogLines: the lines received by WM_COPYDATA, alone or in a batch.
  std::vector<std::string> LogLines() { return host.LogLines(); }

  void SetUp() override {
    ProductModuleTest::SetUp();
#ifndef _WIN32
    // The file-backed registry of this build lives in the test's own folder.
    setenv("TARVEL_REGISTRY_DIR", dir.File("registry").c_str(), 1);
#endif
  }

  TempDir dir;
  RecordingWindow host;
};

using Row = std::vector<std::pair<std::string, OleVariant>>;

// RunDemoHost runs the stand-in host program with the shipped module and
// the demo feed, the settings place given by settings_args.
ProgramResult RunDemoHost(std::vector<std::string> settings_args) {
  std::vector<std::string> args = {"--module", ProductModulePath(),
                                   "--feed",   TestDataPath("../../examples/demo.feed"),
                                   "--linger", "500"};
  args.insert(args.end(), settings_args.begin(), settings_args.end());
  return RunProgram(ProgramBesideTests("tarvel-host"), args, {}, 60000);
}

// ExpectDemoOutput checks what the demo prints: boiler 2 falls silent, both
// its watches time out in row order, and both resume when it comes back.
void ExpectDemoOutput(const ProgramResult& r) {
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> expected = {
      "LOG 1 Tarvel. Timeout: 2",
      "LOG 1 Tarvel. Generating event: temp-timeout",
      "EVENT TEMP-TIMEOUT CLIENTID-ITEM=2 PARSER-ITEM=\"temp\"",
      "LOG 1 Tarvel. Generating event: press-lost",
      "EVENT PRESS-LOST CLIENTID-ITEM=2 PARSER-ITEM=\"press\"",
      "LOG 2 Tarvel. Generating event: temp-timeout-RESUME",
      "EVENT TEMP-TIMEOUT-RESUME CLIENTID-ITEM=2 PARSER-ITEM=\"temp\"",
      "EVENT PRESS-LOST-RESUME CLIENTID-ITEM=2 PARSER-ITEM=\"press\"",
  };
  // The lines appear in this order (other lines between), each event once.
  size_t at = 0;
  for (const std::string& line : expected) {
    SCOPED_TRACE(line);
    const size_t found = r.out.find(line, at);
    ASSERT_NE(found, std::string::npos) << r.out;
    if (line.rfind("EVENT", 0) == 0) {
      EXPECT_EQ(r.out.find(line, found + line.size()), std::string::npos) << "twice:\n" << r.out;
    }
    at = found + line.size();
  }
  // Boiler 1 never fell silent.
  EXPECT_EQ(r.out.find("CLIENTID-ITEM=1"), std::string::npos) << r.out;
}

TEST_F(TarvelModuleTest, SilenceTimeoutResumeReloadAndUnloadWithAnIniFile) {
  constexpr uint32_t id = 1;
  const std::string ini = dir.File("tarvel.ini");
  WriteWholeFile(ini, kSettings);
  ASSERT_EQ(Load(id, {{"INI-FILE", OleVariant(ini)}}), 0);
  EXPECT_EQ(
      Command(id, "SET-ITEMS", {{"ITEMS", OleVariant("src|TEMP|Float|\r\nsrc|Press|Float|")}}), 0);

  // Two clients; client 2 also carries PRESS, client 1 only TEMP.
  ASSERT_EQ(
      Feed(id,
           {Row{{"CLIENTID", OleVariant(1)}, {"TEMP", OleVariant(20.5)}},
            Row{{"ClientId", OleVariant(2)}, {"TEMP", OleVariant(21)}, {"PRESS", OleVariant(1)}}}),
      0);
  // Client 1 keeps sending TEMP; client 2 falls silent.
  std::vector<Event> events;
  const uint32_t start = platform::SystemTickCount();
  while (events.size() < 2 && platform::TickDiff(platform::SystemTickCount(), start) < 10000) {
    PumpFor(100);
    ASSERT_EQ(Feed(id, {Row{{"CLIENTID", OleVariant(1)}, {"TEMP", OleVariant(20)}}}), 0);
    for (const Event& e : Collect(id)) events.push_back(e);
  }
  // Client 1's PRESS never came (waiting for data); client 2's two watches fired, in row order.
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (Event{"TEMP-TIMEOUT", "2", "temp"}));
  EXPECT_EQ(events[1], (Event{"PRESS-LOST", "2", "press"}));
  auto lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\x02Tarvel. Timeout: 2"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\x02Tarvel. Generating event: temp-timeout"),
            lines.end());

  // Event-once: no repeat while client 2 stays silent (client 1 keeps talking).
  for (uint32_t waited = 0; waited < kTimeoutMs + 300; waited += 100) {
    PumpFor(100);
    Feed(id, {Row{{"CLIENTID", OleVariant(1)}, {"TEMP", OleVariant(20)}}});
  }
  EXPECT_TRUE(Collect(id).empty());

  // Client 2 comes back with TEMP: one resume event.
  ASSERT_EQ(Feed(id, {Row{{"CLIENTID", OleVariant(2)}, {"TEMP", OleVariant(22)}}}), 0);
  events = Collect(id);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (Event{"TEMP-TIMEOUT-RESUME", "2", "temp"}));
  lines = LogLines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "\x03Tarvel. Generating event: temp-timeout-RESUME"),
      lines.end());

  // Reloading the settings drops every client: silence now raises nothing.
  EXPECT_EQ(Command(id, "LOAD-SETTINGS-NOW"), -2);
  PumpFor(kTimeoutMs + 300);
  EXPECT_TRUE(Collect(id).empty());
  // A client seen again starts afresh.
  ASSERT_EQ(Feed(id, {Row{{"CLIENTID", OleVariant(3)}, {"TEMP", OleVariant(1)}}}), 0);
  events = WaitForEvents(id, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (Event{"TEMP-TIMEOUT", "3", "temp"}));

  // UNLOAD: no more data, no more events; the settings file keeps its content.
  ASSERT_EQ(Feed(id, {Row{{"CLIENTID", OleVariant(4)}, {"TEMP", OleVariant(1)}}}), 0);
  EXPECT_EQ(Command(id, "UNLOAD", {{"INI-FILE", OleVariant(ini)}}), 0);
  EXPECT_EQ(Feed(id, {Row{{"CLIENTID", OleVariant(4)}, {"TEMP", OleVariant(1)}}}), -1);
  PumpFor(kTimeoutMs + 300);
  HostCall events_call(id);
  EXPECT_EQ(module->GetEvents(events_call), -1);
}

// A host on the tick's own thread gets a full queue handed to it mid-tick;
// its handler collects and then releases the instance. The tick finishes
// on an instance that stays until it is done (ASan sees any use after it).
TEST_F(TarvelModuleTest, AHostReleasingTheInstanceWhenATickHandsItTheQueueLetsTheTickFinish) {
  constexpr uint32_t id = 9;
  constexpr int kClients = 6000;  // two timeouts each: the queue passes its limit mid-tick
  const std::string ini = dir.File("tarvel.ini");
  WriteWholeFile(ini, kSettings);
  size_t collected = 0;
  bool released = false;
  const platform::WindowHandle collector = platform::CreateMessageWindow(
      [&](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
        if (msg == PLUGIN_MSG_EVENTS && !released) {
          collected += Collect(id).size();
          HostCall release(id);
          release.rec.Action = kActionRelease;
          EXPECT_EQ(module->GetModuleType(release), 0);
          released = true;
        }
        return 1;
      });
  HostCall load(id, "LOAD");
  load.rec.HostTag = kTag;
  load.Param("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(collector)));
  load.Param("INI-FILE", OleVariant(ini));
  ASSERT_EQ(module->ExecutePluginCommand(load), 0);
  ASSERT_EQ(
      Command(id, "SET-ITEMS", {{"ITEMS", OleVariant("src|TEMP|Float|\r\nsrc|Press|Float|")}}), 0);
  std::vector<Row> rows;
  for (int c = 0; c < kClients; ++c)
    rows.push_back(
        Row{{"CLIENTID", OleVariant(c)}, {"TEMP", OleVariant(1)}, {"PRESS", OleVariant(1)}});
  ASSERT_EQ(Feed(id, rows), 0);

  const uint32_t start = platform::SystemTickCount();
  while (!released && platform::TickDiff(platform::SystemTickCount(), start) < 20000) PumpFor(50);
  PumpFor(100);  // the tick's notices after the release find no instance
  EXPECT_TRUE(released);
  EXPECT_GT(collected, 0u);
  platform::DestroyMessageWindow(collector);
}

TEST_F(TarvelModuleTest, SettingsMoveFromAnIniFileIntoTheRegistry) {
  // A key of its own per run, under the machine root or the user's.
  const std::string key = "Software\\TarvelTests\\" + platform::NewGuidText();
  const std::string ini = dir.File("import.ini");
  WriteWholeFile(ini, kSettings);
  // The first instance starts with an empty store, reads the INI file and
  // saves what it read to its usual place, the registry.
  ASSERT_EQ(Load(10, {{"RegistryPath", OleVariant(key)}}), 0);
  EXPECT_EQ(Command(10, "LOAD-SETTINGS-NOW", {{"INI-FILE", OleVariant(ini)}}), -2);
  // A second instance with the same place watches what was saved.
  ASSERT_EQ(Load(11, {{"RegistryPath", OleVariant(key)}}), 0);
  ASSERT_EQ(Feed(11, {Row{{"CLIENTID", OleVariant("north")}, {"press", OleVariant(1)}}}), 0);
  std::vector<Event> events = WaitForEvents(11, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (Event{"PRESS-LOST", "north", "press"}));
  EXPECT_EQ(Command(10, "UNLOAD"), 0);
  EXPECT_EQ(Command(11, "UNLOAD"), 0);
}

// The demo with its settings in the registry: an instance given the key
// imports the demo settings file and saves them there, then the stand-in
// host program hands the module that key, as the real host does when it
// keeps settings in the registry.
TEST_F(TarvelModuleTest, TheHostProgramRunsTheDemoWithSettingsInTheRegistry) {
  const std::string key = "Software\\TarvelTests\\" + platform::NewGuidText();
  ASSERT_EQ(Load(40, {{"RegistryPath", OleVariant(key)}}), 0);
  EXPECT_EQ(Command(40, "LOAD-SETTINGS-NOW",
                    {{"INI-FILE", OleVariant(TestDataPath("../../examples/demo.ini"))}}),
            -2);
  EXPECT_EQ(Command(40, "UNLOAD"), 0);
  ExpectDemoOutput(RunDemoHost({"--registry-path", key}));
}

TEST_F(TarvelModuleTest, DataBeforeTheFirstLoadFailsAndTouchesNothing) {
  HostCall data(20);
  data.Types(ModuleTypeBit(mttFilter));
  auto list = NewParamsList(kRowsParamsListClass);
  list->Add("TEMP", OleVariant(1));
  data.rec.Input.Kind = 1;
  data.rec.Input.Data = reinterpret_cast<uintptr_t>(list.get());
  EXPECT_EQ(module->ProcessData(data), -3);
  EXPECT_EQ(+data.rec.Output.Data, 0u);
  EXPECT_EQ(list->Count, 1);
}

TEST_F(TarvelModuleTest, SavingWhileUnloadedDoesNothing) {
  const std::string ini = dir.File("never.ini");
  EXPECT_EQ(Command(30, "SAVE-SETTINGS-NOW", {{"INI-FILE", OleVariant(ini)}}), -2);
  std::ifstream in(ini);
  EXPECT_FALSE(in.good());
  ASSERT_EQ(Load(30, {{"INI-FILE", OleVariant(ini)}}), 0);
  EXPECT_EQ(Command(30, "SAVE-SETTINGS-NOW", {{"INI-FILE", OleVariant(ini)}}), -2);
  const std::string text = ReadWholeFile(ini);
  EXPECT_NE(text.find("Client variable=CLIENTID"), std::string::npos) << text;
  EXPECT_NE(text.find("Resume event suffix=-RESUME"), std::string::npos) << text;
  EXPECT_EQ(Command(30, "UNLOAD", {{"INI-FILE", OleVariant(ini)}}), 0);
}

}  // namespace
}  // namespace tarvel::test

namespace tarvel::test {
namespace {

// The bundled demo, run as a user runs it: the stand-in host program with
// the shipped module, the demo settings file and the demo feed.
TEST(TarvelHostDemo, OneBoilerFallsSilentAndComesBack) {
  TempDir dir;
  const std::string ini = dir.File("demo.ini");
  {
    std::ifstream in(TestDataPath("../../examples/demo.ini"), std::ios::binary);
    std::ofstream(ini, std::ios::binary) << in.rdbuf();
  }
  ExpectDemoOutput(RunDemoHost({"--ini", ini}));
}

}  // namespace
}  // namespace tarvel::test
