// The options of the shipped module end to end, without a screen: values
// handed to ShowOptionsDialog (OPTIONS-SET) go through the options form and
// its OK, the export reports the outcome, the instance and its siblings at
// the same settings place watch with what was saved; and the stand-in host
// program does the same with "options --set".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_test_util.h"
#include "host/host_window.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "support/process.h"
#include "support/test_support.h"

namespace tarvel::test {
namespace {

class TarvelOptionsTest : public ProductModuleTest {
 protected:
  void SetUp() override {
    ProductModuleTest::SetUp();
#ifndef _WIN32
    setenv("TARVEL_REGISTRY_DIR", dir.File("registry").c_str(), 1);
#endif
  }
  int32_t Load(uint32_t id) {
    HostCall call(id, "LOAD");
    call.Param("MessagesProcessorHandle", OleVariant(host.HandleParam()))
        .Param("RegistryPath", OleVariant(place))
        .Param("INI-FILE", OleVariant(ini));
    return module->ExecutePluginCommand(call);
  }
  // Options calls the export with values to enter; the record comes back.
  void Options(HostCall& call, const char* values) {
    call.Param("INI-FILE", OleVariant(ini)).Param("OPTIONS-SET", OleVariant(values));
    module->ShowOptionsDialog(call);
  }
  int32_t Feed(uint32_t id, const char* variable) {
    auto list = NewParamsList(kRowsParamsListClass);
    list->Add("CLIENTID", OleVariant(1));
    list->Add(variable, OleVariant(1));
    list->AddNewRow();
    HostCall data(id);
    data.Types(ModuleTypeBit(mttFilter));
    data.rec.Input.Kind = kValueKindList;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(list.get());
    return module->ProcessData(data);
  }
  // EventsWithin pumps (the check timers tick on this thread) until ms pass
  // and returns the names of the events instance id raised meanwhile.
  std::vector<std::string> EventsWithin(uint32_t id, uint32_t ms) {
    std::vector<std::string> names;
    const uint32_t start = platform::SystemTickCount();
    while (platform::TickDiff(platform::SystemTickCount(), start) < static_cast<int32_t>(ms)) {
      host.Pump();
      platform::SleepMs(10);
    }
    HostCall first(id);
    EXPECT_EQ(module->GetEvents(first), 0);
    auto* list = reinterpret_cast<TvopParamsList*>(+first.rec.Output.Data);
    for (int32_t i = 0; list && i < list->Count; ++i)
      if (list->Item(i)->NameView() == "EVENT-TYPE")
        names.push_back(OleVariant::CopyOf(list->Item(i)->Value).ToAnsi());
    HostCall second(id);
    second.rec.Output = first.rec.Output;
    EXPECT_EQ(module->GetEvents(second), 0);
    return names;
  }

  TempDir dir;
  std::string ini = dir.File("options.ini");
  std::string place = "Software\\TarvelTests\\Options";
  RecordingWindow host;
};

TEST_F(TarvelOptionsTest, ConfirmedValuesAreSavedAndWatchedByTheInstanceAndItsSiblings) {
  WriteWholeFile(ini, "[Common]\r\nVar1=PRESS\r\nType1=0\r\nVal1=100\r\nEvent1=press-lost\r\n");
  ASSERT_EQ(Load(1), 0);
  ASSERT_EQ(Load(2), 0);  // a sibling at the same place

  HostCall call(1);
  Options(call, "Var1=TEMP\r\nType1=Millisecond\r\nVal1=150\r\nEvent1=temp-lost\r\n");
  EXPECT_EQ(+call.rec.Output.Kind, kValueKindInteger);
  EXPECT_EQ(+call.rec.Output.Size, 4);
  EXPECT_EQ(+call.rec.Output.Data, kOptionsConfirmed);
  const std::string stored = ReadWholeFile(ini);
  EXPECT_NE(stored.find("Var1=TEMP\r\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Event1=temp-lost\r\n"), std::string::npos) << stored;

  // Both instances now watch TEMP, and PRESS no more.
  for (uint32_t id : {1u, 2u}) {
    SCOPED_TRACE(id);
    ASSERT_EQ(Feed(id, "TEMP"), 0);
    ASSERT_EQ(Feed(id, "PRESS"), 0);
  }
  for (uint32_t id : {1u, 2u}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(EventsWithin(id, 700), std::vector<std::string>{"TEMP-LOST"});
  }
  EXPECT_EQ(Command(module, 1, "UNLOAD"), 0);
  EXPECT_EQ(Command(module, 2, "UNLOAD"), 0);
}

TEST_F(TarvelOptionsTest, RefusedValuesCancelSaveNothingAndAreLogged) {
  WriteWholeFile(ini, "[Common]\r\nVar1=PRESS\r\n");
  ASSERT_EQ(Load(3), 0);
  HostCall call(3);
  Options(call, "Var1=TEMP\r\nType1=fortnight\r\n");
  EXPECT_EQ(+call.rec.Output.Data, kOptionsCancelled);
  EXPECT_NE(ReadWholeFile(ini).find("Var1=PRESS\r\n"), std::string::npos);
  bool logged = false;
  for (const auto& m : host.Take())
    if (m.msg == platform::kWmCopyData &&
        m.text.find("Options not set: Type1: \"fortnight\" is not in the list") !=
            std::string::npos)
      logged = true;
  EXPECT_TRUE(logged);
  EXPECT_EQ(Command(module, 3, "UNLOAD"), 0);
}

TEST_F(TarvelOptionsTest, ConfirmedBeforeLoadSavesForTheFirstLoad) {
  HostCall call(4);
  Options(call, "Var2=LEVEL\r\nType2=1\r\nVal2=1\r\n");
  EXPECT_EQ(+call.rec.Output.Data, kOptionsConfirmed);
  EXPECT_NE(ReadWholeFile(ini).find("Var2=LEVEL\r\n"), std::string::npos);
  // Nothing is watched before LOAD: data still fails as before.
  EXPECT_EQ(Feed(4, "LEVEL"), -3);
}

// A host that names neither an INI file nor a registry key: confirmed
// options cannot be stored, yet they are what the instance watches with,
// and the host's log says once why they were not stored; a save asked for
// by the host says the same. Nothing is written at a registry root.
TEST_F(TarvelOptionsTest, ConfirmedWithoutASettingsPlaceTheValuesApplyAndTheLossIsLogged) {
  constexpr uint32_t id = 6;
  HostCall load(id, "LOAD");
  load.Param("MessagesProcessorHandle", OleVariant(host.HandleParam()));
  ASSERT_EQ(module->ExecutePluginCommand(load), 0);
  host.Take();
  auto no_place_lines = [&] {
    int n = 0;
    for (const std::string& line : host.LogLines()) {
      if (line.find("Settings not saved") == std::string::npos) continue;
      ++n;
      EXPECT_EQ(line.substr(0, 8), "\x02Tarvel.") << "level 1: " << line;
      EXPECT_NE(line.find("no place"), std::string::npos) << line;
    }
    return n;
  };

  HostCall call(id);
  call.Param("OPTIONS-SET", OleVariant("Var1=TEMP\r\nType1=Millisecond\r\nVal1=150\r\n"
                                       "Event1=temp-lost\r\n"));
  module->ShowOptionsDialog(call);
  EXPECT_EQ(+call.rec.Output.Data, kOptionsConfirmed);
  EXPECT_EQ(no_place_lines(), 1);
  ASSERT_EQ(Feed(id, "TEMP"), 0);
  EXPECT_EQ(EventsWithin(id, 700), std::vector<std::string>{"TEMP-LOST"});

  HostCall save(id, "SAVE-SETTINGS-NOW");
  save.Param("MessagesProcessorHandle", OleVariant(host.HandleParam()));
  module->ExecutePluginCommand(save);
  EXPECT_EQ(no_place_lines(), 1);

  for (auto root :
       {platform::RegistryRootKey::kLocalMachine, platform::RegistryRootKey::kCurrentUser}) {
    SCOPED_TRACE(platform::RegistryRootName(root));
    platform::RegistryKey key;
    if (key.Open(root, "")) {
      EXPECT_FALSE(key.ValueExists("Var1"));
    }
  }
  EXPECT_EQ(Command(module, id, "UNLOAD"), 0);
}

// tarvel-host options --set: the values through the form, then the feed
// replayed against the running monitor.
TEST(TarvelHostOptions, SetValuesAreSavedAndTheFeedAfterwardsUsesThem) {
  TempDir dir;
  const std::string ini = dir.File("host.ini");
  const std::string feed = dir.File("feed.txt");
  WriteWholeFile(ini, "[Common]\r\n");
  WriteWholeFile(feed, "CLIENTID=7 TEMP=20 PRESS=1\n+300\nCLIENTID=7 PRESS=1\n");
  ProgramResult r = RunProgram(ProgramBesideTests("tarvel-host"), {"options",
                                                                   "--module",
                                                                   ProductModulePath(),
                                                                   "--ini",
                                                                   ini,
                                                                   "--set",
                                                                   "Var1=TEMP",
                                                                   "--set",
                                                                   "Type1=Second",
                                                                   "--set",
                                                                   "Val1=-3",
                                                                   "--set",
                                                                   "Val1=1",
                                                                   "--set",
                                                                   "Event1=temp-lost",
                                                                   "--set",
                                                                   "Wait data=false",
                                                                   "--feed",
                                                                   feed,
                                                                   "--linger",
                                                                   "1500"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("options: confirmed"), std::string::npos) << r.err;
  const std::string stored = ReadWholeFile(ini);
  for (const char* line : {"Var1=TEMP", "Type1=1", "Val1=1", "Event1=temp-lost", "Wait data=False"})
    EXPECT_NE(stored.find(std::string(line) + "\r\n"), std::string::npos) << line << "\n" << stored;
  // No window was shown: no place of the dialog's is stored, which would
  // keep the host's next dialog from opening centred (or put it off the
  // screen).
  for (const char* key : {"Left=", "Top=", "Width=", "Height="})
    EXPECT_EQ(stored.find(key), std::string::npos) << key << "\n" << stored;
  EXPECT_NE(r.out.find("EVENT TEMP-LOST CLIENTID-ITEM=7 PARSER-ITEM=\"temp\""), std::string::npos)
      << r.out;
}

TEST(TarvelHostOptions, ANegativeTimeoutIsSavedAsZeroAndRefusedValuesEndWithCode4) {
  TempDir dir;
  const std::string ini = dir.File("host.ini");
  WriteWholeFile(ini, "[Common]\r\n");
  const std::string host = ProgramBesideTests("tarvel-host");
  ProgramResult ok = RunProgram(host, {"options", "--module", ProductModulePath(), "--ini", ini,
                                       "--set", "val2=-5", "--set", "Client variable=BOILER"});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_NE(ReadWholeFile(ini).find("Val2=0\r\n"), std::string::npos) << ReadWholeFile(ini);
  EXPECT_NE(ReadWholeFile(ini).find("Client variable=BOILER\r\n"), std::string::npos);

  ProgramResult refused = RunProgram(host, {"options", "--module", ProductModulePath(), "--ini",
                                            ini, "--set", "Var7=X", "--set", "Var1=Y"});
  EXPECT_EQ(refused.exit_code, 4) << refused.err;
  EXPECT_NE(refused.out.find("LOG 1 Tarvel. Options not set: Var7: no control named Var7"),
            std::string::npos)
      << refused.out;
  EXPECT_EQ(ReadWholeFile(ini).find("Var1=Y"), std::string::npos);

  ProgramResult bad = RunProgram(host, {"--set", "Var1=Y"});
  EXPECT_EQ(bad.exit_code, 2);
}

}  // namespace
}  // namespace tarvel::test
