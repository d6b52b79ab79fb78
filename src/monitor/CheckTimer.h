// TCheckTimer: the monitor's check timer. A window timer belongs to the
// thread that creates it and ticks only there (one tick at a time, while
// that thread pumps messages); data calls on other host threads must still
// stop it and set its next interval. Calls from the owner thread act at
// once; calls from other threads are posted to the owner and take effect
// at its next pump, in call order.
//
// Destroying the timer on another thread than its owner leaves the window
// to be destroyed by the owner at its next pump.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarvel {

class TCheckTimer {
 public:
  // Creates the timer stopped, on the calling thread, with the interval.
  explicit TCheckTimer(std::function<void()> on_tick, uint32_t interval_ms = 3000);
  ~TCheckTimer();
  TCheckTimer(const TCheckTimer&) = delete;
  TCheckTimer& operator=(const TCheckTimer&) = delete;

  // SetInterval sets the interval and (re)starts the timer: the next tick
  // comes that many milliseconds after the change takes effect.
  void SetInterval(uint32_t interval_ms);
  void Start();
  void Stop();
  // Shutdown stops the timer for good; from another thread it waits for a
  // tick running on the owner. No tick calls on_tick after it, while the
  // timer object stays usable for a tick still finishing (its calls then
  // change nothing). The destructor runs it too.
  void Shutdown();

  uint32_t Interval() const;
  bool Enabled() const;
  // OwnerThread is the thread whose message pump delivers the ticks.
  uint32_t OwnerThread() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tarvel
