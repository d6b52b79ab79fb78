// Commands on one instance from several host threads: each runs with the
// context it carried.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/host_test_util.h"

namespace tarvel::test {
namespace {

// TEMPORARY-LOAD is taken under the command lock: taken before it, a
// command's value could be replaced by the other thread's while the first
// command ran (a data race ThreadSanitizer reports).
TEST_F(ProbeModuleTest, EachCommandSeesTheTemporaryLoadItCarried) {
  constexpr uint32_t id = 900;
  ASSERT_EQ(Command(module, id, "LOAD"), 0);
  std::atomic<int> wrong{0};
  auto sender = [&](bool temporary) {
    for (int i = 0; i < 2000; ++i) {
      HostCall call(id, "PROBE-STATE");
      call.WithResult().Param("TEMPORARY-LOAD", OleVariant(temporary));
      if (module->ExecutePluginCommand(call) != 0 ||
          ParseState(call.Result())["temp"] != (temporary ? "1" : "0"))
        ++wrong;
    }
  };
  std::thread a(sender, true), b(sender, false);
  a.join();
  b.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tarvel::test
