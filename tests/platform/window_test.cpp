// Contract test of the message windows, run against real windows under Wine
// and against the POSIX emulation. Every wait is bounded: a fault fails a
// test instead of hanging it.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace tarvel::platform {
namespace {

using namespace std::chrono_literals;

struct Seen {
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  uint32_t thread;
};

// Window owns a message window of the calling thread whose handler records
// what it sees and answers with reply(). Only the owner thread reads seen.
class Window {
 public:
  explicit Window(std::function<intptr_t(const Seen&)> reply = nullptr)
      : reply_(std::move(reply)),
        handle_(CreateMessageWindow(
            [this](WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t lparam) -> intptr_t {
              Seen s{msg, wparam, lparam, CurrentThreadId()};
              seen.push_back(s);
              return reply_ ? reply_(s) : 0;
            })) {
    // A thread that has not looked at its queue for 5 s counts as hung;
    // earlier tests may have left this one idle that long.
    ProcessPendingMessages();
  }
  ~Window() { DestroyMessageWindow(handle_); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  WindowHandle handle() const { return handle_; }
  size_t Count(uint32_t msg) const {
    size_t n = 0;
    for (const Seen& s : seen) n += s.msg == msg;
    return n;
  }

  std::vector<Seen> seen;

 private:
  std::function<intptr_t(const Seen&)> reply_;
  WindowHandle handle_;
};

// PumpUntil runs the calling thread's message loop until done() holds or
// `limit` has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  RunMessageLoop([&] { return done() || std::chrono::steady_clock::now() > deadline; }, 5);
  return done();
}

// PumpFor runs the message loop for about `span` of real time.
void PumpFor(std::chrono::milliseconds span) {
  auto deadline = std::chrono::steady_clock::now() + span;
  RunMessageLoop([&] { return std::chrono::steady_clock::now() > deadline; }, 5);
}

template <class T>
bool Ready(const std::future<T>& f, std::chrono::milliseconds wait = 0ms) {
  return f.wait_for(wait) == std::future_status::ready;
}

TEST(MessageWindow, CreatedWindowsAreAliveAndDistinctUntilDestroyed) {
  WindowHandle a, b;
  {
    Window first, second;
    a = first.handle();
    b = second.handle();
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(IsWindowAlive(a));
    EXPECT_TRUE(IsWindowAlive(b));
  }
  EXPECT_FALSE(IsWindowAlive(a));
  EXPECT_FALSE(IsWindowAlive(b));
}

TEST(MessageWindow, PostedMessagesWaitForThePumpAndKeepTheirOrder) {
  Window w;
  const uint32_t msg = kWmUser + 1;
  EXPECT_TRUE(PostMessageTo(w.handle(), msg, 1, -1));
  EXPECT_TRUE(PostMessageTo(w.handle(), msg, 2, -2));
  std::thread other([&] {
    EXPECT_TRUE(PostMessageTo(w.handle(), msg, 3, -3));
    EXPECT_TRUE(PostMessageTo(w.handle(), msg, 4, -4));
  });
  other.join();
  EXPECT_TRUE(PostMessageTo(w.handle(), msg, 5, -5));
  EXPECT_TRUE(w.seen.empty()) << "posting must never run the handler";

  ProcessPendingMessages();
  ASSERT_EQ(w.Count(msg), 5u);
  std::vector<uintptr_t> order;
  for (const Seen& s : w.seen) {
    if (s.msg != msg) continue;
    order.push_back(s.wparam);
    EXPECT_EQ(s.lparam, -static_cast<intptr_t>(s.wparam));
    EXPECT_EQ(s.thread, CurrentThreadId());
  }
  EXPECT_EQ(order, (std::vector<uintptr_t>{1, 2, 3, 4, 5}));

  ProcessPendingMessages();
  EXPECT_EQ(w.Count(msg), 5u) << "each posted message is handled once";
}

TEST(MessageWindow, SendFromTheOwnerThreadRunsTheHandlerInline) {
  Window w([](const Seen& s) { return static_cast<intptr_t>(s.wparam) * 2 + s.lparam; });
  struct {
    const char* name;
    uint32_t msg;
    uintptr_t wparam;
    intptr_t lparam;
    intptr_t expected;
  } cases[] = {
      {"user message", kWmUser, 20, 2, 42},
      {"application range", kWmUser + 0x7C00, 0, -7, -7},
      {"zero result", kWmUser + 5, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t before = w.seen.size();
    intptr_t result = 12345;
    EXPECT_TRUE(SendMessageWithTimeout(w.handle(), c.msg, c.wparam, c.lparam, 0, &result));
    EXPECT_EQ(result, c.expected);
    ASSERT_EQ(w.seen.size(), before + 1) << "handled during the call, without pumping";
    EXPECT_EQ(w.seen.back().msg, c.msg);
  }
  EXPECT_TRUE(SendMessageWithTimeout(w.handle(), kWmUser, 1, 1, 0, nullptr))
      << "the result pointer is optional";
}

TEST(MessageWindow, SendFromAnotherThreadIsHandledWhenTheOwnerPumps) {
  Window w([](const Seen& s) { return static_cast<intptr_t>(s.wparam) + 1000; });
  auto sent = std::async(std::launch::async, [h = w.handle()] {
    intptr_t result = 0;
    bool ok = SendMessageWithTimeout(h, kWmUser + 2, 7, 0, 20000, &result);
    return std::pair{ok, result};
  });
  EXPECT_FALSE(Ready(sent, 100ms)) << "the owner has not pumped yet";
  EXPECT_TRUE(w.seen.empty());

  EXPECT_TRUE(PumpUntil([&] { return Ready(sent); }));
  ASSERT_TRUE(Ready(sent, 20s));
  auto [ok, result] = sent.get();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, 1007);
  ASSERT_EQ(w.Count(kWmUser + 2), 1u);
  EXPECT_EQ(w.seen.front().thread, CurrentThreadId()) << "handlers run on the owner thread";
}

TEST(MessageWindow, SendToAnOwnerThatDoesNotPumpTimesOut) {
  Window w([](const Seen&) { return 1; });
  auto sent = std::async(std::launch::async, [h = w.handle()] {
    intptr_t result = 55;
    bool ok = SendMessageWithTimeout(h, kWmUser + 3, 0, 0, 100, &result);
    return std::pair{ok, result};
  });
  ASSERT_TRUE(Ready(sent, 20s));
  auto [ok, result] = sent.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(result, 55) << "no result is stored after a timeout";
  EXPECT_TRUE(w.seen.empty());
  // A message the owner had not taken yet may be withdrawn, never doubled.
  ProcessPendingMessages();
  EXPECT_LE(w.Count(kWmUser + 3), 1u);
}

TEST(MessageWindow, SendToAHungOwnerFailsWithoutWaitingForTheTimeout) {
  std::promise<WindowHandle> created;
  std::promise<void> release;
  std::atomic<bool> finish{false};
  std::atomic<int> handled{0};
  auto owner = std::async(std::launch::async, [&] {
    WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
      if (msg == kWmUser + 4) ++handled;
      return intptr_t{1};
    });
    created.set_value(h);
    // Busy with something else: the queue is not looked at.
    release.get_future().wait_for(30s);
    PumpUntil([&] { return finish.load(); }, 30s);
    DestroyMessageWindow(h);
  });
  auto h_future = created.get_future();
  ASSERT_TRUE(Ready(h_future, 20s));
  WindowHandle h = h_future.get();
  SleepMs(5600);  // Windows calls a thread hung after 5 s without looking at its queue

  auto sent = std::async(std::launch::async, [h] {
    intptr_t result = 0;
    return SendMessageWithTimeout(h, kWmUser + 4, 0, 0, 60000, &result);
  });
  bool failed_at_once = Ready(sent, 30s);
  release.set_value();
  EXPECT_TRUE(failed_at_once) << "the sender waited for a hung owner";
  EXPECT_TRUE(Ready(sent, 60s));
  EXPECT_FALSE(sent.get());
  finish = true;
  ASSERT_TRUE(Ready(owner, 30s));
  EXPECT_EQ(handled.load(), 0);
}

TEST(MessageWindow, CopyDataDeliversTheBytesAndTheTag) {
  struct Received {
    uintptr_t from = 0;
    uintptr_t tag = 0;
    std::string bytes;
  };
  Received got;
  Window w([&](const Seen& s) -> intptr_t {
    if (s.msg != kWmCopyData) return 0;
    const auto* cd = reinterpret_cast<const CopyData*>(s.lparam);
    got.from = s.wparam;
    got.tag = cd->dwData;
    got.bytes.assign(cd->cbData ? static_cast<const char*>(cd->lpData) : "", cd->cbData);
    return static_cast<intptr_t>(cd->cbData) + 1;
  });
  Window sender_window;

  struct {
    const char* name;
    std::string data;
    uintptr_t tag;
  } cases[] = {
      {"text", "hello, host", 1},
      {"embedded zeros", std::string("a\0b\0\0c", 6), 0x7FFFFFFF},
      {"empty", "", 0},
      {"large", std::string(70000, 'x'), 42},
  };
  for (bool same_thread : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (same_thread ? ", owner thread" : ", other thread"));
      got = Received{};
      auto send = [&] {
        intptr_t result = 0;
        bool ok = SendCopyData(w.handle(), sender_window.handle(), c.tag,
                               c.data.empty() ? nullptr : c.data.data(),
                               static_cast<uint32_t>(c.data.size()), 20000, &result);
        return std::pair{ok, result};
      };
      std::pair<bool, intptr_t> outcome{false, 0};
      if (same_thread) {
        outcome = send();
      } else {
        auto sent = std::async(std::launch::async, send);
        EXPECT_TRUE(PumpUntil([&] { return Ready(sent); }));
        ASSERT_TRUE(Ready(sent, 20s));
        outcome = sent.get();
      }
      EXPECT_TRUE(outcome.first);
      EXPECT_EQ(outcome.second, static_cast<intptr_t>(c.data.size()) + 1);
      EXPECT_EQ(got.from, sender_window.handle());
      EXPECT_EQ(got.tag, c.tag);
      EXPECT_EQ(got.bytes, c.data);
    }
  }
}

// Real time drives the timers here (SetTimer on Windows), so only loose
// facts are checked: they never fire without pumping, they do fire while
// pumping, and they stop when killed.
TEST(MessageWindow, TimersFireOnlyWhilePumpingAndStopWhenKilled) {
  Window w;
  ASSERT_TRUE(SetWindowTimer(w.handle(), 1, 20));
  ASSERT_TRUE(SetWindowTimer(w.handle(), 2, 20));
  SleepMs(150);
  EXPECT_TRUE(w.seen.empty()) << "timers must not fire without pumping";

  auto fired = [&](uintptr_t id) {
    size_t n = 0;
    for (const Seen& s : w.seen) n += s.msg == kWmTimer && s.wparam == id;
    return n;
  };
  EXPECT_TRUE(PumpUntil([&] { return fired(1) >= 2 && fired(2) >= 2; }, 5000ms));
  for (const Seen& s : w.seen) {
    EXPECT_EQ(s.msg, kWmTimer);
    EXPECT_EQ(s.thread, CurrentThreadId());
  }

  KillWindowTimer(w.handle(), 1);
  ProcessPendingMessages();  // one that was already due may still come
  size_t killed_count = fired(1);
  size_t other_count = fired(2);
  PumpFor(200ms);
  EXPECT_EQ(fired(1), killed_count) << "timer 1 fired after KillWindowTimer";
  EXPECT_TRUE(PumpUntil([&] { return fired(2) > other_count; }, 5000ms))
      << "killing timer 1 must leave timer 2 running";

  // Restarting an id replaces the timer instead of adding a second one.
  ASSERT_TRUE(SetWindowTimer(w.handle(), 2, 30));
  KillWindowTimer(w.handle(), 2);
  ProcessPendingMessages();
  other_count = fired(2);
  PumpFor(200ms);
  EXPECT_EQ(fired(2), other_count);
}

TEST(MessageWindow, DestroyingAWindowDropsItsTimersAndQueuedMessages) {
  std::atomic<int> calls{0};
  WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == kWmTimer || msg >= kWmUser) ++calls;
    return intptr_t{0};
  });
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(SetWindowTimer(h, 9, 10));
  ASSERT_TRUE(PostMessageTo(h, kWmUser + 6, 0, 0));
  SleepMs(50);
  DestroyMessageWindow(h);
  EXPECT_FALSE(IsWindowAlive(h));
  PumpFor(100ms);
  EXPECT_EQ(calls.load(), 0);
  DestroyMessageWindow(h);  // a second destroy is harmless
}

TEST(MessageWindow, AHandlerMayDestroyItsOwnWindow) {
  WindowHandle h = 0;
  int calls = 0;
  h = CreateMessageWindow([&](WindowHandle self, uint32_t msg, uintptr_t, intptr_t) {
    if (msg < kWmUser) return intptr_t{0};
    ++calls;
    DestroyMessageWindow(self);
    return intptr_t{5};
  });
  ASSERT_TRUE(PostMessageTo(h, kWmUser, 0, 0));
  ASSERT_TRUE(PostMessageTo(h, kWmUser, 1, 0));
  ProcessPendingMessages();
  EXPECT_EQ(calls, 1) << "the second message died with the window";
  EXPECT_FALSE(IsWindowAlive(h));

  h = CreateMessageWindow([&](WindowHandle self, uint32_t msg, uintptr_t, intptr_t) {
    if (msg < kWmUser) return intptr_t{0};
    DestroyMessageWindow(self);
    return intptr_t{5};
  });
  intptr_t result = 0;
  EXPECT_TRUE(SendMessageWithTimeout(h, kWmUser, 0, 0, 1000, &result));
  EXPECT_EQ(result, 5);
  EXPECT_FALSE(IsWindowAlive(h));
}

TEST(MessageWindow, HandlerExceptionsStayInside) {
  Window w([](const Seen& s) -> intptr_t {
    if (s.msg >= kWmUser) throw std::runtime_error("handler fault");
    return 0;
  });
  intptr_t result = 99;
  EXPECT_TRUE(SendMessageWithTimeout(w.handle(), kWmUser, 0, 0, 1000, &result));
  EXPECT_EQ(result, 0);

  ASSERT_TRUE(PostMessageTo(w.handle(), kWmUser, 0, 0));
  EXPECT_NO_THROW(ProcessPendingMessages());

  auto sent = std::async(std::launch::async, [h = w.handle()] {
    intptr_t r = 99;
    bool ok = SendMessageWithTimeout(h, kWmUser + 1, 0, 0, 20000, &r);
    return std::pair{ok, r};
  });
  EXPECT_TRUE(PumpUntil([&] { return Ready(sent); }));
  ASSERT_TRUE(Ready(sent, 20s));
  EXPECT_EQ(sent.get(), (std::pair<bool, intptr_t>{true, 0}));
  EXPECT_EQ(w.seen.size(), 3u);
}

TEST(MessageWindow, DestroyedWhileASenderWaitsTheSenderFails) {
  ProcessPendingMessages();  // not hung: the sender must really wait
  std::atomic<int> handled{0};
  WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
    if (msg >= kWmUser) ++handled;
    return intptr_t{1};
  });
  auto sent = std::async(std::launch::async, [h] {
    intptr_t result = 0;
    return SendMessageWithTimeout(h, kWmUser + 8, 0, 0, 60000, &result);
  });
  EXPECT_FALSE(Ready(sent, 100ms));
  DestroyMessageWindow(h);
  EXPECT_TRUE(PumpUntil([&] { return Ready(sent); }, 20s)) << "the sender kept waiting";
  ASSERT_TRUE(Ready(sent, 60s));
  EXPECT_FALSE(sent.get());
  EXPECT_EQ(handled.load(), 0);
}

TEST(MessageWindow, UnknownAndDestroyedHandlesAreRefused) {
  WindowHandle destroyed = CreateMessageWindow(nullptr);
  ASSERT_NE(destroyed, 0u);
  DestroyMessageWindow(destroyed);
  struct {
    const char* name;
    WindowHandle handle;
  } cases[] = {
      {"null", 0},
      {"destroyed", destroyed},
      {"broadcast", 0xFFFF},  // HWND_BROADCAST must never be reached
  };
  char byte = 'x';
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    intptr_t result = 77;
    EXPECT_FALSE(IsWindowAlive(c.handle));
    EXPECT_FALSE(PostMessageTo(c.handle, kWmUser, 0, 0));
    EXPECT_FALSE(SendMessageWithTimeout(c.handle, kWmUser, 0, 0, 100, &result));
    EXPECT_FALSE(SendCopyData(c.handle, 0, 1, &byte, 1, 100, &result));
    EXPECT_FALSE(SetWindowTimer(c.handle, 1, 10));
    EXPECT_EQ(result, 77);
    KillWindowTimer(c.handle, 1);
    DestroyMessageWindow(c.handle);
  }
  ProcessPendingMessages();
}

TEST(MessageWindow, AWindowWithoutAHandlerAnswersZero) {
  WindowHandle h = CreateMessageWindow(nullptr);
  ASSERT_NE(h, 0u);
  intptr_t result = 3;
  EXPECT_TRUE(SendMessageWithTimeout(h, kWmUser, 0, 0, 100, &result));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(PostMessageTo(h, kWmUser, 0, 0));
  ProcessPendingMessages();
  DestroyMessageWindow(h);
}

// A timer set with a tick source of its own follows that source exactly,
// in both builds; timers on the system's ticks are covered above.
TEST(MessageWindow, TimersFollowTheirTickSource) {
  SimulatedTicks clock(0xFFFFFFC0u);  // close to the wrap
  Window w;
  auto fired = [&](uintptr_t id) {
    size_t n = 0;
    for (const Seen& s : w.seen) n += s.msg == kWmTimer && s.wparam == id;
    return n;
  };
  ASSERT_TRUE(SetWindowTimer(w.handle(), 1, 100, clock));
  ASSERT_TRUE(SetWindowTimer(w.handle(), 2, 0, clock));  // counts as 10 ms
  std::thread([h = w.handle(), &clock] { EXPECT_FALSE(SetWindowTimer(h, 3, 10, clock)); }).join();
  struct {
    const char* step;
    uint32_t advance;
    size_t timer1, timer2;
  } steps[] = {
      {"nothing due yet", 9, 0, 0},
      {"minimum interval reached", 1, 0, 1},
      {"timer 1 one tick early", 89, 0, 2},
      {"timer 1 due, across the wrap", 1, 1, 2},
      {"no further tick without time", 0, 1, 2},
      {"a long gap fires once, no catching up", 1000, 2, 3},
      {"timer 1 not yet: its interval counts from the firing", 99, 2, 4},
      {"timer 1 again one interval after its firing", 1, 3, 4},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    clock.Advance(s.advance);
    ProcessPendingMessages();
    EXPECT_EQ(fired(1), s.timer1);
    EXPECT_EQ(fired(2), s.timer2);
  }

  KillWindowTimer(w.handle(), 2);
  clock.Advance(100);
  // RunMessageLoop notices a moved source by polling real time.
  EXPECT_TRUE(PumpUntil([&] { return fired(1) == 4; }, 5000ms));
  EXPECT_EQ(fired(2), 4u);
}

#ifndef _WIN32
TEST(MessageWindowEmulation, OnlyTheOwnerMayDestroyOrTime) {
  Window w;
  std::thread other([h = w.handle()] {
    EXPECT_FALSE(SetWindowTimer(h, 1, 10));
    DestroyMessageWindow(h);
  });
  other.join();
  EXPECT_TRUE(IsWindowAlive(w.handle()));
}

TEST(MessageWindowEmulation, HandlesAreNeverReused) {
  std::vector<WindowHandle> seen;
  for (int i = 0; i < 100; ++i) {
    WindowHandle h = CreateMessageWindow(nullptr);
    ASSERT_NE(h, 0u);
    for (WindowHandle old : seen) ASSERT_NE(old, h);
    seen.push_back(h);
    DestroyMessageWindow(h);
  }
}

TEST(MessageWindowEmulation, WindowsDieWithTheirThread) {
  WindowHandle h = 0;
  std::thread owner([&] { h = CreateMessageWindow(nullptr); });
  owner.join();
  EXPECT_NE(h, 0u);
  EXPECT_FALSE(IsWindowAlive(h));
  EXPECT_FALSE(PostMessageTo(h, kWmUser, 0, 0));
}
#endif

}  // namespace
}  // namespace tarvel::platform
