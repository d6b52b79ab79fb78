// ReaderPins: lets many threads read an object that one thread now and then
// replaces, with no reader writing memory that another reader writes: each
// reader thread counts its pins on a cache line of its own. A writer
// publishes the new object, then WaitForReaders returns once every pin
// taken before it is gone, so the old object can go. A writer that must
// not wait takes a Stamp after publishing instead, keeps the old object, and
// frees it once Passed(stamp) says so (asked again later, e.g. at its next
// replacement or on a timer).
//
// Readers of the same object on two threads thus run side by side, where a
// mutex or a shared reference count would make every read move one cache
// line from one processor to the other.
//
// Rules: hold a pin only briefly, and never call anything while holding it
// that could wait for a writer of the same ReaderPins (a call into the
// host's window may: its handler can run a command on this thread), nor
// call WaitForReaders while holding a pin of the same object (it would wait
// for itself). Pins nest.
//
// Threads: Enter from any thread; WaitForReaders from any thread, one
// writer at a time (others wait their turn); Stamp and Passed from any
// thread, never waiting, also while the caller holds a pin (its own pin
// then keeps Passed false until it goes).
//
// Example:
//   ReaderPins pins;
//   std::atomic<Table*> table;
//   // reader:
//   { ReaderPins::Pin pin = pins.Enter(); Use(*table.load()); }
//   // writer:
//   Table* old = table.exchange(fresh);
//   pins.WaitForReaders();
//   delete old;
//   // or a writer that must not wait:
//   Table* old = table.exchange(fresh);  // seq_cst, as readers load it
//   retired.push_back({old, pins.Stamp()});
//   ...later: if (pins.Passed(retired[0].stamp)) delete retired[0].table;
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Common/ThreadSafety.h"

namespace tarvel {

class ReaderPins {
 public:
  // Pin: a reader's hold, released when it goes.
  class Pin {
   public:
    Pin(Pin&& other) noexcept : count_(other.count_) { other.count_ = nullptr; }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    Pin& operator=(Pin&&) = delete;
    ~Pin() {
      if (count_) count_->fetch_sub(1, std::memory_order_release);
    }

   private:
    friend class ReaderPins;
    explicit Pin(std::atomic<int32_t>* count) : count_(count) {}
    std::atomic<int32_t>* count_;
  };

  ReaderPins() = default;
  ReaderPins(const ReaderPins&) = delete;
  ReaderPins& operator=(const ReaderPins&) = delete;

  // Enter takes a pin: what the reader loads from now on stays until the
  // pin goes, against writers that call WaitForReaders.
  Pin Enter() const;
  // WaitForReaders returns once every pin taken before the call has gone.
  // Pins taken meanwhile do not hold it up.
  void WaitForReaders();

  // Stamp names the pins that may still see an object unpublished before
  // the call; Passed(stamp) is true once all of them are gone. Passed never
  // waits: it moves the epoch on when it can and otherwise answers false.
  // For this the object must be unpublished, and readers load it, with
  // sequentially consistent operations (plain loads on x86).
  uint32_t Stamp() const { return epoch_.load(std::memory_order_seq_cst); }
  bool Passed(uint32_t stamp);

 private:
  // Threads are spread over the stripes by their ids; two that share one
  // are still correct, only slower.
  static constexpr size_t kStripes = 16;
  struct alignas(64) Counter {
    std::atomic<int32_t> pins{0};
  };
  static size_t StripeOfThisThread();
  // Drained: no pin of the epochs of this parity is held.
  bool Drained(uint32_t epoch) const;
  // WaitDrained waits until Drained(epoch).
  void WaitDrained(uint32_t epoch) const;

  // Pins of even and of odd epochs. The epoch moves on from E only once
  // the pins of E - 1 are gone (they share their counters with E + 1), so
  // when the pins of E are gone, so are all earlier ones. Moved on under
  // writer_mu_.
  mutable Counter counters_[2][kStripes];
  alignas(64) std::atomic<uint32_t> epoch_{0};
  Mutex writer_mu_;
};

}  // namespace tarvel
