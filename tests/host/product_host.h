// A host for the shipped module in this process, for the tests that drive
// it hard (hostile input, failing services, load, module life): the real
// tarvel.dll (libtarvel.so) loaded as the host loads it, its settings in a
// real INI file, a host window on the thread that creates the ProductHost,
// and real time. The module's check timer ticks on the thread that made
// the instance's first call, and only while that thread pumps messages.
//
// Events come back as rows of item name -> value; Client() renders the
// CLIENTID-ITEM of one so that kinds stay apart ("empty", "null", "text:x",
// numbers and booleans as their text).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host_test_util.h"
#include "host/host_window.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "support/test_support.h"

namespace tarvel::test {

// One watched variable T of kWatchMs milliseconds raising LOST, resume
// events on: the settings the hard-driving tests share.
inline constexpr uint32_t kWatchMs = 300;
inline const char* const kLostSettings =
    "[Common]\r\nVar1=T\r\nType1=0\r\nVal1=300\r\nEvent1=LOST\r\nResume event=True\r\n";

struct EventRow {
  std::string type;
  std::map<std::string, OleVariant> items;  // the event's parameters
  std::string Client() const {
    auto it = items.find("CLIENTID-ITEM");
    if (it == items.end()) return "missing";
    const OleVariant& v = it->second;
    if (v.IsEmpty()) return "empty";
    if (v.IsNull()) return "null";
    if (v.IsText()) return "text:" + v.ToAnsi();
    return v.ToAnsi();
  }
};

// CollectEvents runs the host's two GetEvents calls and returns the rows.
// With `failed`, a call that does not answer 0 counts there instead of
// failing the test (for threads other than the test's own).
inline std::vector<EventRow> CollectEvents(const LoadedModule& m, uint32_t id,
                                           std::atomic<int>* failed = nullptr) {
  auto check = [&](int32_t result) {
    if (failed)
      *failed += result != 0;
    else
      EXPECT_EQ(result, 0);
  };
  HostCall first(id);
  check(m->GetEvents(first));
  auto* list = reinterpret_cast<const TvopParamsList*>(+first.rec.Output.Data);
  std::vector<EventRow> rows;
  EventRow row;
  for (int32_t i = 0; list && i < list->Count; ++i) {
    const TvopParamsListItem* item = list->Item(i);
    const std::string name(item->NameView());
    if (name == "$NEW_ROW$") {
      rows.push_back(std::move(row));
      row = {};
    } else if (name == "EVENT-TYPE") {
      row.type = OleVariant::CopyOf(item->Value).ToAnsi();
    } else {
      row.items[name] = OleVariant::CopyOf(item->Value);
    }
  }
  HostCall second(id);
  second.rec.Output = first.rec.Output;
  check(m->GetEvents(second));
  return rows;
}

// PortionBuilder builds a data portion as the host does: rows of items,
// each row closed by a row marker.
class Portion {
 public:
  Portion() : list_(NewParamsList(kRowsParamsListClass)) {}
  Portion& Item(std::string_view name, const OleVariant& value) {
    list_->Add(name, value);
    return *this;
  }
  // RawItem adds an item holding a variant as it stands (see HostCall::RawParam).
  Portion& RawItem(std::string_view name, const Variant& value) {
    list_->Add(name, OleVariant())->Value = value;
    return *this;
  }
  Portion& EndRow() {
    list_->AddNewRow();
    return *this;
  }
  TvopParamsList* get() const { return list_.get(); }

 private:
  ParamsListPtr list_;
};

class ProductHost {
 public:
  ProductHost() = default;
  ProductHost(const ProductHost&) = delete;
  ProductHost& operator=(const ProductHost&) = delete;

  bool ok() const { return module.ok(); }

  // IniFile is the INI file Load gives an instance.
  std::string IniFile(uint32_t id) const {
    return dir.File("settings-" + std::to_string(id) + ".ini");
  }

  // Load writes the settings to the instance's INI file and sends LOAD with
  // this host's window.
  int32_t Load(uint32_t id, const std::string& settings = kLostSettings) {
    WriteWholeFile(IniFile(id), settings);
    return Command(id, "LOAD", {{"INI-FILE", OleVariant(IniFile(id))}});
  }
  // Command runs a command with this host's window and tag; params are
  // added after the window, so they may name another.
  int32_t Command(uint32_t id, const char* command,
                  std::initializer_list<std::pair<const char*, OleVariant>> params = {}) {
    HostCall call(id, command);
    call.rec.HostTag = id;
    call.Param("MessagesProcessorHandle", OleVariant(window.HandleParam()))
        .Param("RegistryPath", OleVariant("Software\\TarvelTests\\Hard"));
    for (const auto& [name, value] : params) call.Param(name, value);
    return module->ExecutePluginCommand(call);
  }
  // Feed hands a list to ProcessData as the host does (kind 1, filter role).
  int32_t Feed(uint32_t id, const TvopParamsList* list, uint8_t kind = kValueKindList) {
    HostCall data(id);
    data.Types(ModuleTypeBit(mttFilter));
    data.rec.Input.Kind = kind;
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(list);
    return module->ProcessData(data);
  }
  int32_t Feed(uint32_t id, const Portion& portion) { return Feed(id, portion.get()); }

  // PumpFor pumps this thread's messages for about ms of real time.
  void PumpFor(uint32_t ms) {
    const uint32_t start = platform::SystemTickCount();
    while (platform::TickDiff(platform::SystemTickCount(), start) < static_cast<int32_t>(ms)) {
      window.Pump();
      platform::SleepMs(5);
    }
    window.Pump();
  }
  // WaitForEvents pumps until n events have come (at most limit_ms), then
  // pumps twice the watch time more so that events beyond n would show.
  std::vector<EventRow> WaitForEvents(uint32_t id, size_t n, uint32_t limit_ms = 20000) {
    std::vector<EventRow> all;
    const uint32_t start = platform::SystemTickCount();
    while (all.size() < n && platform::TickDiff(platform::SystemTickCount(), start) <
                                 static_cast<int32_t>(limit_ms)) {
      PumpFor(20);
      for (EventRow& e : CollectEvents(module, id)) all.push_back(std::move(e));
    }
    PumpFor(2 * kWatchMs);
    for (EventRow& e : CollectEvents(module, id)) all.push_back(std::move(e));
    return all;
  }

  // FetchLog takes the queued log lines with GetLogEx, one string each.
  std::vector<std::string> FetchLog(uint32_t id) {
    std::vector<char> buf(1 << 16);
    HostCall call(id);
    call.rec.Input.Data = reinterpret_cast<uintptr_t>(buf.data());
    call.rec.Input.Size = static_cast<int32_t>(buf.size());
    const int32_t n = module->GetLogEx(call);
    return SplitLogText(std::string(buf.data(), static_cast<size_t>(n > 0 ? n : 0)));
  }
  // SplitLogText splits a batch of log lines (each ended by CR LF).
  static std::vector<std::string> SplitLogText(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }

  LoadedModule module{ProductModulePath()};
  RecordingWindow window;
  TempDir dir;
};

}  // namespace tarvel::test
