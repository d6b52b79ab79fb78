#include "monitor/CheckTimer.h"

#include <stdexcept>

#include "Common/ThreadSafety.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace tarvel {

namespace {
constexpr uint32_t kMsgApply = platform::kWmUser + 71;
constexpr uint32_t kMsgDestroy = platform::kWmUser + 72;
constexpr uintptr_t kTimerId = 1;
}  // namespace

struct TCheckTimer::State {
  std::function<void()> on_tick;
  platform::WindowHandle window = 0;
  uint32_t owner = 0;
  std::atomic<uint32_t> interval{3000};
  std::atomic<bool> enabled{false};
  std::atomic<bool> dead{false};
  // Held while a tick runs, so the timer's owner object can wait for a tick
  // that runs on the owner thread before it goes away.
  Mutex tick_mu;

  // Apply runs on the owner thread and brings the window timer in line with
  // the wanted state.
  void Apply() {
    if (dead.load()) return;
    if (enabled.load()) {
      platform::SetWindowTimer(window, kTimerId, interval.load());
    } else {
      platform::KillWindowTimer(window, kTimerId);
    }
  }

  void Changed() {
    if (platform::CurrentThreadId() == owner) {
      Apply();
    } else {
      platform::PostMessageTo(window, kMsgApply, 0, 0);
    }
  }
};

TCheckTimer::TCheckTimer(std::function<void()> on_tick, uint32_t interval_ms)
    : state_(std::make_shared<State>()) {
  state_->on_tick = std::move(on_tick);
  state_->interval = interval_ms;
  state_->owner = platform::CurrentThreadId();
  auto keep = state_;  // the window keeps the state alive until it goes
  state_->window = platform::CreateMessageWindow(
      [keep](platform::WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t) -> intptr_t {
        try {
          if (msg == kMsgApply) {
            keep->Apply();
          } else if (msg == kMsgDestroy) {
            platform::DestroyMessageWindow(window);
          } else if (msg == platform::kWmTimer && wparam == kTimerId) {
            MutexLock lock(keep->tick_mu);
            if (keep->enabled.load() && !keep->dead.load() && keep->on_tick) keep->on_tick();
          }
        } catch (...) {
          // A tick must never unwind into the message loop.
        }
        return 0;
      });
  if (!state_->window) throw std::runtime_error("cannot create the check timer window");
}

TCheckTimer::~TCheckTimer() {
  Shutdown();
  if (platform::CurrentThreadId() == state_->owner)
    platform::DestroyMessageWindow(state_->window);
  else
    platform::PostMessageTo(state_->window, kMsgDestroy, 0, 0);
}

void TCheckTimer::Shutdown() {
  if (platform::CurrentThreadId() == state_->owner) {
    state_->dead = true;
    state_->enabled = false;
    return;
  }
  // Wait out a tick running on the owner thread; none starts after this.
  MutexLock lock(state_->tick_mu);
  state_->dead = true;
  state_->enabled = false;
}

void TCheckTimer::SetInterval(uint32_t interval_ms) {
  state_->interval = interval_ms;
  state_->enabled = true;
  state_->Changed();
}

void TCheckTimer::Start() {
  state_->enabled = true;
  state_->Changed();
}

void TCheckTimer::Stop() {
  state_->enabled = false;
  state_->Changed();
}

uint32_t TCheckTimer::Interval() const {
  return state_->interval.load();
}
bool TCheckTimer::Enabled() const {
  return state_->enabled.load();
}
uint32_t TCheckTimer::OwnerThread() const {
  return state_->owner;
}

}  // namespace tarvel
