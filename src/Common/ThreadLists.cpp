#include "Common/ThreadLists.h"

#include <stdexcept>

#include "platform/thread.h"

namespace tarvel {

TMultiReadLock::Holder* TMultiReadLock::Find(uint32_t thread) {
  for (Holder& h : holders_)
    if (h.thread == thread) return &h;
  return nullptr;
}

const TMultiReadLock::Holder* TMultiReadLock::Find(uint32_t thread) const {
  for (const Holder& h : holders_)
    if (h.thread == thread) return &h;
  return nullptr;
}

void TMultiReadLock::DropIfIdle(uint32_t thread) {
  for (size_t i = 0; i < holders_.size(); ++i) {
    if (holders_[i].thread == thread && holders_[i].shared == 0 && holders_[i].exclusive == 0 &&
        !holders_[i].promoting) {
      holders_[i] = holders_.back();
      holders_.pop_back();
      return;
    }
  }
}

// A promoting thread's shared hold is suspended while it waits.
bool TMultiReadLock::OthersHold(uint32_t thread) const {
  for (const Holder& h : holders_) {
    if (h.thread == thread) continue;
    if (h.exclusive > 0 || (h.shared > 0 && !h.promoting)) return true;
  }
  return false;
}

void TMultiReadLock::LockRead() {
  const uint32_t me = platform::CurrentThreadId();
  UniqueLock lock(mutex_);
  if (Holder* h = Find(me); h && (h->shared > 0 || h->exclusive > 0)) {
    ++h->shared;  // re-entrant, or a writer reading its own data
    return;
  }
  ++waiting_readers_;
  changed_.Wait(lock,
                [&]() TARVEL_REQUIRES(mutex_) { return writer_ == 0 && waiting_writers_ == 0; });
  --waiting_readers_;
  if (Holder* h = Find(me))
    ++h->shared;
  else
    holders_.push_back({me, 1, 0, false});
}

void TMultiReadLock::UnlockRead() {
  const uint32_t me = platform::CurrentThreadId();
  {
    MutexLock lock(mutex_);
    Holder* h = Find(me);
    if (!h || h->shared == 0) throw std::logic_error("UnlockRead without a shared hold");
    --h->shared;
    DropIfIdle(me);
  }
  changed_.NotifyAll();
}

void TMultiReadLock::LockWrite() {
  const uint32_t me = platform::CurrentThreadId();
  UniqueLock lock(mutex_);
  Holder* h = Find(me);
  if (h && h->exclusive > 0) {
    ++h->exclusive;
    return;
  }
  if (!h) {
    holders_.push_back({me, 0, 0, false});
  }
  Find(me)->promoting = true;
  ++waiting_writers_;
  // Others see our suspended shared hold as gone; wake them to re-check.
  changed_.NotifyAll();
  changed_.Wait(lock, [&]() TARVEL_REQUIRES(mutex_) { return writer_ == 0 && !OthersHold(me); });
  --waiting_writers_;
  writer_ = me;
  h = Find(me);
  h->promoting = false;
  h->exclusive = 1;
}

void TMultiReadLock::UnlockWrite() {
  const uint32_t me = platform::CurrentThreadId();
  {
    MutexLock lock(mutex_);
    Holder* h = Find(me);
    if (!h || h->exclusive == 0) throw std::logic_error("UnlockWrite without an exclusive hold");
    if (--h->exclusive == 0) writer_ = 0;
    DropIfIdle(me);
  }
  changed_.NotifyAll();
}

bool TMultiReadLock::HeldExclusiveByMe() const {
  MutexLock lock(mutex_);
  const Holder* h = Find(platform::CurrentThreadId());
  return h && h->exclusive > 0;
}

bool TMultiReadLock::HeldSharedByMe() const {
  MutexLock lock(mutex_);
  const Holder* h = Find(platform::CurrentThreadId());
  return h && h->shared > 0;
}

int TMultiReadLock::WaitingWriters() const {
  MutexLock lock(mutex_);
  return waiting_writers_;
}

int TMultiReadLock::WaitingReaders() const {
  MutexLock lock(mutex_);
  return waiting_readers_;
}

int TThreadStringList::Add(std::string_view text) {
  auto lines = Lock();
  lines->emplace_back(text);
  return static_cast<int>(lines->size()) - 1;
}

void TThreadStringList::SetText(std::string_view text) {
  std::vector<std::string> lines = SplitLines(text);
  Lock()->swap(lines);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) out.emplace_back(text.substr(start));
  return out;
}

}  // namespace tarvel
