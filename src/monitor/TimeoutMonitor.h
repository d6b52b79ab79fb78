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

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "Common/OleVariant.h"
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

class TimeoutMonitor {
 public:
  static constexpr uint32_t kIdleIntervalMs = 3000;   // nothing pending
  static constexpr uint32_t kOverdueIntervalMs = 10;  // a deadline has passed
  // Longest interval asked of the timer: the 64-bit clock must be read at
  // least every 2^31 ms, so far deadlines are reached in steps.
  static constexpr uint32_t kMaxIntervalMs = 1u << 30;

  // settings may be null: the defaults, watching nothing.
  TimeoutMonitor(MonitorSink& sink, MonitorTimer& timer,
                 std::shared_ptr<const MonitorSettings> settings, MonitorTexts texts = {});
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
  // the list's end; null is an empty portion): finds or creates each row's
  // client, restarts the watches of the row's variables, raises resume
  // events, then ScheduleCheck (also when an exception passes). A row whose
  // client ID cannot be compared (EClientIdType) fails the call: the rows
  // before it keep their effect, nothing is applied from it on.
  void ProcessData(const TvopParamsList* data);

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
  Snapshot Current() const;
  bool ProcessRows(const std::shared_ptr<ClientTable>& table, PendingRow* rows, size_t count,
                   int64_t now);
  void ApplyBeforeFailure(const std::shared_ptr<ClientTable>& table, PendingRow* rows, size_t count,
                          int64_t now);
  static void Prefetch(const ClientTable& table, PendingRow* rows, size_t count);
  bool ProcessRow(const std::shared_ptr<ClientTable>& table, PendingRow& row, int64_t now);
  void PostResumes(const std::shared_ptr<ClientTable>& table, const PendingRow& row,
                   uint32_t resumes, unsigned count);
  void FireClient(const std::shared_ptr<ClientTable>& table, TClientListItem& client);
  uint32_t Schedule(bool ending_tick);

  MonitorSink& sink_;
  MonitorTimer& timer_;
  TickClock64 clock_;
  EventOutbox outbox_;

  mutable std::mutex mu_;
  std::shared_ptr<ClientTable> table_;         // guarded by mu_
  std::shared_ptr<const MonitorTexts> texts_;  // guarded by mu_

  // Serialises the timer's state; taken before mu_ and before the deadline
  // queue's lock, never after them.
  std::mutex schedule_mu_;
  bool timer_armed_ = false;   // guarded by schedule_mu_
  bool tick_running_ = false;  // guarded by schedule_mu_
  bool halted_ = false;        // guarded by schedule_mu_
  int64_t armed_target_ = 0;   // guarded by schedule_mu_; moment of the next tick
};

}  // namespace tarvel
