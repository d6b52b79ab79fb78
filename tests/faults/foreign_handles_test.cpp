// Tests that make the CPU fault on purpose, through the built modules. Under
// Wine they need a real CPU: where the 32-bit build runs under an i386
// emulator, a page fault reaches Wine as an illegal instruction that no
// guard can tell from a real one, so these tests skip there (saying so) and
// run in the 64-bit build instead.
#include <gtest/gtest.h>

#include <string>

#include "host/host_test_util.h"
#include "host/variant_cases.h"
#include "support/test_support.h"

namespace tarvel::test {
namespace {

// Every type as the value of every context parameter and of COMMAND: the
// command answers what the value's conversion allows, and never crashes.
//
// A number as a window handle (12) sends Windows code to read a few bytes
// past address 0: Windows guards that read, and the call answers.
TEST_F(ProbeModuleTest, EveryVariantTypeAsEveryParameter) {
  TARVEL_SKIP_WITHOUT_REAL_CPU();
  // What the command answers when the parameter is absent (empty or null,
  // and so is a value of a type the module never follows), a number (or a
  // boolean), text, or an error code.
  static const struct {
    const char* param;
    const char* command;
    int32_t absent, number, text, odd;
  } params[] = {
      {"COMMAND", "", -1, -2, -2, -2},  // any value names an unknown command
      {"MessagesProcessorHandle", "PROBE-STATE", 0, 0, -3, -3},
      {"OWNERFORM", "PROBE-STATE", 0, 0, -3, -3},
      {"HANDLE", "LOAD", 0, 0, -3, -3},
      {"RESULT", "SET-STATE", -1, 0, -3, -3},
      {"ITEMS", "SET-ITEMS", -1, -1, 0, -1},
      {"LANGUAGE", "PROBE-STATE", 0, 0, 0, 0},
      {"TEMPORARY-LOAD", "PROBE-STATE", 0, 0, 0, 0},
      {"INI-FILE", "LOAD", 0, 0, 0, 0},
      {"DATA-SOURCES-IN-CFG", "SET-STATE", -1, -1, -1, -1},  // no RESULT
      {"EVENT-TYPE", "EVENT", -1, 0, 0, 0},
  };
  uint32_t id = 600;
  for (const auto& p : params) {
    for (const VariantCase& v : kVariants) {
      SCOPED_TRACE(std::string(p.param) + " = " + v.name);
      int32_t want = p.odd;
      switch (v.kind) {
        case VariantCase::kEmpty:
        case VariantCase::kNull:
        case VariantCase::kForeign:
          want = p.absent;
          break;
        case VariantCase::kNumber:
        case VariantCase::kBool:
          want = p.number;
          break;
        case VariantCase::kText:
          want = p.text;
          break;
        case VariantCase::kOdd:
          break;
      }
      HostCall call(++id, p.command);
      call.RawParam(p.param, v.make(12));
      EXPECT_EQ(module->ExecutePluginCommand(call), want);
    }
  }
  // Instances that met all this still work.
  EXPECT_EQ(Command(module, id, "LOAD"), 0);
  EXPECT_EQ(State(module, id)["load"], "1");
}

}  // namespace
}  // namespace tarvel::test
