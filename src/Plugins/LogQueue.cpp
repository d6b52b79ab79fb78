// The log queue's work: the queued lines under their list's lock, the batch
// on its thread. What reaches the host is sent by the instance
// (Plugins/vopPluginLog.cpp) with no list held.
#include "Plugins/LogQueue.h"

#include <iterator>
#include <utility>

#include "platform/thread.h"

namespace tarvel {

namespace {

void KeepLast(std::vector<std::string>& lines) {
  if (lines.size() > LogQueue::kLimit)
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(lines.size() - LogQueue::kLimit));
}

}  // namespace

void LogQueue::Add(std::string line) {
  auto lines = lines_.Lock();
  lines->push_back(std::move(line));
  KeepLast(*lines);
}

void LogQueue::Requeue(std::vector<std::string> front, std::vector<std::string> back) {
  auto lines = lines_.Lock();
  lines->insert(lines->begin(), std::make_move_iterator(front.begin()),
                std::make_move_iterator(front.end()));
  lines->insert(lines->end(), std::make_move_iterator(back.begin()),
                std::make_move_iterator(back.end()));
  KeepLast(*lines);
}

void LogQueue::PutBack(const std::vector<std::string>& front) {
  auto lines = lines_.Lock();
  lines->insert(lines->begin(), front.begin(), front.end());
}

std::vector<std::string> LogQueue::TakeQueued() {
  std::vector<std::string> taken;
  {
    auto lines = lines_.Lock();
    taken.swap(*lines);
  }
  return taken;
}

void LogQueue::Begin() {
  const uint32_t me = platform::CurrentThreadId();
  uint32_t none = 0;
  if (batch_thread_.load(std::memory_order_relaxed) == me ||
      batch_thread_.compare_exchange_strong(none, me))
    ++batch_depth_;
}

bool LogQueue::InBatch() const {
  return batch_thread_.load(std::memory_order_relaxed) == platform::CurrentThreadId();
}

bool LogQueue::End() {
  if (!InBatch()) return false;
  return --batch_depth_ <= 0;
}

void LogQueue::Release() {
  batch_thread_.store(0);
}

bool LogQueue::Append(std::string_view wire_line, size_t batch_bytes) {
  batch_ += wire_line;
  return batch_.size() >= batch_bytes;
}

std::string LogQueue::TakeBatch() {
  std::string batch;
  batch.swap(batch_);
  return batch;
}

}  // namespace tarvel
