// Tick clock: the 32-bit millisecond counter the monitor measures silence
// with (GetTickCount on Windows, a monotonic clock on POSIX). It wraps after
// about 49.7 days; callers compare ticks with wrap-aware arithmetic.
//
// An object that measures time is handed a TickSource: SystemTicks() in the
// product, a SimulatedTicks of its own in a test, which the test advances
// and then asserts without sleeping. A source must outlive everything it
// was handed to, window timers included.
//
// Tests that drive the whole module through its exports cannot hand it a
// source; they install a ManualTickClock, which moves the system's ticks
// for the whole process (SystemTicks() and TickCount() follow it).
//
// Thread-safe: every Now and TickCount may be called from any thread, also
// while a simulated or manual clock is being advanced.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvel::platform {

// TickCount returns the installed manual clock's value, or the system's
// millisecond tick counter when none is installed.
uint32_t TickCount();

// SystemTickCount always reads the system counter.
uint32_t SystemTickCount();

// TickSource: where an object reads the 32-bit millisecond tick.
class TickSource {
 public:
  virtual uint32_t Now() const = 0;

 protected:
  ~TickSource() = default;
};

// SystemTicks: the system's tick counter (TickCount()); lives for the
// whole process.
const TickSource& SystemTicks();

// SimulatedTicks: a tick source that moves only when told to.
//
// Example:
//   platform::SimulatedTicks ticks(1000);
//   TvopTimerEx timer(nullptr, ticks);   // its window timer follows ticks
//   ...
//   ticks.Advance(100);
//   platform::ProcessPendingMessages();  // the due tick runs here
class SimulatedTicks final : public TickSource {
 public:
  explicit SimulatedTicks(uint32_t start = 0) : now_(start) {}
  SimulatedTicks(const SimulatedTicks&) = delete;
  SimulatedTicks& operator=(const SimulatedTicks&) = delete;

  uint32_t Now() const override { return now_.load(std::memory_order_acquire); }
  void Set(uint32_t tick) { now_.store(tick, std::memory_order_release); }
  // Advance moves the clock forward by ms, wrapping like the real counter.
  void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

 private:
  std::atomic<uint32_t> now_;
};

// ManualTickClock replaces the tick source for the whole process while it
// lives. Only one may be installed at a time.
class ManualTickClock {
 public:
  explicit ManualTickClock(uint32_t start = 0);
  ~ManualTickClock();
  ManualTickClock(const ManualTickClock&) = delete;
  ManualTickClock& operator=(const ManualTickClock&) = delete;

  uint32_t Now() const { return now_.load(std::memory_order_acquire); }
  void Set(uint32_t tick) { now_.store(tick, std::memory_order_release); }
  // Advance moves the clock forward by ms, wrapping like the real counter.
  void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

 private:
  std::atomic<uint32_t> now_;
};

// TickDiff returns later - earlier as a signed distance, correct across one
// wrap of the counter as long as the two ticks are less than 2^31 ms apart.
inline int32_t TickDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace tarvel::platform
