// The lock's promotion and fairness properties with real threads. Waits are
// bounded so a deadlock fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "Common/ThreadLists.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Waits until pred holds, at most 10 s.
template <class Pred>
bool Eventually(Pred pred) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ThreadListsConcurrency, TwoReadersPromotingAtOnceBothGetThrough) {
  for (int round = 0; round < 50; ++round) {
    TThreadObjectList<int> list(false);
    static int values[2];
    std::atomic<int> holding{0};
    std::atomic<int> inside{0};
    std::atomic<int> max_inside{0};
    auto worker = [&](int i) {
      auto reading = list.LockRead();
      ++holding;
      while (holding.load() < 2) std::this_thread::yield();
      auto writing = list.Lock();  // both promote while both hold shared
      int now = ++inside;
      int seen = max_inside.load();
      while (now > seen && !max_inside.compare_exchange_weak(seen, now)) {
      }
      list.Lock()->Add(&values[i]);  // re-entrant exclusive
      --inside;
    };
    auto a = std::async(std::launch::async, worker, 0);
    auto b = std::async(std::launch::async, worker, 1);
    ASSERT_EQ(a.wait_for(10s), std::future_status::ready) << "round " << round;
    ASSERT_EQ(b.wait_for(10s), std::future_status::ready) << "round " << round;
    EXPECT_EQ(max_inside.load(), 1);
    EXPECT_EQ(list.LockRead()->Count(), 2);
  }
}

TEST(ThreadListsConcurrency, AddUnderASharedHoldWaitsForOtherReaders) {
  TThreadObjectList<int> list(false);
  int x = 0;
  std::atomic<bool> other_holds{false}, release_other{false}, added{false};
  std::thread other([&] {
    auto reading = list.LockRead();
    other_holds = true;
    while (!release_other) std::this_thread::yield();
  });
  ASSERT_TRUE(Eventually([&] { return other_holds.load(); }));
  std::thread adder([&] {
    auto reading = list.LockRead();
    list.Add(&x);
    added = true;
    EXPECT_TRUE(list.MultiReadLock().HeldSharedByMe());  // still a reader afterwards
  });
  // The adder is promoting: it waits for the other reader to leave.
  ASSERT_TRUE(Eventually([&] { return list.MultiReadLock().WaitingWriters() == 1; }));
  EXPECT_FALSE(added.load());
  release_other = true;
  ASSERT_TRUE(Eventually([&] { return added.load(); }));
  adder.join();
  other.join();
}

TEST(ThreadListsConcurrency, NewReadersWaitBehindAWaitingWriter) {
  TThreadObjectList<int> list(false);
  std::atomic<bool> writer_done{false}, late_reader_in{false};
  std::optional<ReadLocked<TObjectList<int>>> blocking(list.LockRead());  // blocks the writer
  std::thread writer([&] {
    auto writing = list.Lock();
    writer_done = true;
  });
  ASSERT_TRUE(Eventually([&] { return list.MultiReadLock().WaitingWriters() == 1; }));
  std::thread late([&] {
    auto reading = list.LockRead();
    late_reader_in = true;
    EXPECT_TRUE(writer_done.load());  // got in only after the writer
  });
  // The late reader queues behind the waiting writer.
  ASSERT_TRUE(Eventually([&] { return list.MultiReadLock().WaitingReaders() == 1; }));
  EXPECT_FALSE(late_reader_in.load());
  list.LockRead();  // re-entrant: a holder never waits behind a writer
  blocking.reset();
  writer.join();
  late.join();
  EXPECT_TRUE(late_reader_in.load());
}

TEST(ThreadListsConcurrency, ManyThreadsMixingHoldsKeepTheListConsistent) {
  TThreadObjectList<int> list(true);
  constexpr int kThreads = 6, kOps = 2000;
  std::atomic<int> added{0}, deleted{0};
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kOps; ++i) {
        if ((i + t) % 3 == 0) {
          list.Add(new int(i));
          ++added;
        } else if ((i + t) % 3 == 1) {
          auto l = list.LockRead();
          // No writer may change the list under a shared hold.
          const int before = l->Count();
          for (int* p : *l)
            if (*p < -1 || *p >= kOps) torn = true;
          if (l->Count() != before) torn = true;
          if (i % 7 == 0) {
            list.Add(new int(-1));  // promotion inside a read
            ++added;
          }
        } else {
          auto l = list.Lock();
          if (l->Count() > 100) {
            l->Delete(0);
            ++deleted;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(torn.load());
  // Every add and every delete took effect exactly once.
  EXPECT_EQ(list.LockRead()->Count(), added.load() - deleted.load());
  EXPECT_GT(deleted.load(), 0);
}

TEST(ThreadListsConcurrency, StringListAddsFromManyThreadsAreAllKept) {
  TThreadStringList lines;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) lines.Add("line");
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(lines.Lock()->size(), 4000u);
}

}  // namespace
}  // namespace tarvel
