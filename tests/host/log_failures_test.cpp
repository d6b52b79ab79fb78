// The log queue when memory runs out under its lock: the call that failed
// lets the lock go, and the next log call, from any thread, gets through.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "Plugins/vopPluginModule.h"
#include "platform/window.h"
#include "support/host_harness.h"

namespace {

// Armed on one thread: its first allocation of at least this many bytes
// fails, as it would when the process has run out of memory.
thread_local size_t t_fail_from_bytes = 0;
std::atomic<int> g_failed_allocations{0};

}  // namespace

// The whole test program allocates through these; unarmed, they are malloc
// and free. GCC, inlining them, takes the free of what this operator new
// returned for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
  if (t_fail_from_bytes != 0 && size >= t_fail_from_bytes) {
    t_fail_from_bytes = 0;
    ++g_failed_allocations;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace tarvel {
namespace {

using test::HostCall;

TEST(LogFailures, AQueueInsertThatThrowsLeavesTheQueueFreeForTheNextCall) {
  // A host window that is gone by the time the module sends to it: every
  // send fails at once, so the queued lines go back into the queue.
  const platform::WindowHandle gone = platform::CreateMessageWindow(
      [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; });
  platform::DestroyMessageWindow(gone);

  HostCall create(1);
  TvopPlugin plugin(create.get());
  plugin.AfterConstruction();
  HostCall load(1, "LOAD");
  load.Param("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(gone)));
  ASSERT_EQ(plugin.ExecuteCommand("LOAD", load.get()), 0);

  // A full queue of short lines: putting them back needs one block of a
  // hundred strings, far larger than anything else the call allocates.
  for (int i = 0; i < 100; ++i) plugin.AddLog(1, "x");
  ASSERT_EQ(plugin.LogLines().Lock()->size(), 100u);
  t_fail_from_bytes = 100 * sizeof(std::string) - 16;
  plugin.SendLog(1, "y");  // the put-back throws under the queue's lock
  t_fail_from_bytes = 0;
  ASSERT_EQ(g_failed_allocations.load(), 1);
  ASSERT_FALSE(plugin.LogLines().MultiReadLock().HeldExclusiveByMe());

  std::thread other([&] { plugin.AddLog(1, "after"); });
  other.join();
  const std::vector<std::string> lines = *plugin.LogLines().Lock().get();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "\x02"
            "after");
}

}  // namespace
}  // namespace tarvel
