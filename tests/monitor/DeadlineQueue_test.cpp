// The deadline queue at its own contract: one entry per client whatever the
// data does, and the clients it hands out are the ones due.
#include "monitor/DeadlineQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace tarvel {
namespace {

// Clients is a set of client records whose earliest deadline the test sets
// by hand, as the engine does under a client's lock.
class Clients {
 public:
  explicit Clients(size_t n) {
    const ClientIdView none;
    for (size_t i = 0; i < n; ++i)
      records_.push_back(std::make_unique<TClientListItem>(none, static_cast<uint32_t>(i)));
  }
  TClientListItem& operator[](size_t i) { return *records_[i]; }
  size_t size() const { return records_.size(); }
  static void SetEarliest(TClientListItem& c, int64_t deadline) {
    c.earliest.store(deadline, std::memory_order_relaxed);
  }

 private:
  std::vector<std::unique_ptr<TClientListItem>> records_;
};

std::vector<uint32_t> Seqs(const std::vector<TClientListItem*>& clients) {
  std::vector<uint32_t> out;
  for (const TClientListItem* c : clients) out.push_back(c->seq);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(DeadlineQueue, HandsOutTheDueClientsAndCorrectsEarlyEntries) {
  Clients clients(3);
  DeadlineQueue queue;
  const int64_t deadlines[] = {100, 50, 200};
  for (size_t i = 0; i < 3; ++i) {
    Clients::SetEarliest(clients[i], deadlines[i]);
    queue.Lower(clients[i], deadlines[i]);
  }
  EXPECT_EQ(queue.EarliestPending(), 50);
  // Data moves client 1 later: its entry stays early until it comes up.
  Clients::SetEarliest(clients[1], 150);
  EXPECT_EQ(queue.EarliestPending(), 100) << "the early entry is corrected";
  std::vector<TClientListItem*> due;
  queue.CollectDue(99, due);
  EXPECT_TRUE(due.empty());
  queue.CollectDue(160, due);
  EXPECT_EQ(Seqs(due), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(queue.Size(), 1u) << "the due clients are out until settled";
  // After firing: client 0 has nothing armed, client 1 a new deadline.
  Clients::SetEarliest(clients[0], kNoDeadline);
  Clients::SetEarliest(clients[1], 300);
  queue.Settle(clients[0]);
  queue.Settle(clients[1]);
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.EarliestPending(), 200);
  // Data during a tick may lower a client taken out; settling then moves
  // that one entry.
  due.clear();
  queue.CollectDue(250, due);
  EXPECT_EQ(Seqs(due), (std::vector<uint32_t>{2}));
  Clients::SetEarliest(clients[2], 260);
  queue.Lower(clients[2], 260);
  queue.Settle(clients[2]);
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.EarliestPending(), 260);
}

// The pattern that used to pile entries up: a short watch that times out
// and comes back every cycle beside a long one.
TEST(DeadlineQueue, AFlappingClientKeepsOneEntry) {
  constexpr size_t kClients = 100;
  constexpr int64_t kShort = 1000, kLong = 3600000;
  Clients clients(kClients);
  DeadlineQueue queue;
  int64_t now = 0;
  for (size_t i = 0; i < kClients; ++i) {
    Clients::SetEarliest(clients[i], now + kShort);
    queue.Lower(clients[i], now + kShort);
  }
  for (int cycle = 0; cycle < 1000; ++cycle) {
    now += 1500;
    std::vector<TClientListItem*> due;
    queue.CollectDue(now, due);
    ASSERT_EQ(due.size(), kClients);
    for (TClientListItem* c : due) {  // the short watch fired: the long one is left
      Clients::SetEarliest(*c, kLong);
      queue.Settle(*c);
    }
    for (size_t i = 0; i < kClients; ++i) {  // the short watch's data again
      Clients::SetEarliest(clients[i], now + kShort);
      queue.Lower(clients[i], now + kShort);
    }
    ASSERT_LE(queue.Size(), kClients) << "cycle " << cycle;
  }
}

// Random data and ticks against a plain model: every client with an armed
// deadline is handed out exactly when it is due, and EarliestPending is the
// smallest armed deadline.
TEST(DeadlineQueue, AgreesWithAPlainModelUnderRandomChanges) {
  constexpr size_t kClients = 64;
  Clients clients(kClients);
  DeadlineQueue queue;
  std::mt19937 rng(7);
  int64_t now = 1000;
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE(step);
    TClientListItem& c = clients[rng() % kClients];
    const int64_t before = c.earliest.load();
    switch (rng() % 4) {
      case 0:
      case 1: {  // data: a restart somewhere between now and a while ahead
        int64_t earliest = now + 1 + static_cast<int64_t>(rng() % 500);
        if (before != kNoDeadline && rng() % 2) earliest = std::max(earliest, before);
        Clients::SetEarliest(c, earliest);
        if (earliest < before) queue.Lower(c, earliest);
        break;
      }
      case 2: {  // a tick
        now += static_cast<int64_t>(rng() % 100);
        std::vector<TClientListItem*> due;
        queue.CollectDue(now, due);
        std::set<uint32_t> expected;
        for (size_t i = 0; i < kClients; ++i)
          if (clients[i].earliest.load() <= now) expected.insert(clients[i].seq);
        const std::vector<uint32_t> got = Seqs(due);
        ASSERT_EQ(std::set<uint32_t>(got.begin(), got.end()), expected);
        ASSERT_EQ(got.size(), expected.size()) << "a client handed out twice";
        for (TClientListItem* d : due) {  // fired: nothing armed, or a repeat
          Clients::SetEarliest(*d, rng() % 2 ? kNoDeadline : now + 1 + (rng() % 300));
          queue.Settle(*d);
        }
        break;
      }
      case 3: {
        int64_t expected = kNoDeadline;
        for (size_t i = 0; i < kClients; ++i)
          expected = std::min(expected, clients[i].earliest.load());
        ASSERT_EQ(queue.EarliestPending(), expected);
        break;
      }
    }
    ASSERT_LE(queue.Size(), kClients);
  }
}

}  // namespace
}  // namespace tarvel
