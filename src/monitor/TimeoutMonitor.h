// TimeoutMonitor: the engine of the timeout monitor. It keeps one record per
// client, restarts the watches of the variables each data row carries, and
// fires the watches whose variable stayed silent past its timeout: a
// "Timeout" log line and the row's event, and, when the variable comes
// back, the resume event.
//
// It joins these parts, each in a file of its own:
//  - ClientId: what makes two rows one client;
//  - ClientRecords: the client and watch records, their states, the clock;
//  - NameKeys: which items of a row are the marker, the client variable and
//    the watched variables;
//  - ClientIndex: the records of one settings generation, found by ID;
//  - DeadlineQueue: when the clients fall due;
//  - EventOutbox: the events and log lines, raised in order, outside the
//    engine's locks.
// This file holds the rules that join them: how a data portion is split
// into rows and applied (ProcessData), how a tick fires due watches
// (ChkTimeoutsTimer), and when the timer is asked for the next tick
// (ScheduleCheck). The engine owns the timer's state: nobody else starts or
// stops the timer it was given.
//
// It talks to the outside through two small interfaces: MonitorSink
// (MonitorSink.h) receives events and log lines; MonitorTimer is the timer
// that calls ChkTimeoutsTimer.
//
// Example (what the plug-in does):
//   TimeoutMonitor monitor(sink, timer, MakeMonitorSettings(cfg), texts);
//   monitor.ScheduleCheck();          // after LOAD: start the timer
//   monitor.ProcessData(list);        // each ProcessData call, any thread
//                                     // (or ApplyData, then DeliverWaiting)
//   monitor.ChkTimeoutsTimer();       // each timer tick, the timer's thread
//   monitor.StopTimer();              // reading the stored settings ...
//   monitor.ReplaceSettings(MakeMonitorSettings(reloaded));  // drops clients, restarts
//   monitor.SetTexts(translated);     // the log texts, at any time
//   monitor.Halt();                   // UNLOAD
//
// Threads: ProcessData may run on any number of threads at once, together
// with one ChkTimeoutsTimer (ticks must not overlap each other) and with
// every other call. Timer calls are made under the engine's schedule lock
// and must not call back into the engine. Sink calls are made with no lock
// of the engine held (see EventOutbox), so a sink may wait for a thread
// that is itself feeding data. Events and log lines of one client are
// raised in the order its watches changed; one tick raises its events in
// client creation order, then row order.
//
// The destructor must run only when no other call is running and the timer
// will not call ChkTimeoutsTimer again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "Common/OleVariant.h"
#include "Common/ReaderPins.h"
#include "Common/ThreadSafety.h"
#include "Common/vopParamLst.h"
#include "monitor/ClientRecords.h"
#include "monitor/EventOutbox.h"
#include "monitor/MonitorSettings.h"
#include "monitor/MonitorSink.h"

namespace tarvel {

// MonitorTimer: the timer behind ChkTimeoutsTimer. ScheduleTick: the next tick
// comes interval_ms after this call, replacing any tick asked for before.
// StopTicks: no tick until the next ScheduleTick. Called from any thread.
class MonitorTimer {
 public:
  virtual ~MonitorTimer() = default;
  virtual void ScheduleTick(uint32_t interval_ms) = 0;
  virtual void StopTicks() = 0;
};

// WatchStatus: one watch as seen from outside, for tests and diagnostics.
struct WatchStatus {
  bool waiting_for_data;
  bool timed_out;
  bool fired;
  int64_t deadline;  // on the monitor's clock (Now())
};

class TimeoutMonitor : public std::enable_shared_from_this<TimeoutMonitor> {
 public:
  static constexpr uint32_t kIdleIntervalMs = 3000;   // nothing pending
  static constexpr uint32_t kOverdueIntervalMs = 10;  // a deadline has passed
  // Longest interval asked of the timer: the 64-bit clock must be read at
  // least every 2^31 ms, so far deadlines are reached in steps.
  static constexpr uint32_t kMaxIntervalMs = 1u << 30;

  // settings may be null: the defaults, watching nothing. ticks: the clock
  // deadlines are counted in (see platform/clock.h); it must outlive the
  // monitor.
  TimeoutMonitor(MonitorSink& sink, MonitorTimer& timer,
                 std::shared_ptr<const MonitorSettings> settings, MonitorTexts texts = {},
                 const platform::TickSource& ticks = platform::SystemTicks());
  ~TimeoutMonitor();
  TimeoutMonitor(const TimeoutMonitor&) = delete;
  TimeoutMonitor& operator=(const TimeoutMonitor&) = delete;

  // ReplaceSettings puts new settings in place and discards every client
  // (as loading settings does); data calls still running finish on the old
  // ones. Then ScheduleCheck.
  void ReplaceSettings(std::shared_ptr<const MonitorSettings> settings);
  // ClearClients discards every client, keeping the settings.
  void ClearClients();
  std::shared_ptr<const MonitorSettings> Settings() const;
  // SetTexts: the log texts from now on (also for what is still to be raised).
  void SetTexts(MonitorTexts texts);

  // ProcessData takes one data portion (rows closed by "$NEW_ROW$" or by
  // the list's end; null is an empty portion): ApplyData, then
  // DeliverWaiting (also when ApplyData fails; its failure is the one that
  // reaches the caller).
  void ProcessData(const TvopParamsList* data);
  // ApplyData finds or creates each row's client, restarts the watches of
  // the row's variables and decides the resume events, then sets the timer
  // as ScheduleCheck does (also when an exception passes); it calls no sink
  // (so a caller may hold a lock a sink call could wait for). It skips
  // setting the timer when its rows moved no deadline earlier and fed no
  // client due at or before the tick the timer is set for: the tick then
  // still comes no later than needed, and a tick that finds nothing due
  // sets the timer anew. Returns whether resume events wait. A row whose
  // client ID cannot be compared (EClientIdType) fails the call: the rows
  // before it keep their effect (their events wait), nothing is applied
  // from it on.
  bool ApplyData(const TvopParamsList* data);
  // DeliverWaiting raises the events and log lines that wait, unless
  // another thread is at it (which then raises them). When a sink call
  // fails, the events after it still go out (what a second failure leaves
  // waits for the next tick) and the first failure reaches the caller.
  void DeliverWaiting();

  // ChkTimeoutsTimer is the tick: stops the timer, fires every due watch
  // (also those that fall due while it raises events, in a second or third
  // pass), then sets the timer as ScheduleCheck does (also when an
  // exception passes). Data calls during a tick leave the timer to it.
  void ChkTimeoutsTimer();

  // ScheduleCheck asks the timer for the next tick: 3000 ms when nothing is
  // pending, 10 ms when the earliest deadline has passed (or events wait
  // after a failed delivery), otherwise the time left until it. Returns
  // that interval. The timer is not called again when it is already set
  // for the same moment (or, when overdue, for a moment no later than
  // 10 ms ahead), so a stream of data cannot keep pushing a due tick away.
  uint32_t ScheduleCheck();
  // StopTimer stops the timer; the next ScheduleCheck (or data call, tick,
  // settings replacement) starts it again.
  void StopTimer();
  // Halt stops the timer for good: no later call asks it for a tick.
  void Halt();

  // Now reads the monitor's 64-bit millisecond clock.
  int64_t Now() { return clock_.Now(); }
  size_t ClientCount() const;
  // QueuedDeadlines counts the entries of the deadline queue (never more
  // than the clients), for tests and diagnostics.
  size_t QueuedDeadlines() const;
  // MemoryUse: what the current clients take, in bytes, for diagnostics:
  // their records, the index's slot arrays (in use; and the blocks they are
  // carved from, with outgrown arrays not yet released and spare room) and
  // the deadline queue.
  struct MemoryUse {
    size_t records = 0;
    size_t index_in_use = 0;
    size_t index_blocks = 0;
    size_t queue = 0;
  };
  MemoryUse Memory() const;
  // FindWatch reports watch row (0-based, among the settings' active rows)
  // of the client with this ID; nullopt when there is no such client or row.
  std::optional<WatchStatus> FindWatch(const OleVariant& client_id, size_t row) const;

 private:
  class ClientTable;
  struct PendingRow;
  struct Snapshot {
    std::shared_ptr<ClientTable> table;
    std::shared_ptr<const MonitorTexts> texts;
  };
  // RowsEffect: what applying rows did, for what follows them.
  struct RowsEffect {
    bool posted = false;   // resume notices wait in the outbox
    bool lowered = false;  // a client's queue entry moved earlier
    // The earliest deadline a fed client had before its row (kNoDeadline
    // for none or new clients).
    int64_t earliest_before = kNoDeadline;
  };
  Snapshot Current() const TARVEL_EXCLUDES(mu_);
  void ApplyRows(ClientTable& table, const TvopParamsList& data, RowsEffect& effect);
  bool NeedsSchedule(const RowsEffect& effect) const;
  void ProcessRows(ClientTable& table, PendingRow* rows, size_t count, int64_t now,
                   RowsEffect& effect);
  void ApplyBeforeFailure(ClientTable& table, PendingRow* rows, size_t count, int64_t now,
                          RowsEffect& effect);
  static void Prefetch(const ClientTable& table, PendingRow* rows, size_t count);
  void ProcessRow(ClientTable& table, PendingRow& row, int64_t now, RowsEffect& effect);
  void PostResumes(ClientTable& table, const PendingRow& row, uint32_t resumes, unsigned count);
  void FireClient(const std::shared_ptr<ClientTable>& table, TClientListItem& client);
  // Schedule sets the timer; pinned is the current table when the caller
  // holds a pin of it (else it is looked up).
  uint32_t Schedule(bool ending_tick, ClientTable* pinned = nullptr) TARVEL_EXCLUDES(schedule_mu_);
  // PublishTimerState copies the timer's state for data calls that read it
  // without the lock.
  void PublishTimerState() TARVEL_REQUIRES(schedule_mu_);

  MonitorSink& sink_;
  MonitorTimer& timer_;
  TickClock64 clock_;
  EventOutbox outbox_;

  mutable Mutex mu_;
  std::shared_ptr<ClientTable> table_ TARVEL_GUARDED_BY(mu_);
  std::shared_ptr<const MonitorTexts> texts_ TARVEL_GUARDED_BY(mu_);
  // The current table for data calls, which read it under a pin instead of
  // copying table_: written under mu_, and a replaced table is kept until
  // the pins taken before are gone.
  std::atomic<ClientTable*> live_table_;
  ReaderPins pins_;

  // Serialises the timer's state; taken before mu_ and before the deadline
  // queue's lock, never after them.
  Mutex schedule_mu_;
  bool timer_armed_ TARVEL_GUARDED_BY(schedule_mu_) = false;
  bool tick_running_ TARVEL_GUARDED_BY(schedule_mu_) = false;
  bool halted_ TARVEL_GUARDED_BY(schedule_mu_) = false;
  int64_t armed_target_ TARVEL_GUARDED_BY(schedule_mu_) = 0;  // moment of the next tick
  // Copies for data calls (PublishTimerState): whether the timer needs
  // nothing from a data call that moved no deadline earlier, and the moment
  // of the set tick (kNoDeadline: none).
  std::atomic<bool> timer_settled_{false};
  std::atomic<int64_t> settled_target_{kNoDeadline};
};

}  // namespace tarvel
