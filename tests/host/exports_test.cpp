// The exports of the built modules, called exactly as the host calls them.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host_test_util.h"

namespace tarvel::test {
namespace {

TEST_F(ProductModuleTest, AnswersItsFixedProperties) {
  HostCall call(11);
  EXPECT_EQ(module->GetPluginIntfVersion(), 4);
  EXPECT_STREQ(module->GetModuleDescription(call), "Tarvel");
  EXPECT_EQ(module->GetModuleType(call), 32);
  EXPECT_FLOAT_EQ(module->GetAppMinVersion(call), 4.0f);
  EXPECT_TRUE(module->MultiThreadSupport(call));
  // Not a menu extension: no custom commands, and 0 left in Output.Data.
  char buf[64];
  call.rec.Input.Data = reinterpret_cast<uintptr_t>(buf);
  call.rec.Input.Size = sizeof buf;
  call.rec.Output.Data = 77;
  EXPECT_EQ(module->GetCustomCommands(call), 0);
  EXPECT_EQ(+call.rec.Output.Data, 0u);
  EXPECT_EQ(+call.rec.Output.Kind, 5);
  // A command the dispatcher does not know, with no handler for it.
  HostCall load(11, "Load");
  EXPECT_EQ(module->ExecutePluginCommand(load), -2);
}

TEST_F(ProductModuleTest, AMissingInstanceGetsTheMissingAnswerFromEveryExport) {
  HostCall zero(0);
  EXPECT_FLOAT_EQ(module->GetAppMinVersion(zero), -1.0f);
  EXPECT_EQ(module->GetModuleDescription(zero), nullptr);
  EXPECT_EQ(module->GetModuleType(zero), 0);
  EXPECT_FALSE(module->MultiThreadSupport(zero));
  EXPECT_EQ(module->ExecutePluginCommand(zero), -1);
  EXPECT_EQ(module->ProcessData(zero), -1);
  EXPECT_EQ(module->GetData(zero), -1);
  EXPECT_EQ(module->GetEvents(zero), -1);
  EXPECT_EQ(module->GetLogEx(zero), 0);
  EXPECT_EQ(module->GetCustomCommands(zero), 0);
  // Null records are refused without touching anything.
  EXPECT_FLOAT_EQ(module->GetAppMinVersion(nullptr), -1.0f);
  EXPECT_EQ(module->GetModuleType(nullptr), 0);
  EXPECT_EQ(module->ExecutePluginCommand(nullptr), -1);
  EXPECT_EQ(module->ProcessData(nullptr), -1);
  EXPECT_EQ(module->GetLogEx(nullptr), 0);
  module->ShowOptionsDialog(nullptr);
  zero.rec.Output = {};
  module->ShowOptionsDialog(zero);
  EXPECT_EQ(+zero.rec.Output.Data, 2u);
  EXPECT_EQ(+zero.rec.Output.Kind, 5);
  EXPECT_EQ(+zero.rec.Output.Size, 4);
}

TEST_F(ProbeModuleTest, OptionsDialogWithoutHandlerReportsThree) {
  EXPECT_EQ(Command(module, 12, "NO-OPTIONS"), 0);
  HostCall call(12);
  module->ShowOptionsDialog(call);
  EXPECT_EQ(+call.rec.Output.Data, 3u);
  EXPECT_EQ(+call.rec.Output.Kind, 5);
  EXPECT_EQ(+call.rec.Output.Size, 4);
}

TEST_F(ProbeModuleTest, BadRecordsGetTheirCodesAndCreateNothing) {
  const int before = std::stoi(State(module, 900)["instances"]);
  struct Case {
    const char* name;
    void (*prepare)(HostCall&);
    int32_t expected;
    int created;
  } cases[] = {
      {"wrong marker", [](HostCall& c) { c.rec.Marker = 101; }, -1, 0},
      {"id 0", [](HostCall& c) { c.rec.InstanceId = 0; }, -1, 0},
      {"null params", [](HostCall& c) { c.rec.Params = nullptr; }, -1, 0},
      {"release without params, unknown id",
       [](HostCall& c) {
         c.rec.Params = nullptr;
         c.rec.Action = 255;
       },
       -1, 0},
      {"no COMMAND", [](HostCall& c) { c.Param("COMMAND", OleVariant()); }, -1, 1},
      {"null COMMAND", [](HostCall& c) { c.Param("COMMAND", OleVariant::Null()); }, -1, 1},
      {"signature 0", [](HostCall& c) { c.params->Signature = 0; }, -3, 1},
  };
  uint32_t id = 1000;
  int created = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostCall call(++id, "PROBE-STATE");
    c.prepare(call);
    EXPECT_EQ(module->ExecutePluginCommand(call), c.expected);
    call.params->Signature = kParamsListSignature;
    created += c.created;
    EXPECT_EQ(std::stoi(State(module, 900)["instances"]), before + created);
  }
}

TEST_F(ProbeModuleTest, LifecycleOfLoadUnloadReleaseAndRecreate) {
  constexpr uint32_t id = 31;
  struct Step {
    const char* what;
    int32_t expected;
    const char* load;
    const char* unloaded;
    const char* onload;
    const char* onunload;
    const char* rows;
  } steps[] = {
      {"create", 0, "0", "0", "0", "0", "0"},
      {"LOAD", 0, "1", "0", "1", "0", "1"},
      {"LOAD", 0, "2", "0", "1", "0", "1"},
      {"UNLOAD", 0, "1", "0", "1", "0", "1"},
      {"UNLOAD", 0, "0", "1", "1", "1", "0"},
      {"UNLOAD", 0, "0", "1", "1", "1", "0"},
      {"LOAD", 0, "1", "0", "2", "1", "1"},
      {"release", 0, "0", "0", "0", "0", "0"},  // a fresh object
      {"LOAD", 0, "1", "0", "1", "0", "1"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const std::string what = s.what;
    if (what == "release") {
      HostCall release(id);
      release.rec.Action = 255;
      EXPECT_EQ(module->GetModuleType(release), 0);
      EXPECT_EQ(module->ExecutePluginCommand(release), -1);  // already gone
    } else if (what != "create") {
      EXPECT_EQ(Command(module, id, s.what), s.expected);
    }
    auto state = State(module, id);
    EXPECT_EQ(state["load"], s.load);
    EXPECT_EQ(state["unloaded"], s.unloaded);
    EXPECT_EQ(state["onload"], s.onload);
    EXPECT_EQ(state["onunload"], s.onunload);
    EXPECT_EQ(state["rows"], s.rows);
    EXPECT_EQ(state["events"], s.rows);
  }
}

TEST_F(ProbeModuleTest, DataCallsAreRefusedAfterTheLastUnload) {
  constexpr uint32_t id = 32;
  EXPECT_EQ(Command(module, id, "LOAD"), 0);
  HostCall data(id);
  data.Types(ModuleTypeBit(mttFilter));
  EXPECT_EQ(module->ProcessData(data), 0);
  EXPECT_EQ(Command(module, id, "UNLOAD"), 0);
  EXPECT_EQ(module->ProcessData(data), -1);
  EXPECT_EQ(module->GetEvents(data), -1);
  EXPECT_EQ(module->GetData(data), -1);
}

TEST_F(ProbeModuleTest, TwoIdsTwoInstancesSameIdSameInstance) {
  auto a = State(module, 41), b = State(module, 42), a2 = State(module, 41);
  EXPECT_EQ(a["id"], "41");
  EXPECT_EQ(b["id"], "42");
  EXPECT_EQ(std::stoi(a2["instances"]), std::stoi(a["instances"]) + 1);
  EXPECT_EQ(Command(module, 41, "LOAD"), 0);
  EXPECT_EQ(State(module, 41)["load"], "1");
  EXPECT_EQ(State(module, 42)["load"], "0");
}

TEST_F(ProbeModuleTest, VersionTextReadsTheModulesVersion) {
  EXPECT_EQ(State(module, 43)["version"], std::to_string(TARVEL_VERSION_MAJOR) + "." +
                                              std::to_string(TARVEL_VERSION_MINOR) + "." +
                                              std::to_string(TARVEL_VERSION_PATCH) + " build " +
                                              std::to_string(TARVEL_VERSION_BUILD));
}

TEST_F(ProbeModuleTest, ModuleTypeCombinesRolesAndOptions) {
  HostCall set(44, "SET-TYPE");
  set.Param("TYPES", OleVariant(32 + 128)).Param("OPTIONS", OleVariant(1));
  EXPECT_EQ(module->ExecutePluginCommand(set), 0);
  HostCall call(44);
  EXPECT_EQ(module->GetModuleType(call), 32 + 128 + 65536);
}

TEST(ModuleShutdown, AfterUnloadingTheModuleAFreshLoadStartsEmpty) {
  {
    LoadedModule module(ProbeModulePath());
    ASSERT_TRUE(module.ok()) << module.error();
    EXPECT_EQ(Command(module, 51, "LOAD"), 0);
  }
  LoadedModule again(ProbeModulePath());
  ASSERT_TRUE(again.ok()) << again.error();
  auto state = State(again, 51);
  EXPECT_EQ(state["load"], "0");
}

}  // namespace
}  // namespace tarvel::test

namespace tarvel::test {
namespace {

TEST_F(ProbeModuleTest, OptionsDialogReportsItsAnswerAndConfirmedSettingsReloadSiblings) {
  auto load = [&](uint32_t id, const char* path) {
    HostCall call(id, "LOAD");
    call.Param("RegistryPath", OleVariant(path));
    ASSERT_EQ(module->ExecutePluginCommand(call), 0);
  };
  load(81, "Soft\\Shared");
  load(82, "Soft\\Shared");
  load(83, "Soft\\Other");
  load(84, "soft\\shared");  // paths compare exactly
  struct {
    int ok;
    uintptr_t status;
    const char* sibling_saves;
  } cases[] = {{0, 0, ""}, {1, 1, "L:,"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ok);
    HostCall answer(81, "OPTIONS-ANSWER");
    answer.Param("OK", OleVariant(c.ok));
    ASSERT_EQ(module->ExecutePluginCommand(answer), 0);
    HostCall dialog(81);
    dialog.Param("INI-FILE", OleVariant("dlg.ini")).Param("OWNERFORM", OleVariant(4321));
    module->ShowOptionsDialog(dialog);
    EXPECT_EQ(+dialog.rec.Output.Data, c.status);
    EXPECT_EQ(+dialog.rec.Output.Kind, 5);
    EXPECT_EQ(+dialog.rec.Output.Size, 4);
    EXPECT_EQ(State(module, 82)["saves"], c.sibling_saves);
    EXPECT_EQ(State(module, 81)["saves"], "");  // the dialog's own instance is not reloaded
    EXPECT_EQ(State(module, 83)["saves"], "");
    EXPECT_EQ(State(module, 84)["saves"], "");
  }
  auto state = State(module, 81);
  EXPECT_EQ(state["ini"], "dlg.ini");
  EXPECT_EQ(state["owner"], "4321");
}

}  // namespace
}  // namespace tarvel::test
