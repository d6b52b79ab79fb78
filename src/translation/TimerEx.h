// TvopTimerEx: a periodic timer that may be switched on and off from any
// thread. It ticks through a hidden message window of the thread that
// created it (its owner thread) and the system's window timer 1 on it, so
// OnTimer always runs on the owner thread, while that thread pumps
// messages. Enabled set on another thread is forwarded to the owner as a
// message (2064, wParam 1 or 0) and takes effect when the owner handles
// it; until then Enabled still reads the old value. A request counts as a
// change when it differs from the last one made (by any thread), not from
// the value applied so far, and the owner applies the last request made:
// "disable, enable" from another thread leaves the timer enabled.
//
// It ticks while Enabled, Interval is not 0 and OnTimer is bound; every
// setter re-evaluates that, and starting the timer restarts the interval.
// An exception from OnTimer is swallowed; the timer keeps ticking.
//
// No lock of the timer is held while OnTimer runs, so the handler may take
// locks of its own under which others change the timer. Unbinding OnTimer
// (SetOnTimer) or destroying the timer on another thread waits for a tick
// that is running the old handler; the caller must then hold no lock that
// handler takes.
//
// Destruction on another thread stops the ticking at once (a tick running
// on the owner is waited for), then asks the owner to release the window
// (message 2065) and waits for that at most kDestroyWaitMs (20 ms): an
// owner that waits for messages answers within that. An owner that does not pump then finds the
// request posted and releases the window at its next pump: a host thread is not held for seconds by
// every instance it releases.
//
// The window timer follows the tick source the timer is handed (the
// system's by default; see platform/clock.h), which must outlive it.
//
// Example (the translator's release timer):
//   TvopTimerEx timer;                 // on the owner thread
//   timer.SetEnabled(false);
//   timer.SetInterval(20000);
//   timer.SetOnTimer([&](TObject&) { ReleaseDictionary(); });
//   ...                                 // any thread:
//   timer.SetEnabled(true);            // first tick 20 s after the owner handles it
//
// Threads: SetEnabled and the readers from any thread; SetInterval and
// SetOnTimer on the owner thread (from another thread they are forwarded
// like SetEnabled); the destructor on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "components/Controls.h"
#include "platform/clock.h"
#include "platform/window.h"

namespace tarvel {

class TvopTimerEx : public TComponent {
 public:
  static constexpr uint32_t kMsgSetEnabled = 2064;  // 0x0810
  static constexpr uint32_t kMsgRelease = 2065;     // 0x0811
  static constexpr uint32_t kDestroyWaitMs = 20;

  explicit TvopTimerEx(TComponent* owner = nullptr,
                       const platform::TickSource& ticks = platform::SystemTicks());
  ~TvopTimerEx() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  bool Enabled() const;
  // SetEnabled: on the owner thread (or after the window is gone) it
  // applies at once, with no effect when unchanged; elsewhere it is posted,
  // unwaited, unless it repeats the last request.
  void SetEnabled(bool enabled);
  uint32_t Interval() const;
  void SetInterval(uint32_t interval_ms);
  void SetOnTimer(TNotifyEvent handler);
  bool HasOnTimer() const;

  uint32_t OwnerThread() const;
  bool IsOwnerThread() const;
  // WindowHandle: the hidden window; 0 after it was released.
  platform::WindowHandle WindowHandle() const;
  // Ticking: the system timer is running.
  bool Ticking() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tarvel
