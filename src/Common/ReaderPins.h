// ReaderPins: lets many threads read an object that one thread now and then
// replaces, with no reader writing memory that another reader writes: each
// reader thread counts its pins on a cache line of its own. A writer
// publishes the new object, then WaitForReaders returns once every pin
// taken before it is gone, so the old object can go.
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
// writer at a time (others wait their turn).
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
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

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

 private:
  // Threads are spread over the stripes by their ids; two that share one
  // are still correct, only slower.
  static constexpr size_t kStripes = 16;
  struct alignas(64) Counter {
    std::atomic<int32_t> pins{0};
  };
  static size_t StripeOfThisThread();

  // Pins of even and of odd epochs; a writer moves the epoch on and waits
  // for the pins of the epoch it left.
  mutable Counter counters_[2][kStripes];
  alignas(64) std::atomic<uint32_t> epoch_{0};
  std::mutex writer_mu_;
};

}  // namespace tarvel
