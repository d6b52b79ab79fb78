// ShowOptionsDialog beside commands on other threads: the export takes the
// host context under the instance's command lock, and the reload of
// sibling instances runs under each sibling's lock, so an UNLOAD or a
// release meeting it frees nothing the reload still uses. Meant for
// ThreadSanitizer: a race or a use after free fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "host/host_test_util.h"

namespace tarvel::test {
namespace {

using namespace std::chrono_literals;

constexpr char kPlace[] = "Software\\TarvelTest\\Options";

int32_t Load(const LoadedModule& m, uint32_t id, const char* place) {
  HostCall call(id, "LOAD");
  call.Param("RegistryPath", OleVariant(place)).Param("INI-FILE", OleVariant(""));
  return m->ExecutePluginCommand(call);
}

TEST_F(ProbeModuleTest, OptionsDialogAndSiblingReloadsMeetCommandsOnEveryInstance) {
  constexpr uint32_t kDialog = 400, kSibling = 401, kReleased = 402, kElsewhere = 403;
  constexpr int kRounds = 300;
  ASSERT_EQ(Load(module, kDialog, kPlace), 0);
  ASSERT_EQ(Load(module, kElsewhere, "Software\\TarvelTest\\Other"), 0);
  std::atomic<int> confirmed{0};

  std::vector<std::future<void>> workers;
  // The dialog, confirmed every time, with the context parameters it takes.
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      HostCall call(kDialog);
      call.Param("INI-FILE", OleVariant(i % 2 ? "" : "opts.ini"))
          .Param("LANGUAGE", OleVariant(i % 3 ? "DE" : "FR"))
          .Param("OWNERFORM", OleVariant(i));
      module->ShowOptionsDialog(call);
      if (call.rec.Output.Data == 1) ++confirmed;
    }
  }));
  // Commands on the dialog's own instance.
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      HostCall load(kDialog, "LOAD");
      load.Param("LANGUAGE", OleVariant(i % 2 ? "EN" : "RU"))
          .Param("INI-FILE", OleVariant("cmd.ini"))
          .Param("OWNERFORM", OleVariant(1000 + i));
      EXPECT_EQ(module->ExecutePluginCommand(load), 0);
      EXPECT_EQ(Command(module, kDialog, "UNLOAD"), 0);
    }
  }));
  // A sibling loaded and unloaded while the reloads reach it.
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_EQ(Load(module, kSibling, kPlace), 0);
      State(module, kSibling);
      EXPECT_EQ(Command(module, kSibling, "UNLOAD"), 0);
    }
  }));
  // A sibling released and made again.
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_EQ(Load(module, kReleased, kPlace), 0);
      HostCall release(kReleased);
      release.rec.Action = 255;
      module->GetModuleType(release);
    }
  }));
  for (auto& w : workers) ASSERT_EQ(w.wait_for(120s), std::future_status::ready);

  EXPECT_EQ(confirmed.load(), kRounds);
  // Siblings at the place reloaded; the instance elsewhere did not.
  EXPECT_EQ(State(module, kElsewhere)["reloads"], "0");
  EXPECT_EQ(Load(module, kSibling, kPlace), 0);
  HostCall once(kDialog);
  module->ShowOptionsDialog(once);
  EXPECT_EQ(State(module, kSibling)["reloads"], "1");
}

}  // namespace
}  // namespace tarvel::test
