#include "monitor/DeadlineQueue.h"

namespace tarvel {

void DeadlineQueue::Lower(TClientListItem& client, int64_t deadline) {
  MutexLock lock(mu_);
  if (client.queue_slot == TClientListItem::kNotQueued)
    Push(client, deadline);
  else if (deadline < heap_[client.queue_slot].deadline)
    Move(client.queue_slot, deadline);
}

void DeadlineQueue::Settle(TClientListItem& client, int64_t earliest) {
  MutexLock lock(mu_);
  if (client.queue_slot == TClientListItem::kNotQueued) {
    if (earliest != kNoDeadline) Push(client, earliest);
  } else if (earliest == kNoDeadline) {
    Remove(client.queue_slot);
  } else {
    Move(client.queue_slot, earliest);
  }
}

void DeadlineQueue::CollectDue(int64_t now, std::vector<TClientListItem*>& due) {
  MutexLock lock(mu_);
  while (!heap_.empty() && heap_.front().deadline <= now) {
    // Listed before it leaves the queue, so a failed allocation loses no one.
    due.push_back(heap_.front().client);
    Remove(0);
  }
}

int64_t DeadlineQueue::EarliestPending() const {
  MutexLock lock(mu_);
  return heap_.empty() ? kNoDeadline : heap_.front().deadline;
}

DeadlineQueue::Front DeadlineQueue::Peek() const {
  MutexLock lock(mu_);
  if (heap_.empty()) return {};
  return {heap_.front().client, heap_.front().deadline};
}

bool DeadlineQueue::Raise(TClientListItem& client, int64_t was, int64_t earliest) {
  MutexLock lock(mu_);
  const uint32_t slot = client.queue_slot;
  if (slot == TClientListItem::kNotQueued || heap_[slot].deadline != was || earliest <= was)
    return false;
  if (earliest == kNoDeadline)
    Remove(slot);
  else
    Move(slot, earliest);
  return true;
}

size_t DeadlineQueue::Size() const {
  MutexLock lock(mu_);
  return heap_.size();
}

size_t DeadlineQueue::MemoryBytes() const {
  MutexLock lock(mu_);
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
