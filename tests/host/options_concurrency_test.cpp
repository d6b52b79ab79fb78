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
#include "support/test_support.h"

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

// The shipped module: the dialog's form takes the settings place and the
// parser items while other threads change them, and every confirmation
// replaces the settings object of the instance and reloads its siblings
// while they are unloaded and loaded again and take data.
TEST_F(ProductModuleTest, ConfirmedOptionsMeetCommandsAndDataOnEveryInstance) {
  TempDir dir;
  const std::string ini = dir.File("options.ini");
  constexpr uint32_t kDialog = 500, kSibling = 501;
  constexpr int kRounds = 60;
  auto load = [&](uint32_t id) {
    HostCall call(id, "LOAD");
    call.Param("RegistryPath", OleVariant(kPlace)).Param("INI-FILE", OleVariant(ini));
    return module->ExecutePluginCommand(call);
  };
  ASSERT_EQ(load(kDialog), 0);
  std::atomic<int> confirmed{0};
  std::vector<std::future<void>> workers;
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      HostCall call(kDialog);
      const std::string values = "Var1=V" + std::to_string(i) + "\r\nType1=1\r\nVal1=5\r\n";
      call.Param("INI-FILE", OleVariant(ini))
          .Param("LANGUAGE", OleVariant(i % 2 ? "DE" : "EN"))
          .Param("OPTIONS-SET", OleVariant(values));
      module->ShowOptionsDialog(call);
      if (call.rec.Output.Data == 1) ++confirmed;
    }
  }));
  workers.push_back(std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      HostCall items(kDialog, "SET-ITEMS");
      items.Param("ITEMS", OleVariant("feed|A" + std::to_string(i) + "\r\nfeed|B"));
      EXPECT_EQ(module->ExecutePluginCommand(items), 0);
      HostCall language(kDialog, "EVENTS-SUPPORT");
      language.Param("LANGUAGE", OleVariant(i % 3 ? "RU" : "EN"));
      module->ExecutePluginCommand(language);
    }
  }));
  workers.push_back(std::async(std::launch::async, [&] {
    auto rows = NewParamsList(kRowsParamsListClass);
    rows->Add("CLIENTID", OleVariant(1));
    rows->Add("V1", OleVariant(1));
    rows->AddNewRow();
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_EQ(load(kSibling), 0);
      HostCall data(kSibling);
      data.Types(ModuleTypeBit(mttFilter));
      data.rec.Input.Kind = kValueKindList;
      data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
      module->ProcessData(data);
      EXPECT_EQ(Command(module, kSibling, "UNLOAD"), 0);
    }
  }));
  for (auto& w : workers) ASSERT_EQ(w.wait_for(300s), std::future_status::ready);
  EXPECT_EQ(confirmed.load(), kRounds);
  EXPECT_NE(ReadWholeFile(ini).find("Var1=V" + std::to_string(kRounds - 1) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Command(module, kDialog, "UNLOAD"), 0);
}

}  // namespace
}  // namespace tarvel::test
