#include "monitor/DeadlineQueue.h"

namespace tarvel {

void DeadlineQueue::Lower(TClientListItem& client, int64_t deadline) {
  std::lock_guard<std::mutex> lock(mu_);
  if (client.queue_slot == TClientListItem::kNotQueued)
    Push(client, deadline);
  else if (deadline < heap_[client.queue_slot].deadline)
    Move(client.queue_slot, deadline);
}

void DeadlineQueue::Settle(TClientListItem& client) {
  std::lock_guard<std::mutex> lock(mu_);
  const int64_t earliest = client.earliest.load(std::memory_order_relaxed);
  if (client.queue_slot == TClientListItem::kNotQueued) {
    if (earliest != kNoDeadline) Push(client, earliest);
  } else if (earliest == kNoDeadline) {
    Remove(client.queue_slot);
  } else {
    Move(client.queue_slot, earliest);
  }
}

void DeadlineQueue::CollectDue(int64_t now, std::vector<TClientListItem*>& due) {
  std::lock_guard<std::mutex> lock(mu_);
  while (!heap_.empty() && heap_.front().deadline <= now) {
    TClientListItem& c = *heap_.front().client;
    const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
    if (earliest <= now) {
      // Listed before it leaves the queue, so a failed allocation loses no one.
      due.push_back(&c);
      Remove(0);
    } else if (earliest == kNoDeadline) {
      Remove(0);
    } else {
      Move(0, earliest);
    }
  }
}

int64_t DeadlineQueue::EarliestPending() {
  std::lock_guard<std::mutex> lock(mu_);
  while (!heap_.empty()) {
    const Entry& top = heap_.front();
    const int64_t earliest = top.client->earliest.load(std::memory_order_relaxed);
    // Earlier than the entry only for a moment, while a data call that
    // made it so waits for this lock to lower the entry.
    if (earliest <= top.deadline) return earliest;
    if (earliest == kNoDeadline)
      Remove(0);
    else
      Move(0, earliest);
  }
  return kNoDeadline;
}

size_t DeadlineQueue::Size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return heap_.size();
}

size_t DeadlineQueue::MemoryBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return heap_.capacity() * sizeof(Entry);
}

void DeadlineQueue::Push(TClientListItem& client, int64_t deadline) {
  heap_.push_back({deadline, &client});
  client.queue_slot = static_cast<uint32_t>(heap_.size() - 1);
  SiftUp(client.queue_slot);
}

void DeadlineQueue::Remove(uint32_t slot) {
  heap_[slot].client->queue_slot = TClientListItem::kNotQueued;
  const Entry last = heap_.back();
  heap_.pop_back();
  if (slot == heap_.size()) return;
  Put(slot, last);
  // The moved entry may belong above or below its new place.
  SiftUp(slot);
  SiftDown(last.client->queue_slot);
}

void DeadlineQueue::Move(uint32_t slot, int64_t deadline) {
  const int64_t before = heap_[slot].deadline;
  heap_[slot].deadline = deadline;
  if (deadline < before)
    SiftUp(slot);
  else
    SiftDown(slot);
}

void DeadlineQueue::SiftUp(uint32_t slot) {
  const Entry e = heap_[slot];
  while (slot > 0) {
    const uint32_t parent = (slot - 1) / 2;
    if (heap_[parent].deadline <= e.deadline) break;
    Put(slot, heap_[parent]);
    slot = parent;
  }
  Put(slot, e);
}

void DeadlineQueue::SiftDown(uint32_t slot) {
  const Entry e = heap_[slot];
  const size_t n = heap_.size();
  for (;;) {
    size_t child = size_t{slot} * 2 + 1;
    if (child >= n) break;
    if (child + 1 < n && heap_[child + 1].deadline < heap_[child].deadline) ++child;
    if (e.deadline <= heap_[child].deadline) break;
    Put(slot, heap_[child]);
    slot = static_cast<uint32_t>(child);
  }
  Put(slot, e);
}

}  // namespace tarvel
