// The event queue under one thread raising and another collecting with the
// host's two-call protocol: every event arrives exactly once, in order.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>

#include "host/host_test_util.h"

namespace tarvel::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ProbeModuleTest, EventsRaisedWhileTheHostCollectsAreEachDeliveredOnce) {
  constexpr uint32_t id = 400;
  constexpr int kEvents = 3000;
  ASSERT_EQ(Command(module, id, "LOAD"), 0);
  std::atomic<bool> done{false};
  auto raiser = std::async(std::launch::async, [&] {
    for (int i = 0; i < kEvents; ++i) {
      HostCall raise(id, "RAISE");
      raise.Param("NAME", OleVariant("e" + std::to_string(i)));
      EXPECT_EQ(module->ExecutePluginCommand(raise), 0);
    }
    done = true;
  });
  std::vector<int> seen;
  auto collect = [&] {
    HostCall first(id);
    ASSERT_EQ(module->GetEvents(first), 0);
    const auto* list = reinterpret_cast<const TvopParamsList*>(+first.rec.Output.Data);
    ASSERT_NE(list, nullptr);
    for (int32_t i = 0; i < list->Count; ++i) {
      const TvopParamsListItem* item = list->Item(i);
      if (item->NameView() == "EVENT-TYPE")
        seen.push_back(std::stoi(OleVariant::CopyOf(item->Value).ToAnsi().substr(1)));
    }
    HostCall second(id);
    second.rec.Output = first.rec.Output;
    ASSERT_EQ(module->GetEvents(second), 0);
  };
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (!done && std::chrono::steady_clock::now() < deadline) collect();
  ASSERT_EQ(raiser.wait_for(60s), std::future_status::ready);
  collect();  // whatever was raised after the last collection
  ASSERT_EQ(seen.size(), static_cast<size_t>(kEvents));
  for (int i = 0; i < kEvents; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], i);
  EXPECT_EQ(Command(module, id, "UNLOAD"), 0);
}

}  // namespace
}  // namespace tarvel::test
