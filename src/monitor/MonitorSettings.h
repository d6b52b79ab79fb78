// MonitorSettings: the immutable snapshot of the settings the timeout
// monitor works from, and the texts it writes to the log.
//
// The monitor never reads the settings object (TProxyCodeObject) itself:
// the plug-in converts it once with MakeMonitorSettings and hands the
// snapshot over as a std::shared_ptr<const MonitorSettings>. Readers keep
// their own reference, so a snapshot stays alive while a data call or a
// check tick still uses it, also when the options dialog replaces it.
//
// Example:
//   auto settings = MakeMonitorSettings(cfg);   // cfg: TProxyCodeObject
//   monitor.ReplaceSettings(settings);          // drops all clients
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class TProxyCodeObject;

struct MonitorSettings {
  // One watched row, in settings order; rows that are switched off are left
  // out, so a client has as many watches as there are rows here (0 to 4).
  struct Row {
    std::string var_name;    // trimmed and ANSI lower-cased: compared with an item's LowName
    int64_t timeout_ms;      // > 0
    std::string event_name;  // as set; empty: timeouts are only logged
  };
  static constexpr size_t kMaxRows = 4;

  // No rows; everything else the settings object's defaults.
  MonitorSettings();

  std::vector<Row> rows;
  bool wait_data;     // a watch stays quiet until its variable arrives once
  bool event_once;    // one event per silence; off: one per timeout period
  bool check_client;  // watches per client ID; off: one set for all data
  bool event_resume;  // data after a timeout raises the resume event
  std::string client_var;
  std::string resume_suffix;
};

// Longest timeout a row can have: about 34 years. Longer ones are cut to
// it, which in practice means "never" without risking 64-bit overflow.
constexpr int64_t kMaxTimeoutMs = int64_t{1} << 40;

// RowTimeoutMs computes a row's timeout in 64 bits: the value cut toward
// zero to a whole number, times the unit's factor (0 ms, 1 s, 2 min, 3 h).
// Returns 0 (the row is off) for an unknown unit, NaN, or a whole value
// below 1, negative ones included; clamps at kMaxTimeoutMs.
int64_t RowTimeoutMs(int32_t unit_index, double value);

// MakeMonitorSettings converts the settings object: the rows through the
// settings object's own row rules (trimmed name, unit 0..3, timeout of at
// least 1 ms), each timeout recomputed in 64 bits so that long ones (say
// 1000 hours) keep their length.
std::shared_ptr<const MonitorSettings> MakeMonitorSettings(const TProxyCodeObject& cfg);

// MonitorTexts: the translatable log texts the monitor writes.
struct MonitorTexts {
  std::string timeout = "Timeout";
  std::string generating_event = "Generating event";
};

}  // namespace tarvel
