// DeadlineQueue: when the clients of one settings generation fall due next.
// A min-heap holding at most one entry per client, so that it never
// outgrows the clients, whatever the data does: a client's entry moves
// rather than a new one being added. Its place is kept in the client's
// record (queue_slot).
//
// Rule: a client with armed watches has an entry no later than its earliest
// armed deadline (EarliestDeadline of its watches), unless a running tick
// has taken the client out (CollectDue) and will put it back (Settle). An
// entry may be early: data only moves a client's deadlines later, and the
// entry is corrected when it comes up, not on every data row.
//
//  - Lower: the client's earliest deadline became earlier (data restarted a
//    watch that had none armed, or a shorter one); its entry moves up.
//  - CollectDue: the tick takes out every client whose entry has passed,
//    early ones included; it looks at their watches and settles each.
//  - Settle: after the tick looked at a client, its entry goes to the
//    client's earliest deadline, or away when nothing is armed any more.
//  - EarliestPending: the earliest entry, for the check timer: never later
//    than the earliest armed deadline of all clients, at worst early.
//  - Peek, Raise: whoever holds the front client's shard lock corrects its
//    entry from its watches, so that the timer need not come early.
//
// Threads: every call takes the queue's own lock, and may be made while
// holding a client's shard lock (never the other way round). Lower and
// Settle are given a deadline the caller read from the client's watches
// under its shard lock, and are called under that lock, so that what the
// queue holds follows the watches in the order they changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/ThreadSafety.h"
#include "monitor/ClientRecords.h"

namespace tarvel {

class DeadlineQueue {
 public:
  DeadlineQueue() = default;
  DeadlineQueue(const DeadlineQueue&) = delete;
  DeadlineQueue& operator=(const DeadlineQueue&) = delete;

  // Lower gives the client an entry no later than deadline.
  void Lower(TClientListItem& client, int64_t deadline);
  // Settle puts the client's entry at earliest (its earliest armed
  // deadline), or removes it when that is kNoDeadline.
  void Settle(TClientListItem& client, int64_t earliest);
  // CollectDue appends to due every client whose entry is due at now, and
  // takes their entries out. If appending fails the client keeps its entry.
  void CollectDue(int64_t now, std::vector<TClientListItem*>& due);
  // EarliestPending returns the earliest entry, or kNoDeadline.
  int64_t EarliestPending() const;
  // Front: the earliest entry's client (null when there is none) and
  // deadline.
  struct Front {
    TClientListItem* client = nullptr;
    int64_t deadline = kNoDeadline;
  };
  Front Peek() const;
  // Raise corrects an early entry: when the client's entry still is at was
  // and earliest is later, the entry moves to earliest (or goes, for
  // kNoDeadline). Returns whether it did.
  bool Raise(TClientListItem& client, int64_t was, int64_t earliest);
  // Size counts the entries: never more than the clients.
  size_t Size() const;
  // MemoryBytes: what the entries take, room to grow included.
  size_t MemoryBytes() const;

 private:
  // Packed: twelve bytes rather than sixteen in both builds (one per
  // client with armed watches); unaligned reads cost nothing here.
#pragma pack(push, 4)
  struct Entry {
    int64_t deadline;
    TClientListItem* client;
  };
#pragma pack(pop)
  static_assert(sizeof(Entry) == sizeof(int64_t) + sizeof(void*));
  void Push(TClientListItem& client, int64_t deadline) TARVEL_REQUIRES(mu_);
  void Remove(uint32_t slot) TARVEL_REQUIRES(mu_);
  // Move sets an entry's deadline and restores the heap order.
  void Move(uint32_t slot, int64_t deadline) TARVEL_REQUIRES(mu_);
  void SiftUp(uint32_t slot) TARVEL_REQUIRES(mu_);
  void SiftDown(uint32_t slot) TARVEL_REQUIRES(mu_);
  void Put(uint32_t slot, const Entry& e) TARVEL_REQUIRES(mu_) {
    heap_[slot] = e;
    e.client->queue_slot = slot;
  }

  mutable Mutex mu_;
  std::vector<Entry> heap_ TARVEL_GUARDED_BY(mu_);
};

}  // namespace tarvel
