// The command protocol through ExecutePluginCommand.
#include <gtest/gtest.h>

#include "host/host_test_util.h"

namespace tarvel::test {
namespace {

TEST_F(ProbeModuleTest, ParserItemsRoundTripThroughSetItemsAndItems) {
  struct {
    const char* name;
    const char* items;
    const char* expected_text;
    const char* count;
  } cases[] = {
      {"known type, short line skipped", "src|Temp|float|unit\r\nx", "src|Temp|Float|unit", "1"},
      {"missing type", "src|Level", "src|Level||", "1"},
      {"unknown type, empty fields kept", "a|B|nope|\nc||INT64|e|f", "a|B||\r\nc||Int64|e", "2"},
      {"empty", "", "", "0"},
  };
  uint32_t id = 60;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostCall set(++id, "SET-ITEMS");
    set.Param("ITEMS", OleVariant(c.items));
    EXPECT_EQ(module->ExecutePluginCommand(set), 0);
    HostCall items(id, "ITEMS");
    items.WithResult();
    EXPECT_EQ(module->ExecutePluginCommand(items), 0);
    EXPECT_EQ(items.Result(), c.expected_text);
    auto state = State(module, id);
    EXPECT_EQ(state["items"], c.count);
    EXPECT_EQ(state["setitems"], "1");
    EXPECT_EQ(state["beforeitems"], "1");
  }
}

TEST_F(ProbeModuleTest, CommandResultsAndTheirEffects) {
  constexpr uint32_t id = 70;
  struct {
    const char* name;
    const char* command;
    void (*params)(HostCall&);
    int32_t expected;
  } cases[] = {
      {"SET-ITEMS without ITEMS", "SET-ITEMS", [](HostCall&) {}, -1},
      {"SET-ITEMS with a number", "SET-ITEMS", [](HostCall& c) { c.Param("ITEMS", OleVariant(5)); },
       -1},
      {"SET-ITEMS with 8-bit text", "SET-ITEMS",
       [](HostCall& c) { c.Param("ITEMS", OleVariant::AnsiString("s|N")); }, 0},
      {"ITEMS without RESULT", "ITEMS", [](HostCall&) {}, -1},
      {"EVENTS-SUPPORT without RESULT", "EVENTS-SUPPORT", [](HostCall&) {}, 0},
      {"EVENTS-SUPPORT with RESULT", "EVENTS-SUPPORT", [](HostCall& c) { c.WithResult(); }, 0},
      {"EVENT without EVENT-TYPE", "EVENT", [](HostCall&) {}, -1},
      {"EVENT without handler", "EVENT",
       [](HostCall& c) { c.Param("EVENT-TYPE", OleVariant("X")); }, 0},
      {"SAVE-SETTINGS-NOW", "SAVE-SETTINGS-NOW", [](HostCall&) {}, -2},
      {"LOAD-SETTINGS-NOW", "LOAD-SETTINGS-NOW", [](HostCall&) {}, -2},
      {"lower-case load is a custom command", "load", [](HostCall&) {}, -2},
      {"unknown custom command", "FROB", [](HostCall&) {}, -2},
      {"handler throws", "THROW", [](HostCall&) {}, -3},
      {"nested command", "NESTED", [](HostCall& c) { c.WithResult(); }, -3},
      {"SET-STATE without RESULT", "SET-STATE", [](HostCall&) {}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostCall call(id, c.command);
    c.params(call);
    EXPECT_EQ(module->ExecutePluginCommand(call), c.expected);
  }
  // Before EVENTS-SUPPORT the RESULT item was empty; the plug-in's text is empty.
  HostCall support(id, "EVENTS-SUPPORT");
  support.Param("RESULT", OleVariant("x"));
  module->ExecutePluginCommand(support);
  EXPECT_EQ(support.Result(), "");
  EXPECT_EQ(support.params->GetParamValue("RESULT").Type(), platform::VT_BSTR);
  // The nested command left the lock usable.
  EXPECT_EQ(State(module, id)["id"], "70");
}

TEST_F(ProbeModuleTest, SetStateTakesDataSourcesAndSwitchesNamedRoles) {
  constexpr uint32_t id = 71;
  HostCall on(id, "SET-STATE");
  on.Param("DATA-SOURCES-IN-CFG", OleVariant("1;A;B\r\nx;C;D\n3;E"))
      .Param("RESULT", OleVariant(1))
      .Types(ModuleTypeBit(mttFilter) | ModuleTypeBit(mttMenuExt));
  EXPECT_EQ(module->ExecutePluginCommand(on), 0);
  auto state = State(module, id);
  EXPECT_EQ(state["sources"], "1,A,B/3,E,/");
  EXPECT_EQ(state["roles"], "00000101");
  EXPECT_EQ(state["statetypes"], "160");

  HostCall off(id, "SET-STATE");
  off.Param("RESULT", OleVariant(0)).Types(ModuleTypeBit(mttFilter));
  EXPECT_EQ(module->ExecutePluginCommand(off), 0);
  EXPECT_EQ(State(module, id)["roles"], "00000001");
  EXPECT_EQ(State(module, id)["sources"], "1,A,B/3,E,/");  // not named: kept

  HostCall no_result(id, "SET-STATE");
  no_result.Param("DATA-SOURCES-IN-CFG", OleVariant(" 9 ; Z ;Q "));
  EXPECT_EQ(module->ExecutePluginCommand(no_result), -1);
  EXPECT_EQ(State(module, id)["sources"], "9,Z,Q/");  // replaced all the same
}

TEST_F(ProbeModuleTest, SettingsCommandsUseTheNamedFileOnlyForTheirOwnStep) {
  constexpr uint32_t id = 72;
  HostCall load(id, "LOAD");
  load.Param("INI-FILE", OleVariant("usual.ini")).Param("RegistryPath", OleVariant("Soft\\X"));
  EXPECT_EQ(module->ExecutePluginCommand(load), 0);
  HostCall save(id, "SAVE-SETTINGS-NOW");
  save.Param("INI-FILE", OleVariant("other.ini"));
  EXPECT_EQ(module->ExecutePluginCommand(save), -2);
  HostCall reload(id, "LOAD-SETTINGS-NOW");
  EXPECT_EQ(module->ExecutePluginCommand(reload), -2);
  auto state = State(module, id);
  EXPECT_EQ(state["saves"], "S:other.ini,L:,S:usual.ini,");
  EXPECT_EQ(state["ini"], "usual.ini");
  EXPECT_EQ(state["regpath"], "Soft\\X");

  // An UNLOAD naming another INI file saves there first.
  HostCall unload(id, "UNLOAD");
  unload.Param("INI-FILE", OleVariant("moved.ini"));
  EXPECT_EQ(module->ExecutePluginCommand(unload), 0);
  state = State(module, id);
  EXPECT_EQ(state["saves"], "S:other.ini,L:,S:usual.ini,S:moved.ini,");
  EXPECT_EQ(state["ini"], "moved.ini");
}

TEST_F(ProbeModuleTest, ContextParametersOfEveryCommand) {
  constexpr uint32_t id = 73;
  HostCall first(id, "PROBE-STATE");
  first.WithResult()
      .Param("MessagesProcessorHandle", OleVariant(1234))
      .Param("OWNERFORM", OleVariant(55));
  first.Param("LANGUAGE", OleVariant("DE"));
  module->ExecutePluginCommand(first);
  auto state = ParseState(first.Result());
  EXPECT_EQ(state["hostwin"], "1234");
  EXPECT_EQ(state["owner"], "55");
  EXPECT_EQ(state["lang"], "DE");
  EXPECT_EQ(state["langchanges"], "1");

  HostCall again(id, "PROBE-STATE");
  again.WithResult()
      .Param("MessagesProcessorHandle", OleVariant(0))
      .Param("LANGUAGE", OleVariant("DE"));
  module->ExecutePluginCommand(again);
  state = ParseState(again.Result());
  EXPECT_EQ(state["hostwin"], "0");      // 0 silences the host notifications
  EXPECT_EQ(state["owner"], "55");       // absent: kept
  EXPECT_EQ(state["langchanges"], "1");  // same language: nothing happens

  HostCall empty(id, "PROBE-STATE");
  empty.WithResult().Param("LANGUAGE", OleVariant("")).Param("OWNERFORM", OleVariant::Null());
  module->ExecutePluginCommand(empty);
  state = ParseState(empty.Result());
  EXPECT_EQ(state["lang"], "DE");
  EXPECT_EQ(state["owner"], "55");
}

TEST_F(ProbeModuleTest, LoadFindsTheHostModuleByNameWhenNoHandleIsGiven) {
#ifdef _WIN32
  const char* loaded = "kernel32.dll";
#else
  const char* loaded = "libc.so.6";
#endif
  HostCall load(74, "LOAD");
  load.Param("ApplicationName", OleVariant(loaded));
  EXPECT_EQ(module->ExecutePluginCommand(load), 0);
  EXPECT_EQ(State(module, 74)["hostmod"], "1");
  HostCall none(75, "LOAD");
  EXPECT_EQ(module->ExecutePluginCommand(none), 0);
  EXPECT_EQ(State(module, 75)["hostmod"], "0");
}

TEST_F(ProbeModuleTest, TemporaryLoadFollowsTheParameter) {
  HostCall call(76, "PROBE-STATE");
  call.WithResult().Param("TEMPORARY-LOAD", OleVariant(true));
  module->ExecutePluginCommand(call);
  EXPECT_EQ(ParseState(call.Result())["temp"], "1");
  EXPECT_EQ(State(module, 76)["temp"], "1");  // absent: unchanged
  HostCall off(76, "PROBE-STATE");
  off.WithResult().Param("TEMPORARY-LOAD", OleVariant(false));
  module->ExecutePluginCommand(off);
  EXPECT_EQ(ParseState(off.Result())["temp"], "0");
}

}  // namespace
}  // namespace tarvel::test

namespace tarvel::test {
namespace {

// A handle or state value that does not convert fails its command with -3,
// and the instance keeps what it had: a 0 stored in its place would switch
// the host's notifications off without a word.
TEST_F(ProbeModuleTest, HandlesAndStatesThatDoNotConvertFailTheCommand) {
  Variant error_code{};
  error_code.vt = platform::VT_ERROR;
  error_code.lVal = 5;
  const struct {
    const char* name;
    const char* param;
    OleVariant value;  // used when raw is not set
    bool raw;
  } cases[] = {
      {"text", "MessagesProcessorHandle", OleVariant("not a window"), false},
      {"empty text", "MessagesProcessorHandle", OleVariant(""), false},
      {"beyond 32 bits", "MessagesProcessorHandle", OleVariant(1e12), false},
      {"an error code", "MessagesProcessorHandle", OleVariant(), true},
      {"text owner", "OWNERFORM", OleVariant("owner?"), false},
      {"error code owner", "OWNERFORM", OleVariant(), true},
  };
  constexpr uint32_t id = 90;
  HostCall first(id, "PROBE-STATE");
  first.WithResult()
      .Param("MessagesProcessorHandle", OleVariant(1234))
      .Param("OWNERFORM", OleVariant(55));
  ASSERT_EQ(module->ExecutePluginCommand(first), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostCall call(id, "PROBE-STATE");
    call.WithResult();
    // The other handle is good: it is not taken either.
    if (std::string(c.param) == "OWNERFORM")
      call.Param("MessagesProcessorHandle", OleVariant(777));
    else
      call.Param("OWNERFORM", OleVariant(77));
    if (c.raw)
      call.RawParam(c.param, error_code);
    else
      call.Param(c.param, c.value);
    EXPECT_EQ(module->ExecutePluginCommand(call), -3);
    auto state = State(module, id);
    EXPECT_EQ(state["hostwin"], "1234");  // neither handle taken
    EXPECT_EQ(state["owner"], "55");
  }
  // Spellings that do convert are taken: numeric text, doubles, unsigned.
  HostCall text(id, "PROBE-STATE");
  text.WithResult()
      .Param("MessagesProcessorHandle", OleVariant(" 4321 "))
      .Param("OWNERFORM", OleVariant(66.0));
  EXPECT_EQ(module->ExecutePluginCommand(text), 0);
  EXPECT_EQ(State(module, id)["hostwin"], "4321");
  EXPECT_EQ(State(module, id)["owner"], "66");
}

TEST_F(ProbeModuleTest, ALoadWithAHandleThatDoesNotConvertChangesNothing) {
  constexpr uint32_t id = 91;
  HostCall bad(id, "LOAD");
  bad.Param("HANDLE", OleVariant("no module")).Param("RegistryPath", OleVariant("Soft\\Bad"));
  EXPECT_EQ(module->ExecutePluginCommand(bad), -3);
  auto state = State(module, id);
  EXPECT_EQ(state["load"], "0");
  EXPECT_EQ(state["onload"], "0");
  EXPECT_EQ(state["regpath"], "");
  EXPECT_EQ(state["hostmod"], "0");
  // The host's next LOAD is a first LOAD, not a nested one.
  HostCall good(id, "LOAD");
  good.Param("RegistryPath", OleVariant("Soft\\Good"));
  EXPECT_EQ(module->ExecutePluginCommand(good), 0);
  state = State(module, id);
  EXPECT_EQ(state["load"], "1");
  EXPECT_EQ(state["onload"], "1");
  EXPECT_EQ(state["regpath"], "Soft\\Good");
}

TEST_F(ProbeModuleTest, SetStateWithAResultThatIsNoNumberFails) {
  constexpr uint32_t id = 92;
  HostCall on(id, "SET-STATE");
  on.Param("RESULT", OleVariant(1)).Types(ModuleTypeBit(mttFilter));
  ASSERT_EQ(module->ExecutePluginCommand(on), 0);
  ASSERT_EQ(State(module, id)["roles"], "00000100");
  static const struct {
    const char* name;
    OleVariant result;
    int32_t expected;
    const char* roles;
  } cases[] = {
      {"text", OleVariant("on"), -3, "00000100"},
      {"empty text", OleVariant(""), -3, "00000100"},
      {"beyond 32 bits", OleVariant(1e12), -3, "00000100"},
      {"numeric text 0", OleVariant("0"), 0, "00000000"},
      {"numeric text 1", OleVariant(" 1 "), 0, "00000100"},
      {"a double 0", OleVariant(0.0), 0, "00000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostCall call(id, "SET-STATE");
    call.Param("RESULT", c.result).Types(ModuleTypeBit(mttFilter));
    EXPECT_EQ(module->ExecutePluginCommand(call), c.expected);
    EXPECT_EQ(State(module, id)["roles"], c.roles);
  }
}

}  // namespace
}  // namespace tarvel::test
