#include "Common/ReaderPins.h"

#include "platform/thread.h"

namespace tarvel {

size_t ReaderPins::StripeOfThisThread() {
  // Spread by the thread's id (Windows ids are multiples of 4): two threads
  // seldom share a stripe. No thread-local data: in the DLL that would stay
  // behind, per thread, when the host unloads it.
  const uint32_t id = platform::CurrentThreadId();
  return static_cast<size_t>(((id >> 2) * 0x9E3779B1u) >> 28) % kStripes;
}

ReaderPins::Pin ReaderPins::Enter() const {
  const size_t stripe = StripeOfThisThread();
  for (;;) {
    const uint32_t epoch = epoch_.load(std::memory_order_seq_cst);
    std::atomic<int32_t>& count = counters_[epoch & 1][stripe].pins;
    count.fetch_add(1, std::memory_order_seq_cst);
    // Counted before the epoch moved on: a writer that moves it waits for
    // this pin. Otherwise the count may have come too late for it; take
    // the pin in the new epoch instead.
    if (epoch_.load(std::memory_order_seq_cst) == epoch) return Pin(&count);
    count.fetch_sub(1, std::memory_order_release);
  }
}

bool ReaderPins::Drained(uint32_t epoch) const {
  for (const Counter& c : counters_[epoch & 1])
    if (c.pins.load(std::memory_order_seq_cst) != 0) return false;
  return true;
}

void ReaderPins::WaitDrained(uint32_t epoch) const {
  for (const Counter& c : counters_[epoch & 1]) {
    for (unsigned spins = 0; c.pins.load(std::memory_order_seq_cst) != 0; ++spins) {
      if (spins < 64)
        platform::YieldThread();
      else
        platform::SleepMs(1);
    }
  }
}

void ReaderPins::WaitForReaders() {
  MutexLock lock(writer_mu_);
  const uint32_t left = epoch_.load(std::memory_order_relaxed);
  // Passed may have moved the epoch on without waiting for the pins of the
  // one before.
  WaitDrained(left - 1);
  epoch_.store(left + 1, std::memory_order_seq_cst);
  WaitDrained(left);
}

bool ReaderPins::Passed(uint32_t stamp) {
  // Pins of epochs after the stamp were taken after the object was
  // unpublished, so they cannot see it. One epoch on, the pins of the
  // stamp's epoch (the last that could see the object) may still be held.
  uint32_t epoch = epoch_.load(std::memory_order_seq_cst);
  const auto passed = [&] { return epoch - stamp >= 2 || Drained(stamp); };
  if (epoch != stamp) return passed();
  // Taken only if free: a writer that waits here would wait for readers.
  if (!writer_mu_.try_lock()) return false;
  MutexLock held(writer_mu_, kAdoptLock);
  epoch = epoch_.load(std::memory_order_relaxed);
  if (epoch != stamp || Drained(epoch - 1)) {
    if (epoch == stamp) epoch_.store(++epoch, std::memory_order_seq_cst);
    return passed();
  }
  return false;
}

}  // namespace tarvel
