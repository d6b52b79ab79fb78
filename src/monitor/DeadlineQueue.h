// DeadlineQueue: when the clients of one settings generation fall due next.
// A min-heap holding at most one entry per client, so that it never
// outgrows the clients, whatever the data does: a client's entry moves
// rather than a new one being added. Its place is kept in the client's
// record (queue_slot).
//
// Rule: a client with armed watches has an entry no later than its earliest
// armed deadline (TClientListItem::earliest), unless a running tick has
// taken the client out (CollectDue) and will put it back (Settle). An
// entry may be early: data only moves a client's deadlines later, and the
// entry is corrected when it comes up, not on every data row.
//
//  - Lower: the client's earliest deadline became earlier (data restarted a
//    watch that had none armed, or a shorter one); its entry moves up.
//  - CollectDue: the tick takes out every client whose entry and earliest
//    deadline have passed; early entries met on the way are corrected.
//  - Settle: after the tick fired a client, its entry goes to its earliest
//    deadline, or away when nothing is armed any more.
//  - EarliestPending: the earliest armed deadline of all clients, for the
//    check timer.
//
// Threads: every call takes the queue's own lock, and may be made while
// holding a client's shard lock (never the other way round). A client's
// `earliest` is written under its shard lock and read here under the
// queue's lock; Lower after such a write keeps the rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "monitor/ClientRecords.h"

namespace tarvel {

class DeadlineQueue {
 public:
  DeadlineQueue() = default;
  DeadlineQueue(const DeadlineQueue&) = delete;
  DeadlineQueue& operator=(const DeadlineQueue&) = delete;

  // Lower gives the client an entry no later than deadline.
  void Lower(TClientListItem& client, int64_t deadline);
  // Settle puts the client's entry at client.earliest, or removes it when
  // that is kNoDeadline.
  void Settle(TClientListItem& client);
  // CollectDue appends to due every client whose entry is due at now and
  // whose earliest deadline has passed, and takes their entries out. If
  // appending fails the client keeps its entry.
  void CollectDue(int64_t now, std::vector<TClientListItem*>& due);
  // EarliestPending returns the earliest armed deadline of the queued
  // clients, or kNoDeadline.
  int64_t EarliestPending();
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
  void Push(TClientListItem& client, int64_t deadline);
  void Remove(uint32_t slot);
  // Move sets an entry's deadline and restores the heap order.
  void Move(uint32_t slot, int64_t deadline);
  void SiftUp(uint32_t slot);
  void SiftDown(uint32_t slot);
  void Put(uint32_t slot, const Entry& e) {
    heap_[slot] = e;
    e.client->queue_slot = slot;
  }

  mutable std::mutex mu_;
  std::vector<Entry> heap_;  // guarded by mu_
};

}  // namespace tarvel
