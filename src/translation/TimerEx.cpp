#include "translation/TimerEx.h"

#include <stdexcept>

#include "Common/ThreadSafety.h"
#include "platform/thread.h"

namespace tarvel {

namespace {
constexpr uintptr_t kTimerId = 1;
// Interval or handler changed on another thread: the owner re-evaluates.
constexpr uint32_t kMsgUpdate = 2066;
}  // namespace

// The state the hidden window's handler shares with the timer object; it
// lives as long as either of them.
struct TvopTimerEx::State {
  TvopTimerEx* self = nullptr;
  const platform::TickSource* ticks = nullptr;
  uint32_t owner = 0;
  std::atomic<platform::WindowHandle> window{0};
  // enabled is what the owner has applied; requested is the last value
  // any thread asked for. A request is compared with the last one made,
  // not with what the owner has applied yet: a "disable" still on its way
  // must not make the "enable" after it look like no change.
  std::atomic<bool> enabled{true};
  std::atomic<bool> requested{true};
  std::atomic<uint32_t> interval{1000};
  std::atomic<bool> ticking{false};

  // Guards the handler, the dead flag and the count of running ticks. It is
  // never held while the handler runs: the handler takes its owner's locks,
  // and that owner may change the handler while holding them.
  Mutex mu;
  CondVar idle;  // running dropped to 0
  TNotifyEvent on_timer TARVEL_GUARDED_BY(mu);
  bool dead TARVEL_GUARDED_BY(mu) = false;
  int running TARVEL_GUARDED_BY(mu) = 0;  // ticks inside the handler

  bool OnOwner() const { return platform::CurrentThreadId() == owner; }

  // Update brings the window timer in line; owner thread only.
  void Update() {
    const platform::WindowHandle w = window.load();
    if (!w) return;
    platform::KillWindowTimer(w, kTimerId);
    ticking = false;
    bool wanted;
    {
      MutexLock lock(mu);
      wanted = !dead && enabled.load() && interval.load() != 0 && bool(on_timer);
    }
    if (!wanted) return;
    if (!platform::SetWindowTimer(w, kTimerId, interval.load(), *ticks))
      throw std::runtime_error("Not enough timers available");
    ticking = true;
  }

  // Apply makes enabled the value requested last; owner thread only.
  void Apply() {
    const bool value = requested.load();
    if (value == enabled.load()) return;
    enabled = value;
    Update();
  }

  // Changed applies a change on the owner thread, or forwards it there.
  void Changed() {
    const platform::WindowHandle w = window.load();
    if (!w || OnOwner()) {
      Update();
    } else if (!platform::PostMessageTo(w, kMsgUpdate, 0, 0)) {
      ticking = false;  // the owner thread is gone, and its timers with it
    }
  }

  // WaitForTicks waits until no tick runs the handler. On the owner thread
  // a tick can only be running beneath the caller, which must not wait.
  void WaitForTicks(UniqueLock& lock) TARVEL_REQUIRES(mu) {
    if (OnOwner()) return;
    idle.Wait(lock, [this]() TARVEL_REQUIRES(mu) { return running == 0; });
  }

  void Tick() {
    TNotifyEvent handler;
    {
      MutexLock lock(mu);
      if (dead || !enabled.load() || !on_timer) return;
      handler = on_timer;  // the handler may rebind itself
      ++running;
    }
    try {
      handler(*self);
    } catch (...) {
      // A tick's failure must not stop the timer or reach the message loop.
    }
    {
      MutexLock lock(mu);
      --running;
    }
    idle.NotifyAll();
  }

  void Release() {
    const platform::WindowHandle w = window.exchange(0);
    if (!w) return;
    try {
      platform::KillWindowTimer(w, kTimerId);
      platform::DestroyMessageWindow(w);
    } catch (...) {
    }
    ticking = false;
  }
};

const TClassInfo& TvopTimerEx::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TvopTimerEx", &TComponent::StaticClass(), {}};
    TPropInfo enabled;
    enabled.name = "Enabled";
    enabled.kind = tkEnumeration;
    enabled.enum_names = BooleanNames();
    enabled.get = [](const TObject& o) {
      return OleVariant(static_cast<int32_t>(static_cast<const TvopTimerEx&>(o).Enabled()));
    };
    enabled.set = [](TObject& o, const OleVariant& v) {
      static_cast<TvopTimerEx&>(o).SetEnabled(v.AsInt64().value_or(0) != 0);
    };
    TPropInfo interval;
    interval.name = "Interval";
    interval.kind = tkInteger;
    interval.min_value = 0;
    interval.max_value = UINT32_MAX;
    interval.get = [](const TObject& o) {
      return OleVariant(static_cast<double>(static_cast<const TvopTimerEx&>(o).Interval()));
    };
    interval.set = [](TObject& o, const OleVariant& v) {
      static_cast<TvopTimerEx&>(o).SetInterval(static_cast<uint32_t>(v.AsInt64().value_or(0)));
    };
    TPropInfo owner;
    owner.name = "OwnerThread";
    owner.kind = tkInteger;
    owner.get = [](const TObject& o) {
      return OleVariant(static_cast<double>(static_cast<const TvopTimerEx&>(o).OwnerThread()));
    };
    c.properties = {enabled, interval, owner};
    return c;
  }();
  return info;
}

TvopTimerEx::TvopTimerEx(TComponent* owner, const platform::TickSource& ticks)
    : TComponent(owner), state_(std::make_shared<State>()) {
  state_->self = this;
  state_->ticks = &ticks;
  state_->owner = platform::CurrentThreadId();
  std::shared_ptr<State> keep = state_;
  const platform::WindowHandle window = platform::CreateMessageWindow(
      [keep](platform::WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t) -> intptr_t {
        try {
          switch (msg) {
            case platform::kWmTimer:
              if (wparam == kTimerId) keep->Tick();
              return 0;
            case kMsgSetEnabled:
              // Requests from several threads may arrive in another order
              // than they were made: the last one made is what counts.
              keep->Apply();
              return 0;
            case kMsgUpdate:
              keep->Update();
              return 0;
            case kMsgRelease:
              keep->Release();
              return 0;
            default:
              return 0;
          }
        } catch (...) {
          return 0;
        }
      });
  if (!window) throw std::runtime_error("cannot create the timer's window");
  state_->window = window;
}

TvopTimerEx::~TvopTimerEx() {
  {
    // Waits for a tick running on the owner thread; none runs after this.
    UniqueLock lock(state_->mu);
    state_->dead = true;
    state_->on_timer = nullptr;
    state_->WaitForTicks(lock);
  }
  state_->requested = false;
  state_->enabled = false;
  const platform::WindowHandle w = state_->window.load();
  if (!w) return;
  if (state_->OnOwner()) {
    state_->Release();
    return;
  }
  // Only the owner can destroy its window, and a window left behind would
  // call into this module after it is gone: wait a little for the owner,
  // and leave the request queued for it when it does not answer in time.
  intptr_t ignored = 0;
  if (!platform::SendMessageWithTimeout(w, kMsgRelease, 0, 0, kDestroyWaitMs, &ignored))
    platform::PostMessageTo(w, kMsgRelease, 0, 0);
}

bool TvopTimerEx::Enabled() const {
  return state_->enabled.load();
}

void TvopTimerEx::SetEnabled(bool enabled) {
  const bool previous = state_->requested.exchange(enabled);
  const platform::WindowHandle w = state_->window.load();
  if (!w || state_->OnOwner()) {
    state_->Apply();  // no effect when already applied
    return;
  }
  if (previous == enabled) return;
  if (!platform::PostMessageTo(w, kMsgSetEnabled, enabled ? 1 : 0, 0))
    state_->enabled = state_->requested.load();
}

uint32_t TvopTimerEx::Interval() const {
  return state_->interval.load();
}

void TvopTimerEx::SetInterval(uint32_t interval_ms) {
  if (interval_ms == state_->interval.load()) return;
  state_->interval = interval_ms;
  state_->Changed();
}

void TvopTimerEx::SetOnTimer(TNotifyEvent handler) {
  {
    UniqueLock lock(state_->mu);
    state_->on_timer = std::move(handler);
    state_->WaitForTicks(lock);
  }
  state_->Changed();
}

bool TvopTimerEx::HasOnTimer() const {
  MutexLock lock(state_->mu);
  return bool(state_->on_timer);
}

uint32_t TvopTimerEx::OwnerThread() const {
  return state_->owner;
}

bool TvopTimerEx::IsOwnerThread() const {
  return state_->OnOwner();
}

platform::WindowHandle TvopTimerEx::WindowHandle() const {
  return state_->window.load();
}

bool TvopTimerEx::Ticking() const {
  return state_->ticking.load();
}

}  // namespace tarvel
