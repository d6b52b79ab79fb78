// The event queue's work under its lock; what it tells the host is sent by
// the instance (Plugins/vopPluginEvents.cpp) once the lock is let go.
#include "Plugins/EventQueue.h"

#include <stdexcept>
#include <utility>

#include "Common/Assert.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace tarvel {

namespace {

constexpr int32_t kEventQueueLimit = 20000;

}  // namespace

EventQueue::EventQueue(std::function<void()> on_repeat) {
  auto timer = std::make_unique<TvopTimerEx>();
  timer->SetEnabled(false);
  timer->SetInterval(kNoticeRepeatMs);
  timer->SetOnTimer([on_repeat = std::move(on_repeat)](TObject&) { on_repeat(); });
  notice_timer_ = std::move(timer);
}

EventQueue::~EventQueue() {
  StopNotices();
  Close(nullptr, false);
}

void EventQueue::StopNotices() {
  notice_timer_.reset();
}

void EventQueue::Open() {
  MutexLock lock(mu_);
  if (!handed_out_) handed_out_ = TvopParamsList::Create(kRowsParamsListClass);
  if (!pending_) pending_ = TvopParamsList::Create(kRowsParamsListClass);
  notice_pending_ = false;
}

void EventQueue::Close(TvopParamsList* rows, bool still_used) {
  MutexLock lock(mu_);
  for (TvopParamsList** list : {&rows, &handed_out_, &pending_}) {
    if (!*list) continue;
    if (still_used) {
      retired_.emplace_back(*list);
    } else {
      try {
        TvopParamsList::Destroy(*list);
      } catch (...) {
      }
    }
    *list = nullptr;
  }
}

void EventQueue::NoteNotice(uint32_t now) {
  notice_pending_ = true;
  notice_tick_ = now;
}

bool EventQueue::Raise(bool global, std::string_view name, const TvopParamsList* params,
                       const std::function<void()>& offer) {
  UniqueLock lock(mu_);
  if (!pending_) return false;
  // Refuse a broken parameter list before the row is begun, so no half
  // row is ever queued.
  if (params && !params->IsWellFormed()) AssertionFailure("Common/vopParamLst", 407);
  if (pending_->Count > kEventQueueLimit) {
    // Before the queue is given up, the host gets the chance to take it:
    // a tick that raises thousands of events runs on the thread that owns
    // the host window, which cannot collect until the tick ends. A host
    // that does not collect within the bounded send loses the queue.
    lock.Unlock();
    offer();
    lock.Relock();
    if (!pending_) return false;
    if (pending_->Count > kEventQueueLimit) pending_->Clear();
  }
  if (global) pending_->Add("EVENT-GLOBAL", OleVariant(true));
  pending_->Add("EVENT-TYPE", OleVariant(platform::AnsiUpperCase(name)));
  if (params) pending_->AddList(params);
  pending_->AddNewRow();
  // One notice per collection: the host takes everything queued when it
  // answers it, so events raised meanwhile need none of their own. This
  // also keeps a burst from flooding the host's message queue.
  const uint32_t now = platform::TickCount();
  const bool announce =
      !notice_pending_ || platform::TickDiff(now, notice_tick_) >= kNoticeRepeatMs;
  if (announce) NoteNotice(now);
  // While events wait, the timer repeats the notice should the host leave
  // them. Cheap when it runs already: the request is the same.
  try {
    if (notice_timer_) notice_timer_->SetEnabled(true);
  } catch (...) {
  }
  return announce;
}

bool EventQueue::RepeatDue() {
  MutexLock lock(mu_);
  if (!pending_ || pending_->Count == 0) {
    // Nothing waits: the next event starts the timer again. Decided under
    // the lock, so an event raised meanwhile is not left without it.
    if (notice_timer_) notice_timer_->SetEnabled(false);
    return false;
  }
  const uint32_t now = platform::TickCount();
  if (platform::TickDiff(now, notice_tick_) < kNoticeRepeatMs) return false;
  NoteNotice(now);
  return true;
}

void EventQueue::ForgetNotice() {
  MutexLock lock(mu_);
  notice_pending_ = false;
}

bool EventQueue::Collect(PPluginCallRec rec) {
  MutexLock lock(mu_);
  if (rec->Output.Data == reinterpret_cast<uintptr_t>(handed_out_)) {
    // The host has read the rows it was given.
    if (!handed_out_) throw std::logic_error("no event queue to empty");
    handed_out_->Clear();
    // Raised while the host read: announced again, even when a notice went
    // out meanwhile, since a host may take that one for the collection it
    // was in the middle of and never answer it.
    const bool announce = pending_ && pending_->Count > 0;
    if (announce) NoteNotice(platform::TickCount());
    return announce;
  }
  if (handed_out_ && pending_ && pending_->Count > 0) {
    if (handed_out_->Count > kEventQueueLimit) handed_out_->Clear();
    if (handed_out_->Count == 0) {
      std::swap(handed_out_->items, pending_->items);
      std::swap(handed_out_->Count, pending_->Count);
      std::swap(handed_out_->Capacity, pending_->Capacity);
    } else {
      handed_out_->AddList(pending_);
      pending_->Clear();
    }
  }
  // Everything queued is handed out; what comes next needs a notice.
  notice_pending_ = false;
  rec->Output.Kind = kValueKindList;
  rec->Output.Data = reinterpret_cast<uintptr_t>(handed_out_);
  return false;
}

int32_t EventQueue::PendingItems() const {
  MutexLock lock(mu_);
  return pending_ ? pending_->Count : 0;
}

TvopParamsList* EventQueue::HandedOut() const {
  MutexLock lock(mu_);
  return handed_out_;
}

}  // namespace tarvel
