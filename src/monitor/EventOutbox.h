// EventOutbox: what the timeout monitor owes the host (timeout and resume
// events with their log lines), raised in the order it was decided, with no
// lock of the monitor held.
//
// The monitor decides what to report while it holds a client's shard lock,
// and posts a notice there: so one client's notices follow the order in
// which its watches changed, and one tick's follow client creation order,
// then row order. Delivery is separate because a sink call may take long:
// a log line is sent to the host's window and waits up to a second for the
// window's thread, and that thread may itself be feeding data, waiting for
// the very shard lock a sender would hold.
//
// One thread delivers at a time. A thread that finds another delivering
// leaves its notices to it and returns at once, so no thread ever waits for
// a sink call made on another one; the deliverer goes on until nothing is
// left, also what was posted while it delivered.
//
// What a notice becomes (texts from MonitorTexts):
//  - timeout: log level 1 "<timeout>[: <client ID as text>]"; then, when
//    the row has an event name, the event with CLIENTID-ITEM (the client's
//    ID as it first came) and PARSER-ITEM (the variable), and log level 1
//    "<generating event>: <event name>";
//  - resume: log level 2 "<generating event>: <resume name>", then the
//    resume event with CLIENTID-ITEM (the ID as the row carried it) and
//    PARSER-ITEM.
// A delivery is one log batch of the sink (MonitorSink::BeginLogBatch).
// A sink call that throws ends its notice (the notice's later steps are
// dropped, as a failed step ends a firing) and reaches the caller of
// Deliver; the notices after it wait for the next Deliver (Stalled() says
// so meanwhile).
//
// Threads: Post from any thread, holding the shard lock of the client the
// notice is about; Deliver from any thread holding no lock of the monitor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/ThreadSafety.h"
#include "Common/vopParamLst.h"
#include "monitor/ClientRecords.h"
#include "monitor/MonitorSettings.h"
#include "monitor/MonitorSink.h"

namespace tarvel {

struct Notice {
  enum class Kind : uint8_t { kTimeout, kResume };
  Kind kind = Kind::kTimeout;
  uint8_t row = 0;                          // the settings row of the watch
  const TClientListItem* client = nullptr;  // timeout: the client
  OleVariant row_id;                        // resume: the row's client ID as it came
};

class EventOutbox {
 public:
  EventOutbox() = default;
  EventOutbox(const EventOutbox&) = delete;
  EventOutbox& operator=(const EventOutbox&) = delete;

  // Post appends notices about clients of one settings generation: owner
  // keeps their records and settings alive until the notices are raised.
  void Post(const std::shared_ptr<const void>& owner, const MonitorSettings& settings,
            Notice* notices, size_t count);
  // Deliver raises what was posted, unless another thread is at it.
  void Deliver(MonitorSink& sink, const MonitorTexts& texts);
  // Stalled: a delivery failed and notices wait for the next one.
  bool Stalled() const { return stalled_.load(); }

 private:
  struct Segment {
    std::shared_ptr<const void> owner;
    const MonitorSettings* settings;
    std::deque<Notice> notices;
  };
  class Writer;
  void Drain(MonitorSink& sink, const MonitorTexts& texts);

  Mutex mu_;
  std::deque<Segment> queue_ TARVEL_GUARDED_BY(mu_);
  std::atomic<bool> pending_{false};     // queue_ is not empty
  std::atomic<bool> delivering_{false};  // a thread delivers
  std::atomic<bool> stalled_{false};
  // The deliverer's own: per settings row, the list of an event's two
  // parameters.
  ParamsListPtr params_[MonitorSettings::kMaxRows];
};

}  // namespace tarvel
