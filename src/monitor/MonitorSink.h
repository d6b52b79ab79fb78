// MonitorSink: where the timeout monitor's events and log lines go. The
// plug-in object's RaiseEvent and SendLog have exactly these shapes.
//
// BeginLogBatch and EndLogBatch enclose a delivery: a sink may hold the
// lines sent in between and hand them on together at EndLogBatch, in order
// (the host then gets one message for many lines). The defaults hand every
// line on at once.
//
// Level 1 is a warning, 2 a notice. Both calls may throw; the monitor keeps
// its records consistent and passes the exception on. The monitor calls
// them holding none of its locks, from whichever thread delivers (see
// EventOutbox), one call at a time; they must not call back into the
// monitor.
#pragma once

#include <cstdint>
#include <string_view>

#include "Common/vopParamLst.h"

namespace tarvel {

class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  virtual void RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) = 0;
  virtual void SendLog(uint8_t level, std::string_view text) = 0;
  virtual void BeginLogBatch() {}
  virtual void EndLogBatch() noexcept {}
};

}  // namespace tarvel
