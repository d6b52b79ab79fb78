// Message windows emulated with Win32 semantics. One process-wide registry,
// under one mutex (Registry::mu), holds the windows and, through them, the queue of
// each owner thread. Every thread waits on its own queue's condition
// variable, so a post, a send or a reply wakes exactly the thread concerned.
// Handlers always run without the lock held: they may post, send, create and
// destroy windows themselves.
#include "platform/window.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Common/ThreadSafety.h"
#include "platform/clock.h"
#include "platform/posix/window_process.h"
#include "platform/thread.h"

namespace tarvel::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Windows calls a thread hung when it has not looked at its queue for this
// long and is not waiting for messages.
constexpr auto kHungAfter = std::chrono::milliseconds(5000);
// Windows refuses a post to a thread that already has this many posted
// messages waiting (the default USERPostMessageLimit).
constexpr size_t kPostedLimit = 10000;
// SetTimer clamps intervals to these bounds (USER_TIMER_MINIMUM/MAXIMUM).
constexpr uint32_t kTimerMinimum = 10;
constexpr uint32_t kTimerMaximum = 0x7FFFFFFF;

struct ThreadQueue;
struct Window;

struct PostedMessage {
  WindowHandle window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};

struct Registry {
  Mutex mu;
  std::unordered_map<WindowHandle, std::shared_ptr<Window>> windows TARVEL_GUARDED_BY(mu);
  WindowHandle last_handle TARVEL_GUARDED_BY(mu) = 0;
};

// The registry is never destroyed: threads may still exit (and clean up
// their queues) while static destructors run.
Registry& Reg() {
  static Registry* registry = new Registry;
  return *registry;
}

// SendSlot is one cross-thread send. Sender and receiver share it, so either
// may let go first. The message and its copy are set before the slot is
// shared and only read after; the rest is under Registry::mu.
struct SendSlot {
  enum class State { kQueued, kRunning, kDone, kFailed, kAbandoned };
  PostedMessage message{};
  std::vector<unsigned char> bytes;  // the copy a WM_COPYDATA carries
  CopyData copy{};                   // lParam of a WM_COPYDATA points here
  std::shared_ptr<ThreadQueue> sender TARVEL_GUARDED_BY(Reg().mu);
  State state TARVEL_GUARDED_BY(Reg().mu) = State::kQueued;
  intptr_t result TARVEL_GUARDED_BY(Reg().mu) = 0;
};

// ThreadQueue is what one thread has waiting for it, under Registry::mu.
struct ThreadQueue {
  explicit ThreadQueue(uint32_t id) : thread_id(id), last_pump(SteadyClock::now()) {}
  const uint32_t thread_id;
  CondVar cv;
  std::deque<PostedMessage> posted TARVEL_GUARDED_BY(Reg().mu);
  std::deque<std::shared_ptr<SendSlot>> sent TARVEL_GUARDED_BY(Reg().mu);
  // Live windows owned, in creation order.
  std::vector<WindowHandle> windows TARVEL_GUARDED_BY(Reg().mu);
  // > 0 while blocked where sent messages are handled.
  int waiting TARVEL_GUARDED_BY(Reg().mu) = 0;
  SteadyClock::time_point last_pump TARVEL_GUARDED_BY(Reg().mu);
};

struct Timer {
  uint32_t interval;
  uint32_t next_due;
  const TickSource* ticks;
};

// Window is one live window. Its owner and handler are set before it is
// registered and never change; the rest is under Registry::mu. The handler
// itself is immutable and shared so a running handler outlives its
// window's record.
struct Window {
  std::shared_ptr<ThreadQueue> owner;
  std::shared_ptr<const MessageHandler> handler;
  std::map<uintptr_t, Timer> timers TARVEL_GUARDED_BY(Reg().mu);
  ScreenRect rect TARVEL_GUARDED_BY(Reg().mu);
};

// Fail ends a queued send and wakes its sender.
void Fail(SendSlot& slot) TARVEL_REQUIRES(Reg().mu) {
  slot.state = SendSlot::State::kFailed;
  slot.sender->cv.NotifyAll();
}

// Garbage collects what a destroyed window leaves behind; destroyed only
// after the lock is released, since a handler's captures may do anything in
// their destructors.
struct Leftovers {
  std::vector<std::shared_ptr<Window>> windows;
  std::vector<std::shared_ptr<SendSlot>> slots;
};

// Unlink removes a window and everything queued for it.
void Unlink(WindowHandle handle, Leftovers& out) TARVEL_REQUIRES(Reg().mu) {
  auto& windows = Reg().windows;
  auto it = windows.find(handle);
  if (it == windows.end()) return;
  std::shared_ptr<Window> window = std::move(it->second);
  windows.erase(it);
  ThreadQueue& q = *window->owner;
  std::erase(q.windows, handle);
  std::erase_if(q.posted, [&](const PostedMessage& m) { return m.window == handle; });
  std::erase_if(q.sent, [&](const std::shared_ptr<SendSlot>& slot) TARVEL_REQUIRES(Reg().mu) {
    if (slot->message.window != handle) return false;
    if (slot->state == SendSlot::State::kQueued) Fail(*slot);
    out.slots.push_back(slot);
    return true;
  });
  out.windows.push_back(std::move(window));
}

// ThreadState ties a queue to its thread: when the thread ends, its windows
// are destroyed as Windows does, and senders waiting on them fail.
struct ThreadState {
  std::shared_ptr<ThreadQueue> queue;
  ~ThreadState() {
    if (!queue) return;
    Leftovers leftovers;
    MutexLock lock(Reg().mu);
    while (!queue->windows.empty()) Unlink(queue->windows.back(), leftovers);
    for (auto& slot : queue->sent)
      if (slot->state == SendSlot::State::kQueued) Fail(*slot);
    queue->sent.clear();
    queue->posted.clear();
  }
};

thread_local ThreadState t_state;

// OwnQueue returns the calling thread's queue, creating it on first use.
const std::shared_ptr<ThreadQueue>& OwnQueue() {
  if (!t_state.queue) t_state.queue = std::make_shared<ThreadQueue>(CurrentThreadId());
  return t_state.queue;
}

// LiveWindow returns the window's record or null.
Window* LiveWindow(WindowHandle handle) TARVEL_REQUIRES(Reg().mu) {
  auto& windows = Reg().windows;
  auto it = windows.find(handle);
  return it == windows.end() ? nullptr : it->second.get();
}

// Work is one message taken from a queue, to be handled without the lock.
struct Work {
  std::shared_ptr<const MessageHandler> handler;
  PostedMessage message{};
  std::shared_ptr<SendSlot> slot;  // set for a sent message
};

intptr_t CallHandler(const MessageHandler& handler, const PostedMessage& m) {
  if (!handler) return 0;
  try {
    return handler(m.window, m.msg, m.wparam, m.lparam);
  } catch (...) {
    // A handler that throws yields 0, as an unhandled message would.
    return 0;
  }
}

// Takes the next sent message for q.
bool TakeSent(ThreadQueue& q, Work& work) TARVEL_REQUIRES(Reg().mu) {
  while (!q.sent.empty()) {
    std::shared_ptr<SendSlot> slot = std::move(q.sent.front());
    q.sent.pop_front();
    if (slot->state != SendSlot::State::kQueued) continue;  // the sender gave up
    Window* window = LiveWindow(slot->message.window);
    if (!window) {
      Fail(*slot);
      continue;
    }
    slot->state = SendSlot::State::kRunning;
    work.handler = window->handler;
    work.message = slot->message;
    work.slot = std::move(slot);
    return true;
  }
  return false;
}

// Takes the next message in the order Windows retrieves them: sent
// messages, then posted ones, then due timers (which, like WM_TIMER, are
// only made when nothing else waits). A timer found in `fired` is skipped.
bool TakeNext(ThreadQueue& q, Work& work,
              const std::vector<std::pair<WindowHandle, uintptr_t>>* fired)
    TARVEL_REQUIRES(Reg().mu) {
  if (TakeSent(q, work)) return true;
  while (!q.posted.empty()) {
    PostedMessage m = q.posted.front();
    q.posted.pop_front();
    Window* window = LiveWindow(m.window);
    if (!window) continue;
    work.handler = window->handler;
    work.message = m;
    work.slot.reset();
    return true;
  }
  for (WindowHandle handle : q.windows) {
    Window* window = LiveWindow(handle);
    if (!window) continue;
    for (auto& [id, timer] : window->timers) {
      const uint32_t now = timer.ticks->Now();
      if (TickDiff(now, timer.next_due) < 0) continue;
      if (fired && std::find(fired->begin(), fired->end(), std::pair{handle, id}) != fired->end())
        continue;
      // Like WM_TIMER, a late timer fires once and is not made to catch up.
      timer.next_due = now + timer.interval;
      work.handler = window->handler;
      work.message = {handle, kWmTimer, id, 0};
      work.slot.reset();
      return true;
    }
  }
  return false;
}

// Handles work taken from a queue; takes the lock to deliver a reply.
void Run(Work& work) {
  intptr_t result = CallHandler(*work.handler, work.message);
  if (!work.slot) return;
  MutexLock lock(Reg().mu);
  if (work.slot->state == SendSlot::State::kRunning) {
    work.slot->state = SendSlot::State::kDone;
    work.slot->result = result;
    work.slot->sender->cv.NotifyAll();
  }
}

// Milliseconds until the earliest timer of q is due, at most cap.
uint32_t UntilNextTimer(const ThreadQueue& q, uint32_t cap) TARVEL_REQUIRES(Reg().mu) {
  int64_t wait = cap;
  for (WindowHandle handle : q.windows) {
    const Window* window = LiveWindow(handle);
    if (!window) continue;
    for (const auto& [id, timer] : window->timers)
      wait = std::min<int64_t>(wait,
                               std::max<int32_t>(0, TickDiff(timer.next_due, timer.ticks->Now())));
  }
  return static_cast<uint32_t>(wait);
}

bool IsHung(const ThreadQueue& q) TARVEL_REQUIRES(Reg().mu) {
  return q.waiting == 0 && SteadyClock::now() - q.last_pump > kHungAfter;
}

}  // namespace

bool SendMessageWithTimeout(WindowHandle handle, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                            uint32_t timeout_ms, intptr_t* result) {
  const std::shared_ptr<ThreadQueue>& me = OwnQueue();
  auto slot = std::make_shared<SendSlot>();
  slot->message = {handle, msg, wparam, lparam};
  if (msg == kWmCopyData && lparam) {
    // Windows marshals WM_COPYDATA: the receiver reads a copy that lives as
    // long as the message, even if the sender gives up first.
    const auto& source = *reinterpret_cast<const CopyData*>(lparam);
    const auto* bytes = static_cast<const unsigned char*>(source.lpData);
    if (bytes) slot->bytes.assign(bytes, bytes + source.cbData);
    slot->copy = {source.dwData, static_cast<uint32_t>(slot->bytes.size()),
                  slot->bytes.empty() ? nullptr : slot->bytes.data()};
    slot->message.lparam = reinterpret_cast<intptr_t>(&slot->copy);
  }

  UniqueLock lock(Reg().mu);
  Window* window = LiveWindow(handle);
  if (!window) return false;
  if (window->owner == me) {
    // The owner's own send is a direct call, as on Windows.
    std::shared_ptr<const MessageHandler> handler = window->handler;
    lock.Unlock();
    intptr_t r = CallHandler(*handler, slot->message);
    if (result) *result = r;
    return true;
  }

  ThreadQueue& target = *window->owner;
  if (IsHung(target)) return false;
  slot->sender = me;
  target.sent.push_back(slot);
  target.cv.NotifyAll();

  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (slot->state == SendSlot::State::kDone) {
      if (result) *result = slot->result;
      return true;
    }
    if (slot->state == SendSlot::State::kFailed) return false;
    // While waiting, messages sent to this thread's windows are handled, so
    // two threads sending to each other do not deadlock.
    Work work;
    if (TakeSent(*me, work)) {
      lock.Unlock();
      Run(work);
      lock.Relock();
      me->last_pump = SteadyClock::now();
      continue;
    }
    if (SteadyClock::now() >= deadline) {
      // A message not yet taken is withdrawn; one being handled finishes
      // and its result is dropped.
      if (slot->state == SendSlot::State::kQueued) slot->state = SendSlot::State::kAbandoned;
      return false;
    }
    ++me->waiting;
    // One wake-up at most, as the loop looks at everything again.
    me->cv.WaitOnceFor(lock, deadline - SteadyClock::now());
    --me->waiting;
    me->last_pump = SteadyClock::now();
  }
}

WindowHandle CreateProcessWindow(MessageHandler handler) {
  auto window = std::make_shared<Window>();
  window->owner = OwnQueue();
  window->handler = std::make_shared<const MessageHandler>(std::move(handler));
  MutexLock lock(Reg().mu);
  WindowHandle handle = ++Reg().last_handle;
  window->owner->windows.push_back(handle);
  Reg().windows.emplace(handle, std::move(window));
  return handle;
}

WindowHandle DesktopWindow() {
  return 0;
}

ScreenRect NearestWorkArea(const ScreenRect& rect, bool* on_a_monitor) {
  const ScreenRect screen{0, 0, 1024, 768};
  *on_a_monitor = rect.left < screen.right && rect.right > screen.left &&
                  rect.top < screen.bottom && rect.bottom > screen.top;
  return screen;
}

bool WindowScreenRect(WindowHandle window, ScreenRect* rect) {
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  if (!record) return false;
  *rect = record->rect;
  return true;
}

bool MoveWindowTo(WindowHandle window, const ScreenRect& rect) {
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  if (!record) return false;
  record->rect = rect;
  return true;
}

void DestroyMessageWindow(WindowHandle window) {
  Leftovers leftovers;
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  // DestroyWindow refuses another thread's window; so do we.
  if (!record || record->owner != t_state.queue) return;
  Unlink(window, leftovers);
}

bool IsWindowAlive(WindowHandle window) {
  MutexLock lock(Reg().mu);
  return LiveWindow(window) != nullptr;
}

bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  if (!record || record->owner->posted.size() >= kPostedLimit) return false;
  record->owner->posted.push_back({window, msg, wparam, lparam});
  record->owner->cv.NotifyAll();
  return true;
}

bool SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwdata, const void* data,
                  uint32_t size, uint32_t timeout_ms, intptr_t* result) {
  CopyData copy{dwdata, size, data};
  return SendMessageWithTimeout(window, kWmCopyData, from, reinterpret_cast<intptr_t>(&copy),
                                timeout_ms, result);
}

bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t interval_ms,
                    const TickSource& ticks) {
  uint32_t interval = std::clamp(interval_ms, kTimerMinimum, kTimerMaximum);
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  if (!record || record->owner != t_state.queue) return false;
  record->timers[id] = {interval, ticks.Now() + interval, &ticks};
  return true;
}

void KillWindowTimer(WindowHandle window, uintptr_t id) {
  MutexLock lock(Reg().mu);
  Window* record = LiveWindow(window);
  if (record && record->owner == t_state.queue) record->timers.erase(id);
}

void ProcessPendingMessages() {
  const std::shared_ptr<ThreadQueue>& me = OwnQueue();
  // Each timer fires at most once per call, so a handler slower than its
  // interval cannot keep this call from returning.
  std::vector<std::pair<WindowHandle, uintptr_t>> fired;
  for (;;) {
    Work work;
    {
      MutexLock lock(Reg().mu);
      me->last_pump = SteadyClock::now();
      if (!TakeNext(*me, work, &fired)) return;
    }
    if (work.message.msg == kWmTimer && !work.slot)
      fired.emplace_back(work.message.window, work.message.wparam);
    Run(work);
  }
}

void RunMessageLoop(const std::function<bool()>& stop, uint32_t poll_ms) {
  const std::shared_ptr<ThreadQueue>& me = OwnQueue();
  while (!stop()) {
    Work work;
    {
      UniqueLock lock(Reg().mu);
      me->last_pump = SteadyClock::now();
      if (!TakeNext(*me, work, nullptr)) {
        // Real time bounds the wait, so stop() and timers driven by a moved
        // clock are still noticed.
        auto wait = std::chrono::milliseconds(UntilNextTimer(*me, poll_ms));
        ++me->waiting;
        me->cv.WaitOnceFor(lock, wait);
        --me->waiting;
        me->last_pump = SteadyClock::now();
        continue;
      }
    }
    Run(work);
  }
}

}  // namespace tarvel::platform
