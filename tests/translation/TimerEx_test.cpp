// The extended timer on real message windows: it ticks on its owner thread
// while that thread pumps, follows Enabled set from other threads once the
// owner has handled the request, and stops ticking before its window goes.
// Natively the window timers follow a manual tick clock; the win32 build
// runs the same cases in real time with short intervals.
#include "translation/TimerEx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace tarvel {
namespace {

class TimerExTest : public ::testing::Test {
 protected:
  // Elapse lets ms pass for the calling thread's windows and pumps them.
  void Elapse(uint32_t ms) {
#ifdef _WIN32
    const uint32_t start = platform::TickCount();
    platform::RunMessageLoop(
        [&] { return platform::TickDiff(platform::TickCount(), start) >= int32_t(ms); }, 5);
#else
    for (uint32_t step = 0; step < ms; step += 10) {
      clock_->Advance(10);
      platform::ProcessPendingMessages();
    }
#endif
  }
  // Counting handler; remembers the thread it ran on.
  TNotifyEvent Counter() {
    return [this](TObject&) {
      ++ticks;
      tick_thread = platform::CurrentThreadId();
    };
  }

#ifndef _WIN32
  std::unique_ptr<platform::ManualTickClock> clock_ =
      std::make_unique<platform::ManualTickClock>(1000);
#endif
  std::atomic<int> ticks{0};
  std::atomic<uint32_t> tick_thread{0};
};

TEST_F(TimerExTest, TicksOnlyWithAnIntervalAHandlerAndEnabled) {
  struct {
    const char* what;
    bool enabled;
    uint32_t interval;
    bool bound;
    bool ticks;
  } cases[] = {
      {"all three", true, 100, true, true},
      {"interval 0", true, 0, true, false},
      {"no handler", true, 100, false, false},
      {"disabled", false, 100, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ticks = 0;
    TvopTimerEx timer;
    timer.SetEnabled(c.enabled);
    timer.SetInterval(c.interval);
    if (c.bound) timer.SetOnTimer(Counter());
    EXPECT_EQ(timer.Ticking(), c.ticks);
    Elapse(350);
    EXPECT_EQ(ticks > 0, c.ticks);
    if (c.ticks) {
      EXPECT_EQ(tick_thread.load(), timer.OwnerThread());
    }
  }
}

TEST_F(TimerExTest, DefaultsAndTheOwnerThread) {
  TvopTimerEx timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_EQ(timer.OwnerThread(), platform::CurrentThreadId());
  EXPECT_TRUE(timer.IsOwnerThread());
  EXPECT_FALSE(timer.Ticking()) << "no handler yet";
  EXPECT_NE(timer.WindowHandle(), 0u);
  std::thread([&] { EXPECT_FALSE(timer.IsOwnerThread()); }).join();
}

#ifndef _WIN32
TEST_F(TimerExTest, SettingEnabledToItsValueKeepsTheIntervalRunning) {
  TvopTimerEx timer;
  timer.SetInterval(100);
  timer.SetOnTimer(Counter());
  Elapse(60);
  timer.SetEnabled(true);  // unchanged: the interval goes on
  Elapse(50);
  EXPECT_EQ(ticks, 1);
  timer.SetEnabled(false);
  timer.SetEnabled(true);  // re-enabling restarts it
  Elapse(90);
  EXPECT_EQ(ticks, 1);
  Elapse(20);
  EXPECT_EQ(ticks, 2);
}
#endif

TEST_F(TimerExTest, EnabledFromAnotherThreadWaitsForTheOwner) {
  TvopTimerEx timer;
  timer.SetInterval(50);
  timer.SetOnTimer(Counter());
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled()) << "the owner has not handled the request yet";
  platform::ProcessPendingMessages();
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Ticking());
  ticks = 0;
  Elapse(200);
  EXPECT_EQ(ticks, 0);
  // Two opposite requests end in the second, though Enabled still read
  // false when it was made.
  std::thread([&] { timer.SetEnabled(true); }).join();
  std::thread([&] { timer.SetEnabled(false); }).join();
  platform::ProcessPendingMessages();
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(TimerExTest, RequestsFromOtherThreadsEndInTheLastOneMade) {
  // Each request is made before the owner has handled the ones before it.
  static const struct {
    const char* what;
    bool initially;
    std::vector<bool> requests;
  } cases[] = {
      {"disable, enable", true, {false, true}},
      {"enable, disable", false, {true, false}},
      {"disable, enable, disable", true, {false, true, false}},
      {"enable, disable, enable", false, {true, false, true}},
      {"disable twice", true, {false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TvopTimerEx timer;
    timer.SetEnabled(c.initially);
    timer.SetInterval(50);
    timer.SetOnTimer(Counter());
    for (bool request : c.requests) std::thread([&] { timer.SetEnabled(request); }).join();
    EXPECT_EQ(timer.Enabled(), c.initially) << "the owner has handled nothing yet";
    platform::ProcessPendingMessages();
    EXPECT_EQ(timer.Enabled(), c.requests.back());
    EXPECT_EQ(timer.Ticking(), c.requests.back());
  }
}

TEST_F(TimerExTest, AHandlerThatThrowsDoesNotStopTheTimer) {
  TvopTimerEx timer;
  timer.SetInterval(50);
  timer.SetOnTimer([&](TObject&) {
    ++ticks;
    throw std::runtime_error("tick failed");
  });
  for (int i = 0; i < 100 && ticks < 2; ++i) Elapse(60);
  EXPECT_GE(ticks, 2);
}

TEST_F(TimerExTest, DestroyedOnAnotherThreadItStopsBeforeItsWindowGoes) {
  std::atomic<TvopTimerEx*> timer{nullptr};
  std::atomic<bool> stop{false};
  std::atomic<int> late_ticks{0};
  std::atomic<bool> destroyed{false};
  std::thread owner([&] {
    auto* t = new TvopTimerEx;
    t->SetInterval(20);
    t->SetOnTimer([&](TObject&) {
      ++ticks;
      if (destroyed) ++late_ticks;
    });
    timer = t;
    platform::RunMessageLoop([&] { return stop.load(); }, 5);
  });
  while (!timer.load()) platform::SleepMs(1);
#ifndef _WIN32
  // The owner pumps in real time here; the manual clock has to move.
  std::thread mover([&] {
    while (!stop) {
      clock_->Advance(10);
      platform::SleepMs(1);
    }
  });
#endif
  while (ticks < 2) platform::SleepMs(1);
  const platform::WindowHandle window = timer.load()->WindowHandle();
  delete timer.load();
  destroyed = true;
  // The pumping owner releases the window, at the latest at its next pump.
  for (int i = 0; i < 500 && platform::IsWindowAlive(window); ++i) platform::SleepMs(10);
  EXPECT_FALSE(platform::IsWindowAlive(window));
  platform::SleepMs(100);
  stop = true;
#ifndef _WIN32
  mover.join();
#endif
  owner.join();
  EXPECT_EQ(late_ticks, 0);
}

TEST_F(TimerExTest, AnOwnerThatDoesNotPumpDelaysDestructionABoundedTimeAndReleasesLater) {
  std::unique_ptr<TvopTimerEx> timer;
  std::atomic<bool> pump{false}, done{false};
  std::atomic<platform::WindowHandle> window{0};
  std::thread owner([&] {
    timer = std::make_unique<TvopTimerEx>();
    window = timer->WindowHandle();
    while (!pump) platform::SleepMs(5);  // does not look at its messages
    platform::RunMessageLoop([&] { return !platform::IsWindowAlive(window); }, 5);
    done = true;
  });
  while (!window) platform::SleepMs(1);
  const uint32_t start = platform::SystemTickCount();
  timer.reset();
  EXPECT_LE(platform::TickDiff(platform::SystemTickCount(), start),
            int32_t(TvopTimerEx::kDestroyWaitMs + 2000));
  EXPECT_TRUE(platform::IsWindowAlive(window)) << "only its owner can release it";
  pump = true;  // the queued request reaches the owner
  owner.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(platform::IsWindowAlive(window));
}

TEST_F(TimerExTest, AnOwnerThreadThatEndedTakesItsWindowAlong) {
  std::unique_ptr<TvopTimerEx> timer;
  std::thread([&] { timer = std::make_unique<TvopTimerEx>(); }).join();
  const uint32_t start = platform::SystemTickCount();
  timer->SetEnabled(false);  // nowhere to post: applies at once
  EXPECT_FALSE(timer->Enabled());
  timer.reset();
  EXPECT_LT(platform::TickDiff(platform::SystemTickCount(), start), 2000);
}

}  // namespace
}  // namespace tarvel
