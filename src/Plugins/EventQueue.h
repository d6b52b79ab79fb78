// EventQueue: an instance's events on their way to the host. Raised events
// wait in the pending list; the host's first GetEvents moves them into the
// handed-out list and receives that, its second (with the address it
// received) empties it. A notice (message 1811) tells the host to collect;
// one notice stands for everything pending until the next collection.
//
//  - Open / Close: the lists live from the first LOAD to the last UNLOAD;
//    Close also ends the instance's result rows, so that every row list of
//    a load goes, or is kept for running data calls, in one place.
//  - Raise: queues a row; says whether the caller is to send a notice.
//  - Collect: the host's GetEvents; says whether a notice is due for events
//    raised while the host read.
//  - RepeatDue: the notice timer's tick; says whether the notice is due
//    again (the host has not collected within kNoticeRepeatMs).
//  - ForgetNotice: a notice did not arrive, or went to a window that is no
//    longer the host's; the next event sends one.
//
// Threads: any thread may raise, and data calls collect, beside commands;
// every call takes the queue's own lock and none sends to the host while it
// holds it (the owner sends the notices). The notice timer ticks on the
// instance's creating thread and is switched under the lock, which its tick
// takes only after the timer's own lock is let go.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "Common/ThreadSafety.h"
#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "translation/TimerEx.h"

namespace tarvel {

class EventQueue {
 public:
  // A notice is repeated when the host has not collected within this long
  // of it: a host may drop a notice, or destroy the window it went to, so
  // events never wait for good behind one lost message.
  static constexpr int32_t kNoticeRepeatMs = 1000;

  // on_repeat runs on each tick of the notice timer (on this thread).
  explicit EventQueue(std::function<void()> on_repeat);
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // StopNotices ends the notice timer; no tick runs after it returns.
  // Called first when the instance goes, before the lists do.
  void StopNotices() TARVEL_EXCLUDES(mu_);

  // Open makes the lists that do not exist yet; a notice for lists of an
  // earlier load counts no more.
  void Open() TARVEL_EXCLUDES(mu_);
  // Close ends the lists and rows (the instance's result rows, or null):
  // destroyed, or with still_used kept until the queue goes, since a
  // running data call still holds them.
  void Close(TvopParamsList* rows, bool still_used) TARVEL_EXCLUDES(mu_);

  // Raise queues a row of the event name with params (EVENT-GLOBAL first
  // when global); nothing when not loaded. A queue grown past its limit is
  // first offered to the host by offer (called without the lock), then
  // given up when still full. True when the caller is to send a notice.
  bool Raise(bool global, std::string_view name, const TvopParamsList* params,
             const std::function<void()>& offer) TARVEL_EXCLUDES(mu_);
  // Collect answers the host's GetEvents in rec. True when a notice is due.
  bool Collect(PPluginCallRec rec) TARVEL_EXCLUDES(mu_);
  // RepeatDue: events wait and the last notice is kNoticeRepeatMs old; the
  // notice then counts as sent. Stops the timer when nothing waits.
  bool RepeatDue() TARVEL_EXCLUDES(mu_);
  void ForgetNotice() TARVEL_EXCLUDES(mu_);

  // PendingItems counts items raised but not yet handed out; HandedOut is
  // the list the host reads (null when not loaded).
  int32_t PendingItems() const TARVEL_EXCLUDES(mu_);
  TvopParamsList* HandedOut() const TARVEL_EXCLUDES(mu_);

 private:
  // NoteNotice: a notice goes out now.
  void NoteNotice(uint32_t now) TARVEL_REQUIRES(mu_);

  mutable Mutex mu_;
  TvopParamsList* handed_out_ TARVEL_GUARDED_BY(mu_) = nullptr;  // the host reads it
  TvopParamsList* pending_ TARVEL_GUARDED_BY(mu_) = nullptr;     // raised since the last hand-out
  // A notice reached the host and the host has not collected since.
  bool notice_pending_ TARVEL_GUARDED_BY(mu_) = false;
  uint32_t notice_tick_ TARVEL_GUARDED_BY(mu_) = 0;  // system tick of the last notice
  // Ticks every kNoticeRepeatMs while events wait, so that events a host
  // left uncollected are announced again even when no later event comes to
  // do it. The pointer itself changes only at construction and in
  // StopNotices (outside the lock: ending the timer waits for a running
  // tick, which takes the lock).
  std::unique_ptr<TvopTimerEx> notice_timer_ TARVEL_PT_GUARDED_BY(mu_);
  // Lists a timed-out UNLOAD could not free while data calls still ran.
  std::vector<ParamsListPtr> retired_ TARVEL_GUARDED_BY(mu_);
};

}  // namespace tarvel
