// Message windows under real concurrency: many threads posting and sending
// to one window, threads sending to each other, windows dying while
// messages are in flight. Every wait is bounded (sends time out, futures are
// waited with wait_for), so a deadlock fails a test instead of hanging it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread.h"
#include "platform/window.h"

namespace tarvel::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kPosted = kWmUser + 1;
constexpr uint32_t kSent = kWmUser + 2;

template <class T>
bool Ready(const std::future<T>& f, std::chrono::milliseconds wait = 0ms) {
  return f.wait_for(wait) == std::future_status::ready;
}

// PumpUntil runs the calling thread's message loop until done() holds or
// `limit` has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  RunMessageLoop([&] { return done() || std::chrono::steady_clock::now() > deadline; }, 5);
  return done();
}

TEST(MessageWindowConcurrency, ManyThreadsPostAndSendToOneWindow) {
  constexpr int kThreads = 4;
  constexpr int kMessages = 300;
  constexpr int kSendEvery = 5;
  const uint32_t owner_thread = CurrentThreadId();

  // Only the owner thread touches these: the handler runs there.
  std::map<uintptr_t, int> posted_count, sent_count;
  std::vector<std::vector<uintptr_t>> posted_order(kThreads);
  int foreign_calls = 0;
  WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t) {
    if (CurrentThreadId() != owner_thread) ++foreign_calls;
    if (msg == kPosted) {
      ++posted_count[wparam];
      posted_order[wparam / 100000].push_back(wparam);
    } else if (msg == kSent) {
      ++sent_count[wparam];
      return static_cast<intptr_t>(wparam ^ 0x5A5A);
    }
    return intptr_t{0};
  });
  ASSERT_NE(h, 0u);
  ProcessPendingMessages();

  std::atomic<int> finished{0};
  std::atomic<int> failed_posts{0}, failed_sends{0}, wrong_results{0};
  std::vector<std::future<void>> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.push_back(std::async(std::launch::async, [&, t] {
      for (int i = 0; i < kMessages; ++i) {
        uintptr_t id = static_cast<uintptr_t>(t) * 100000 + static_cast<uintptr_t>(i);
        if (!PostMessageTo(h, kPosted, id, 0)) ++failed_posts;
        if (i % kSendEvery == 0) {
          intptr_t result = 0;
          if (!SendMessageWithTimeout(h, kSent, id, 0, 20000, &result)) {
            ++failed_sends;
            break;  // one timeout is enough to fail; more would only slow the test
          }
          if (result != static_cast<intptr_t>(id ^ 0x5A5A)) ++wrong_results;
        }
      }
      ++finished;
    }));
  }
  const size_t posts = static_cast<size_t>(kThreads) * kMessages;
  EXPECT_TRUE(PumpUntil([&] { return finished == kThreads && posted_count.size() == posts; }));
  for (auto& w : workers) ASSERT_TRUE(Ready(w, 30s));
  ProcessPendingMessages();
  DestroyMessageWindow(h);

  EXPECT_EQ(failed_posts.load(), 0);
  EXPECT_EQ(failed_sends.load(), 0);
  EXPECT_EQ(wrong_results.load(), 0);
  EXPECT_EQ(foreign_calls, 0) << "handlers must run on the owner thread only";
  EXPECT_EQ(posted_count.size(), posts);
  EXPECT_EQ(sent_count.size(), static_cast<size_t>(kThreads) * (kMessages / kSendEvery));
  for (const auto& [id, n] : posted_count) EXPECT_EQ(n, 1) << "posted " << id;
  for (const auto& [id, n] : sent_count) EXPECT_EQ(n, 1) << "sent " << id;
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    EXPECT_TRUE(std::is_sorted(posted_order[t].begin(), posted_order[t].end()))
        << "one thread's posts keep their order";
  }
}

// Each of two threads owns a window and sends to the other's. A thread
// waiting in a send handles the messages sent to it, so neither blocks the
// other for good.
TEST(MessageWindowConcurrency, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  constexpr int kRounds = 200;
  struct Side {
    std::promise<WindowHandle> window;
    std::atomic<int> handled{0};
    std::atomic<int> foreign_calls{0};
    std::atomic<int> failed_sends{0};
    std::atomic<bool> done{false};
  };
  Side sides[2];
  std::shared_future<WindowHandle> handles[2];

  auto run = [&](int me) {
    Side& mine = sides[me];
    Side& peer = sides[1 - me];
    const uint32_t thread = CurrentThreadId();
    WindowHandle own =
        CreateMessageWindow([&, thread](WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t) {
          if (msg != kSent) return intptr_t{0};
          if (CurrentThreadId() != thread) ++mine.foreign_calls;
          ++mine.handled;
          return static_cast<intptr_t>(wparam) + 1;
        });
    mine.window.set_value(own);
    if (handles[1 - me].wait_for(20s) != std::future_status::ready) {
      mine.done = true;
      DestroyMessageWindow(own);
      return;
    }
    WindowHandle other = handles[1 - me].get();
    for (int i = 0; i < kRounds; ++i) {
      intptr_t result = 0;
      if (!SendMessageWithTimeout(other, kSent, static_cast<uintptr_t>(i), 0, 10000, &result) ||
          result != i + 1) {
        ++mine.failed_sends;
        break;  // a deadlock costs one timeout, not one per round
      }
    }
    mine.done = true;
    // Keep answering until the peer has finished its sends too.
    PumpUntil([&] { return peer.done.load(); });
    DestroyMessageWindow(own);
  };

  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    for (Side& s : sides) {
      s.window = {};
      s.handled = 0;
      s.foreign_calls = 0;
      s.failed_sends = 0;
      s.done = false;
    }
    handles[0] = sides[0].window.get_future().share();
    handles[1] = sides[1].window.get_future().share();
    auto a = std::async(std::launch::async, run, 0);
    auto b = std::async(std::launch::async, run, 1);
    ASSERT_TRUE(Ready(a, 60s));
    ASSERT_TRUE(Ready(b, 60s));
    for (Side& s : sides) {
      EXPECT_EQ(s.failed_sends.load(), 0);
      EXPECT_EQ(s.handled.load(), kRounds);
      EXPECT_EQ(s.foreign_calls.load(), 0);
    }
  }
}

// Senders blocked on a window whose owner destroys it must all return
// (with false) long before their timeout, and the handler must not run.
TEST(MessageWindowConcurrency, DestroyingAWindowReleasesAllWaitingSenders) {
  constexpr int kSenders = 4;
  ProcessPendingMessages();  // a fresh owner is not hung
  std::atomic<int> handled{0};
  WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == kSent) ++handled;
    return intptr_t{1};
  });
  ASSERT_NE(h, 0u);
  std::vector<std::future<bool>> senders;
  for (int i = 0; i < kSenders; ++i) {
    senders.push_back(std::async(std::launch::async, [h] {
      intptr_t result = 0;
      return SendMessageWithTimeout(h, kSent, 0, 0, 60000, &result);
    }));
  }
  std::this_thread::sleep_for(100ms);
  DestroyMessageWindow(h);
  EXPECT_TRUE(PumpUntil([&] {
    return std::all_of(senders.begin(), senders.end(), [](auto& f) { return Ready(f); });
  }));
  for (auto& f : senders) {
    ASSERT_TRUE(Ready(f, 60s));
    EXPECT_FALSE(f.get());
  }
  EXPECT_EQ(handled.load(), 0);
}

// Posters race the owner's DestroyMessageWindow: each post either arrives
// once (before the destruction) or is refused; none arrives afterwards.
TEST(MessageWindowConcurrency, PostingWhileTheOwnerDestroysTheWindow) {
  constexpr int kPosters = 3;
  std::atomic<int> handled_after_destroy{0};
  std::atomic<bool> destroyed{false};
  std::set<uintptr_t> handled;  // owner thread only
  int duplicates = 0;
  WindowHandle h = CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t) {
    if (msg != kPosted) return intptr_t{0};
    if (destroyed) ++handled_after_destroy;
    if (!handled.insert(wparam).second) ++duplicates;
    return intptr_t{0};
  });
  ASSERT_NE(h, 0u);
  std::atomic<int> accepted{0};
  std::vector<std::future<void>> posters;
  for (int t = 0; t < kPosters; ++t) {
    posters.push_back(std::async(std::launch::async, [&, t] {
      auto deadline = std::chrono::steady_clock::now() + 30s;
      for (uintptr_t i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
        if (!PostMessageTo(h, kPosted, static_cast<uintptr_t>(t) * 10000000 + i, 0)) return;
        ++accepted;
        if (i % 64 == 0) std::this_thread::yield();
      }
    }));
  }
  PumpUntil([&] { return handled.size() >= 500; });
  DestroyMessageWindow(h);
  destroyed = true;
  for (auto& p : posters) ASSERT_TRUE(Ready(p, 40s));
  ProcessPendingMessages();
  EXPECT_FALSE(IsWindowAlive(h));
  EXPECT_EQ(handled_after_destroy.load(), 0);
  EXPECT_EQ(duplicates, 0);
  EXPECT_LE(handled.size(), static_cast<size_t>(accepted.load()));
  EXPECT_GT(handled.size(), 0u);
}

}  // namespace
}  // namespace tarvel::platform
