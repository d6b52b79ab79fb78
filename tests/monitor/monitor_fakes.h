// Seams of the timeout monitor for its tests: a sink that writes what it
// receives into a journal, a timer that only records what it was asked, and
// a builder of data lists.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"
#include "monitor/TimeoutMonitor.h"
#include "platform/clock.h"
#include "platform/window.h"

namespace tarvel::test {

// Describe renders a variant with its type, so tests see 5 and 5.0 apart;
// characters of an OLE string outside ASCII show as \u followed by four hex digits.
inline std::string Describe(const Variant& v) {
  OleVariant copy = OleVariant::CopyOf(v);
  if (v.vt == platform::VT_BSTR) {
    std::string out = "bstr:";
    for (char16_t c : copy.ToWide()) {
      if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
        out += escaped;
      }
    }
    return out;
  }
  switch (v.vt) {
    case platform::VT_EMPTY:
      return "empty";
    case platform::VT_NULL:
      return "null";
    case platform::VT_I4:
      return "i4:" + copy.ToAnsi();
    case platform::VT_R8:
      return "r8:" + copy.ToAnsi();
    case platform::VT_ANSISTRING:
      return "ansi:" + copy.ToAnsi();
    default:
      return "vt" + std::to_string(v.vt) + ":" + copy.ToAnsi();
  }
}

// One raised event as the host would see it.
struct SeenEvent {
  std::string name;
  std::string client;  // Describe() of CLIENTID-ITEM
  std::string parser;  // Describe() of PARSER-ITEM
};

// JournalSink keeps, in order, one line per event ("event NAME client
// parser") and per log line ("log1 text"), and can hand the log lines to a
// window as the host gets them. Thread-safe.
class JournalSink : public MonitorSink {
 public:
  void RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) override {
    if (on_event) on_event();
    std::lock_guard<std::mutex> lock(mu_);
    if (fail_events_ > 0) {
      --fail_events_;
      throw std::runtime_error("event queue failed");
    }
    SeenEvent e{std::string(name), "missing", "missing"};
    if (params) {
      if (const TvopParamsListItem* item = params->ItemByName("CLIENTID-ITEM"))
        e.client = Describe(item->Value);
      if (const TvopParamsListItem* item = params->ItemByName("PARSER-ITEM"))
        e.parser = Describe(item->Value);
      if (params->Count != 2) e.parser += " (+" + std::to_string(params->Count - 2) + " items)";
    }
    lines_.push_back(std::string(global ? "global " : "event ") + e.name + " " + e.client + " " +
                     e.parser);
    events_.push_back(std::move(e));
  }
  void SendLog(uint8_t level, std::string_view text) override {
    if (const platform::WindowHandle window = log_window_.load()) {
      // As the plug-in does: the line goes to the host's window, which has
      // a second to answer.
      intptr_t result = 0;
      if (!platform::SendCopyData(window, 0, 2, text.data(), static_cast<uint32_t>(text.size()),
                                  1000, &result))
        unanswered_.fetch_add(1);
    }
    std::lock_guard<std::mutex> lock(mu_);
    lines_.push_back("log" + std::to_string(level) + " " + std::string(text));
  }

  // SendLogsTo makes every log line also go to a window by WM_COPYDATA, as
  // the host gets it; 0 stops that. Unanswered counts the lines the window
  // did not take within the second.
  void SendLogsTo(platform::WindowHandle window) { log_window_.store(window); }
  int Unanswered() const { return unanswered_.load(); }

  // Take returns the journal and empties it.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.clear();
    return std::exchange(lines_, {});
  }
  std::vector<SeenEvent> Events() const {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }
  // on_event runs at the start of every RaiseEvent (set it while no other
  // thread raises events).
  std::function<void()> on_event;

  // FailNextEvents makes the next n RaiseEvent calls throw.
  void FailNextEvents(int n) {
    std::lock_guard<std::mutex> lock(mu_);
    fail_events_ = n;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
  std::vector<SeenEvent> events_;
  int fail_events_ = 0;
  std::atomic<platform::WindowHandle> log_window_{0};
  std::atomic<int> unanswered_{0};
};

// RecordingTimer remembers the last interval it was given and the tick of
// its source at which it was given. Thread-safe.
class RecordingTimer : public MonitorTimer {
 public:
  explicit RecordingTimer(const platform::TickSource& ticks) : ticks_(ticks) {}

  void ScheduleTick(uint32_t interval_ms) override {
    std::lock_guard<std::mutex> lock(mu_);
    armed_ = true;
    interval_ = interval_ms;
    set_at_ = ticks_.Now();
    ++schedules_;
  }
  void StopTicks() override {
    std::lock_guard<std::mutex> lock(mu_);
    armed_ = false;
  }

  bool Armed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return armed_;
  }
  uint32_t Interval() const {
    std::lock_guard<std::mutex> lock(mu_);
    return interval_;
  }
  int Schedules() const {
    std::lock_guard<std::mutex> lock(mu_);
    return schedules_;
  }
  // MsUntilTick: how long from the current tick until the timer fires
  // (negative when overdue); only meaningful while armed.
  int64_t MsUntilTick() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int64_t>(interval_) + platform::TickDiff(set_at_, ticks_.Now());
  }

 private:
  const platform::TickSource& ticks_;
  mutable std::mutex mu_;
  bool armed_ = false;
  uint32_t interval_ = 0;
  uint32_t set_at_ = 0;
  int schedules_ = 0;
};

// Data builds a data list: the rows are separated by "$NEW_ROW$" markers,
// the last row is closed by the end of the list.
using DataItem = std::pair<std::string, OleVariant>;
using DataRow = std::vector<DataItem>;
inline ParamsListPtr Data(std::initializer_list<DataRow> rows) {
  ParamsListPtr list = NewParamsList(kRowsParamsListClass);
  size_t n = 0;
  for (const DataRow& row : rows) {
    if (n++ > 0) list->AddNewRow();
    for (const DataItem& item : row) list->Add(item.first, item.second);
  }
  return list;
}

}  // namespace tarvel::test
