// TimeoutMonitor: the engine of the timeout monitor. It keeps one record per
// client (found by a hash index on the client ID), restarts the watches of
// the variables each data row carries, and fires the watches whose variable
// stayed silent past its timeout: a "Timeout" log line and the row's event,
// and, when the variable comes back, the resume event.
//
// It talks to the outside through two small interfaces:
//  - MonitorSink receives events and log lines (the plug-in object's
//    RaiseEvent and SendLog have exactly these shapes);
//  - MonitorTimer is the timer that calls ChkTimeoutsTimer: the engine asks it
//    for the next tick after every data portion and every tick.
//
// Example (what the plug-in does):
//   TimeoutMonitor monitor(sink, timer, MakeMonitorSettings(cfg), texts);
//   monitor.ScheduleCheck();          // after LOAD: start the timer
//   monitor.ProcessData(list);        // each ProcessData call, any thread
//   monitor.ChkTimeoutsTimer();       // each timer tick, the timer's thread
//   monitor.ReplaceSettings(MakeMonitorSettings(reloaded));  // drops clients
//
// Threads: ProcessData may run on any number of threads at once, together
// with one ChkTimeoutsTimer (ticks must not overlap each other) and with
// ReplaceSettings, ClearClients and SetTexts. Sink and timer calls are made
// from the calling thread, sometimes while the engine holds one of its
// locks: they must not call back into the engine. Events and log lines of
// one client are raised in order; across clients, one tick raises its
// events in client creation order, then row order.
//
// The destructor must run only when no other call is running and the timer
// will not call ChkTimeoutsTimer again.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"
#include "monitor/ClientRecords.h"
#include "monitor/MonitorSettings.h"

namespace tarvel {

// MonitorSink: where events and log lines go. Level 1 is a warning, 2 a
// notice. Both may throw; the engine keeps its records consistent and
// passes the exception on.
class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  virtual void RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) = 0;
  virtual void SendLog(uint8_t level, std::string_view text) = 0;
};

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
  void SetTexts(MonitorTexts texts);

  // ProcessData takes one data portion (rows closed by "$NEW_ROW$" or by
  // the list's end; null is an empty portion): finds or creates each row's
  // client, restarts the watches of the row's variables, raises resume
  // events, then ScheduleCheck (also when an exception passes).
  void ProcessData(const TvopParamsList* data);

  // ChkTimeoutsTimer is the tick: stops the timer, fires every due watch
  // (also those that fall due while it raises events, in a second or third
  // pass), then sets the timer as ScheduleCheck does (also when an
  // exception passes). Data calls during a tick leave the timer to it.
  void ChkTimeoutsTimer();

  // ScheduleCheck asks the timer for the next tick: 3000 ms when nothing is
  // pending, 10 ms when the earliest deadline has passed, otherwise the time
  // left until it. Returns that interval. The timer is not called again when
  // it is already set for the same moment (or, when overdue, for a moment no
  // later than 10 ms ahead), so a stream of data cannot keep pushing a due
  // tick away.
  uint32_t ScheduleCheck();

  // Now reads the monitor's 64-bit millisecond clock.
  int64_t Now() { return clock_.Now(); }
  size_t ClientCount() const;
  // FindWatch reports watch row (0-based, among the settings' active rows)
  // of the client with this ID; nullopt when there is no such client or row.
  std::optional<WatchStatus> FindWatch(const OleVariant& client_id, size_t row) const;

 private:
  class ClientTable;
  struct PendingRow;
  struct FireContext;
  struct Snapshot {
    std::shared_ptr<ClientTable> table;
    std::shared_ptr<const MonitorTexts> texts;
  };
  Snapshot Current() const;
  void ProcessRows(ClientTable& table, const MonitorTexts& texts, PendingRow* rows, size_t count,
                   int64_t now, ParamsListPtr& params);
  static void Prefetch(const ClientTable& table, PendingRow* rows, size_t count);
  void ProcessRow(ClientTable& table, const MonitorTexts& texts, PendingRow& row, int64_t now,
                  ParamsListPtr& params);
  void RaiseResume(const MonitorSettings::Row& row, const MonitorSettings& settings,
                   const MonitorTexts& texts, const Variant* client_id, ParamsListPtr& params);
  void FireClient(ClientTable& table, FireContext& context, TClientListItem& client);
  uint32_t Schedule(bool ending_tick);

  MonitorSink& sink_;
  MonitorTimer& timer_;
  TickClock64 clock_;

  mutable std::mutex mu_;
  std::shared_ptr<ClientTable> table_;         // guarded by mu_
  std::shared_ptr<const MonitorTexts> texts_;  // guarded by mu_

  // Serialises ScheduleCheck; taken before mu_ and before a table's heap
  // lock, never after them.
  std::mutex schedule_mu_;
  bool timer_armed_ = false;   // guarded by schedule_mu_
  bool tick_running_ = false;  // guarded by schedule_mu_
  int64_t armed_target_ = 0;   // guarded by schedule_mu_; moment of the next tick
};

}  // namespace tarvel
