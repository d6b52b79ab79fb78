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

// Clients is a set of client records and the earliest deadline of each,
// which the engine reads from a client's watches under its lock.
class Clients {
 public:
  explicit Clients(size_t n) : earliest_(n, kNoDeadline) {
    const ClientIdView none;
    for (size_t i = 0; i < n; ++i) records_.push_back(std::make_unique<TClientListItem>(none));
  }
  TClientListItem& operator[](size_t i) { return *records_[i]; }
  size_t size() const { return records_.size(); }
  int64_t Earliest(size_t i) const { return earliest_[i]; }
  int64_t Earliest(const TClientListItem* c) const { return earliest_[NumberOf(c)]; }
  void SetEarliest(size_t i, int64_t deadline) { earliest_[i] = deadline; }
  void SetEarliest(const TClientListItem* c, int64_t deadline) {
    earliest_[NumberOf(c)] = deadline;
  }
  size_t NumberOf(const TClientListItem* c) const {
    for (size_t i = 0; i < records_.size(); ++i)
      if (records_[i].get() == c) return i;
    ADD_FAILURE() << "not a client of the set";
    return 0;
  }
  std::vector<size_t> Numbers(const std::vector<TClientListItem*>& clients) const {
    std::vector<size_t> out;
    for (const TClientListItem* c : clients) out.push_back(NumberOf(c));
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::vector<std::unique_ptr<TClientListItem>> records_;
  std::vector<int64_t> earliest_;
};

// Corrects early entries at the front as the engine does, holding the
// client's lock: afterwards the front is the earliest armed deadline.
int64_t Corrected(DeadlineQueue& queue, const Clients& clients) {
  for (;;) {
    const DeadlineQueue::Front front = queue.Peek();
    if (!front.client) return kNoDeadline;
    if (!queue.Raise(*front.client, front.deadline, clients.Earliest(front.client)))
      return queue.EarliestPending();
  }
}

TEST(DeadlineQueue, HandsOutTheDueClientsAndCorrectsEarlyEntries) {
  Clients clients(3);
  DeadlineQueue queue;
  const int64_t deadlines[] = {100, 50, 200};
  for (size_t i = 0; i < 3; ++i) {
    clients.SetEarliest(i, deadlines[i]);
    queue.Lower(clients[i], deadlines[i]);
  }
  EXPECT_EQ(queue.EarliestPending(), 50);
  // Data moves client 1 later: its entry stays early until corrected.
  clients.SetEarliest(1, 150);
  EXPECT_EQ(queue.EarliestPending(), 50) << "an early entry stays until corrected";
  EXPECT_FALSE(queue.Raise(clients[1], 40, 150)) << "the entry is no longer where it was seen";
  EXPECT_FALSE(queue.Raise(clients[1], 50, 50)) << "an entry on time stays";
  EXPECT_EQ(Corrected(queue, clients), 100);
  EXPECT_EQ(queue.Size(), 3u);
  std::vector<TClientListItem*> due;
  queue.CollectDue(99, due);
  EXPECT_TRUE(due.empty());
  queue.CollectDue(160, due);
  EXPECT_EQ(clients.Numbers(due), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(queue.Size(), 1u) << "the due clients are out until settled";
  // After firing: client 0 has nothing armed, client 1 a new deadline.
  queue.Settle(clients[0], kNoDeadline);
  queue.Settle(clients[1], 300);
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.EarliestPending(), 200);
  // Data during a tick may lower a client taken out; settling then moves
  // that one entry.
  due.clear();
  queue.CollectDue(250, due);
  EXPECT_EQ(clients.Numbers(due), (std::vector<size_t>{2}));
  queue.Lower(clients[2], 260);
  queue.Settle(clients[2], 260);
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.EarliestPending(), 260);
  // An entry whose client has nothing armed any more goes when corrected.
  clients.SetEarliest(2, kNoDeadline);
  clients.SetEarliest(1, 300);
  EXPECT_EQ(Corrected(queue, clients), 300);
  EXPECT_EQ(queue.Size(), 1u);
}

// The pattern that used to pile entries up: a short watch that times out
// and comes back every cycle beside a long one.
TEST(DeadlineQueue, AFlappingClientKeepsOneEntry) {
  constexpr size_t kClients = 100;
  constexpr int64_t kShort = 1000, kLong = 3600000;
  Clients clients(kClients);
  DeadlineQueue queue;
  int64_t now = 0;
  for (size_t i = 0; i < kClients; ++i) queue.Lower(clients[i], now + kShort);
  for (int cycle = 0; cycle < 1000; ++cycle) {
    now += 1500;
    std::vector<TClientListItem*> due;
    queue.CollectDue(now, due);
    ASSERT_EQ(due.size(), kClients);
    // The short watch fired: the long one is left.
    for (TClientListItem* c : due) queue.Settle(*c, kLong);
    // The short watch's data again.
    for (size_t i = 0; i < kClients; ++i) queue.Lower(clients[i], now + kShort);
    ASSERT_LE(queue.Size(), kClients) << "cycle " << cycle;
  }
}

// Random data and ticks against a plain model: every client with an armed
// deadline is handed out once it is due (early ones may come along and are
// settled again), and the corrected front is the smallest armed deadline.
TEST(DeadlineQueue, AgreesWithAPlainModelUnderRandomChanges) {
  constexpr size_t kClients = 64;
  Clients clients(kClients);
  DeadlineQueue queue;
  std::mt19937 rng(7);
  int64_t now = 1000;
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE(step);
    const size_t c = rng() % kClients;
    const int64_t before = clients.Earliest(c);
    switch (rng() % 4) {
      case 0:
      case 1: {  // data: a restart somewhere between now and a while ahead
        int64_t earliest = now + 1 + static_cast<int64_t>(rng() % 500);
        if (before != kNoDeadline && rng() % 2) earliest = std::max(earliest, before);
        clients.SetEarliest(c, earliest);
        if (earliest < before) queue.Lower(clients[c], earliest);
        break;
      }
      case 2: {  // a tick
        now += static_cast<int64_t>(rng() % 100);
        std::vector<TClientListItem*> due;
        queue.CollectDue(now, due);
        const std::vector<size_t> got = clients.Numbers(due);
        ASSERT_EQ(std::set<size_t>(got.begin(), got.end()).size(), got.size())
            << "a client handed out twice";
        for (size_t i = 0; i < kClients; ++i) {
          if (clients.Earliest(i) <= now) {
            ASSERT_TRUE(std::binary_search(got.begin(), got.end(), i)) << "due client " << i;
          }
        }
        for (TClientListItem* d : due) {
          // Fired: nothing armed, or a repeat; an early one keeps its own.
          if (clients.Earliest(d) <= now)
            clients.SetEarliest(d, rng() % 2 ? kNoDeadline : now + 1 + (rng() % 300));
          queue.Settle(*d, clients.Earliest(d));
        }
        break;
      }
      case 3: {
        int64_t expected = kNoDeadline;
        for (size_t i = 0; i < kClients; ++i) expected = std::min(expected, clients.Earliest(i));
        ASSERT_LE(queue.EarliestPending(), expected) << "never late";
        ASSERT_EQ(Corrected(queue, clients), expected);
        break;
      }
    }
    ASSERT_LE(queue.Size(), kClients);
  }
}

}  // namespace
}  // namespace tarvel
