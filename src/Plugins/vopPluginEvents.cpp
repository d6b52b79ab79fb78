// Events to the host: RaiseEvent queues a row and announces it with
// message 1811; the host's first GetEvents receives the queue, its second
// (with the address it received) empties it. Events raised in between wait
// in a live queue and are announced again, so none is lost. One notice
// stands for everything queued until the host's next first GetEvents; while
// events wait uncollected the notice is repeated once a second (by a timer
// on the instance's creating thread), so a host that let one notice pass
// still hears of them within two seconds.
//
// Threads: any thread may raise events; the queues are guarded by
// events_mutex_, and no message is sent while it is held.
#include "Common/Assert.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

constexpr int32_t kEventQueueLimit = 20000;

}  // namespace

// ---------------------------------------------------------------------------
// Events

void TvopPlugin::RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) {
  bool announce = false;
  {
    std::unique_lock<std::mutex> lock(events_mutex_);
    if (!pending_events_) return;
    // Refuse a broken parameter list before the row is begun, so no half
    // row is ever queued.
    if (params && !params->IsWellFormed()) AssertionFailure("Common/vopParamLst", 407);
    if (pending_events_->Count > kEventQueueLimit) {
      // Before the queue is given up, the host gets the chance to take it:
      // a tick that raises thousands of events runs on the thread that owns
      // the host window, which cannot collect until the tick ends. A host
      // that does not collect within the bounded send loses the queue.
      lock.unlock();
      OfferQueueToHost();
      lock.lock();
      if (!pending_events_) return;
      if (pending_events_->Count > kEventQueueLimit) pending_events_->Clear();
    }
    if (global) pending_events_->Add("EVENT-GLOBAL", OleVariant(true));
    pending_events_->Add("EVENT-TYPE", OleVariant(platform::AnsiUpperCase(name)));
    if (params) pending_events_->AddList(params);
    pending_events_->AddNewRow();
    // One notice per collection: the host takes everything queued when it
    // answers it, so events raised meanwhile need none of their own. This
    // also keeps a burst from flooding the host's message queue.
    const uint32_t now = platform::TickCount();
    announce = !notice_pending_ || platform::TickDiff(now, notice_tick_) >= kNoticeRepeatMs;
    if (announce) {
      notice_pending_ = true;
      notice_tick_ = now;
    }
    // While events wait, the timer repeats the notice should the host leave
    // them. Cheap when it runs already: the request is the same.
    try {
      notice_timer_->SetEnabled(true);
    } catch (...) {
    }
  }
  if (announce) AnnounceEvents();
}

void TvopPlugin::RepeatEventNotice() {
  bool announce = false;
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (!pending_events_ || pending_events_->Count == 0) {
      // Nothing waits: the next event starts the timer again. Decided under
      // the lock, so an event raised meanwhile is not left without it.
      notice_timer_->SetEnabled(false);
      return;
    }
    const uint32_t now = platform::TickCount();
    if (platform::TickDiff(now, notice_tick_) >= kNoticeRepeatMs) {
      announce = true;
      notice_pending_ = true;
      notice_tick_ = now;
    }
  }
  if (announce) AnnounceEvents();
}

void TvopPlugin::AnnounceEvents() {
  // Lines this thread holds in a batch go first: a host that answers the
  // notice at once reads them before the events they belong to.
  if (log_batch_thread_.load(std::memory_order_relaxed) == platform::CurrentThreadId())
    FlushLogBatch();
  if (PostToHost(PLUGIN_MSG_EVENTS, 0)) return;
  // Not delivered: the next event announces again. Events another thread
  // queued meanwhile, counting on this notice, are announced by the repeat
  // after kNoticeRepeatMs at the latest.
  std::lock_guard<std::mutex> lock(events_mutex_);
  notice_pending_ = false;
}

void TvopPlugin::OfferQueueToHost() {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return;
  // A host on this thread then reads the lines before the events, as it
  // would without the batch.
  if (log_batch_thread_.load(std::memory_order_relaxed) == platform::CurrentThreadId())
    FlushLogBatch();
  intptr_t ignored = 0;
  platform::SendMessageWithTimeout(window, PLUGIN_MSG_EVENTS, host_tag_.load(), 0,
                                   kHostSendTimeoutMs, &ignored);
}

int32_t TvopPlugin::DoGetEvents(PPluginCallRec rec) {
  bool announce = false;
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (rec->Output.Data == reinterpret_cast<uintptr_t>(events_)) {
      // The host has read the rows it was given.
      if (!events_) throw std::logic_error("no event queue to empty");
      events_->Clear();
      // Raised while the host read: announced again, even when a notice went
      // out meanwhile, since a host may take that one for the collection it
      // was in the middle of and never answer it.
      announce = pending_events_ && pending_events_->Count > 0;
      if (announce) {
        notice_pending_ = true;
        notice_tick_ = platform::TickCount();
      }
    } else {
      if (events_ && pending_events_ && pending_events_->Count > 0) {
        if (events_->Count > kEventQueueLimit) events_->Clear();
        if (events_->Count == 0) {
          std::swap(events_->items, pending_events_->items);
          std::swap(events_->Count, pending_events_->Count);
          std::swap(events_->Capacity, pending_events_->Capacity);
        } else {
          events_->AddList(pending_events_);
          pending_events_->Clear();
        }
      }
      // Everything queued is handed out; what comes next needs a notice.
      notice_pending_ = false;
      rec->Output.Kind = kValueKindList;
      rec->Output.Data = reinterpret_cast<uintptr_t>(events_);
    }
  }
  if (announce) AnnounceEvents();
  return kResultOk;
}

int32_t TvopPlugin::PendingEventItems() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return pending_events_ ? pending_events_->Count : 0;
}

TvopParamsList* TvopPlugin::HandedOutEvents() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return events_;
}

bool TvopPlugin::PostToHost(uint32_t message, intptr_t lparam) {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return false;
  const uintptr_t tag = host_tag_.load();
  if (platform::PostMessageTo(window, message, tag, lparam)) return true;
  intptr_t ignored = 0;
  return platform::SendMessageWithTimeout(window, message, tag, lparam, kHostSendTimeoutMs,
                                          &ignored);
}

}  // namespace tarvel
