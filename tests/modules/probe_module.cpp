// A test module built from the framework: its plug-in binds every handler,
// records what the framework did, and acts on custom commands so tests can
// drive events, log lines and data results through the real exports.
//
// Custom commands (parameters in brackets), all answering 0:
//   PROBE-STATE  -> RESULT: "key=value;..." of the instance's state (and the
//                   ids of every instance in the table)
//   RAISE        [NAME, GLOBAL, P1, P2]  raises an event, P1/P2 as parameters
//   RAISE-MANY   [NAME, COUNT]           raises COUNT events named NAME-<i>
//   LOG          [LEVEL, TEXT]           SendLog
//   ADDLOG       [LEVEL, TEXT]           AddLog
//   LOG-BATCH    [TEXT, COUNT, EVENTS]   one log batch of COUNT lines TEXT-<i> (SendLog level 1),
//                                        each followed by the event TEXT-<i> when EVENTS is 1
//   THROW                                throws (the export answers -3)
//   FAULT        [KIND]                  runs the fault probe (below) in the custom command
//   NESTED                               runs a command from inside a command
//   SET-TYPE     [TYPES, OPTIONS]        changes ModuleType / ModuleOptions
//   ADD-CUSTOM   [F1, F2, F3, N1, N2]    adds a custom command descriptor
//   OPTIONS-ANSWER [OK]                  what the options handler answers
//   NO-OPTIONS                           unbinds the options handler
//   DATA-MODE    [MODE]                  how OnProcessData behaves:
//       count (default): result = rows seen; rows2: leaves 2 rows in ResultRows;
//       throw: raises; result3: result 3 and Input.Data cleared;
//       fault-locked: runs the fault probe "divide" holding the command lock
//
// The fault probe: probe::Outer calls probe::Middle calls probe::Inner, which
// by KIND throws std::runtime_error ("throw"), reads through a null pointer
// ("read"), divides by zero ("divide") or runs an illegal instruction
// ("illegal", from probe::Illegal, one call further). SET-ITEMS runs it when
// the first parser item is named FAULT-<KIND>, so that what it raises
// leaves the command itself (a custom command's own failure is its result,
// not a report).
//
// In the default data mode, items of a data row act as well:
//   PROBE-EVENT=<name>         raises the event, the row's other items as its parameters
//   PROBE-GLOBAL-EVENT=<name>  the same, raised as a global event
//   PROBE-LOG=<text>           SendLog level 1 on the calling thread
//   PROBE-LOG-ASIDE=<text>     SendLog level 1 from another thread that the data call
//                              waits for, so a host busy in the call cannot answer
//   PROBE-REPORT=<name>        raises the event with what the host handed over: INI-FILE,
//                              REGISTRY-PATH, LANGUAGE, ITEMS, HOST-TAG, HAS-HOST-WINDOW
//   PROBE-LATER=<name>         raises the event (the row's other items as parameters) from a
//                              window timer PROBE-AFTER ms (default 100) later, which fires
//                              only while the thread of the data call pumps its messages
//   PROBE-LATER-FAULT=<kind>   runs the fault probe from such a timer instead
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "Plugins/vopPluginModule.h"
#include "platform/text.h"
#include "platform/window.h"

namespace tarvel {

// The fault probe: three frames the reports must name, kept apart.
namespace probe {

#if defined(__clang__)
#define PROBE_FRAME __attribute__((noinline))
#else
#define PROBE_FRAME __attribute__((noipa))
#endif

// The faults are the point: the sanitizers' own checks of them stand aside.
PROBE_FRAME __attribute__((no_sanitize("undefined"))) int Illegal() {
  __builtin_trap();
}

PROBE_FRAME __attribute__((no_sanitize("undefined"))) int Inner(const std::string& kind) {
  if (kind == "throw") throw std::runtime_error("probe failure three calls deep");
  if (kind == "read") {
    int* volatile nowhere = nullptr;
    return *nowhere;
  }
  if (kind == "divide") {
    volatile int zero = 0;
    return 100 / zero;
  }
  if (kind == "illegal") return Illegal() + 1;
  return 0;
}

PROBE_FRAME int Middle(const std::string& kind) {
  return Inner(kind) + 1;
}

PROBE_FRAME int Outer(const std::string& kind) {
  return Middle(kind) + 1;
}

}  // namespace probe

namespace {

class TProbePlugin : public TvopPlugin {
 public:
  explicit TProbePlugin(PPluginCallRec rec) : TvopPlugin(rec) {
    Description = "Probe";
    LogTitle = "Probe";
    ModuleType = ModuleTypeBit(mttFilter);
    MinVersion = 4.0f;
    // Like a real plug-in, the probe keeps a settings object from OnLoad to
    // OnUnload, which OnLoadSettingsNow works on.
    OnLoad = [this](TvopPlugin&, PPluginCallRec, int32_t&) {
      ++loads_;
      settings_ = std::make_unique<int>(0);
    };
    OnUnload = [this](TvopPlugin&, PPluginCallRec, int32_t&) {
      ++unloads_;
      settings_.reset();
    };
    OnSaveSettingsNow = [this](TvopPlugin&) { saves_ += "S:" + IniFile() + ","; };
    OnLoadSettingsNow = [this](TvopPlugin&) {
      saves_ += "L:" + IniFile() + ",";
      if (settings_) ++*settings_;
    };
    // A parser item named THROW makes the handler fail, so the exception
    // leaves the command itself.
    OnSetParserItems = [this](TvopPlugin&) {
      ++set_items_;
      if (ParserItemCount() > 0 && GetParserItem(0).Name == "THROW")
        throw std::runtime_error("probe failure");
      if (ParserItemCount() > 0 && GetParserItem(0).Name.rfind("FAULT-", 0) == 0)
        probe::Outer(platform::AnsiLowerCase(GetParserItem(0).Name.substr(6)));
    };
    OnBeforeGetParserItems = [this](TvopPlugin&) { ++before_items_; };
    OnStateChanged = [this](TvopPlugin&, TModuleTypes t) { last_state_types_ = t; };
    OnShowOptionsDialog = [this](TvopPlugin&, PPluginCallRec, bool& ok) { ok = options_answer_; };
    OnChangeLanguage = [this](TvopPlugin&) { ++language_changes_; };
    OnExecuteCustomCommand = [this](TvopPlugin&, const std::string& c, PPluginCallRec rec,
                                    int32_t& r) { r = Custom(c, rec); };
    OnProcessData = [this](TvopPlugin&, PPluginCallRec rec, int32_t& r) { r = Data(rec); };
  }
  ~TProbePlugin() override {
    if (timer_window_) platform::DestroyMessageWindow(timer_window_);
  }

 private:
  std::string Text(PPluginCallRec rec, const char* name) {
    return rec->Params->GetParamValue(name).ToAnsi();
  }
  int Int(PPluginCallRec rec, const char* name, int fallback = 0) {
    auto v = rec->Params->GetParamValue(name).AsInt64();
    return v ? static_cast<int>(*v) : fallback;
  }

  // InstanceIds lists the ids in the instance table, "," after each.
  static std::string InstanceIds() {
    std::string ids;
    ForEachInstance([&](TvopPlugin& p) { ids += std::to_string(p.InstanceId()) + ","; });
    return ids;
  }

  int32_t Custom(const std::string& c, PPluginCallRec rec) {
    if (c == "PROBE-STATE") {
      std::string s =
          "load=" + std::to_string(LoadCount()) + ";unloaded=" + std::to_string(Unloaded()) +
          ";onload=" + std::to_string(loads_) + ";onunload=" + std::to_string(unloads_) +
          ";rows=" + std::to_string(ResultRows() != nullptr) +
          ";events=" + std::to_string(HandedOutEvents() != nullptr) + ";saves=" + saves_ +
          ";reloads=" + (settings_ ? std::to_string(*settings_) : std::string("-")) +
          ";ini=" + IniFile() + ";regpath=" + RegistryPath() +
          ";hostwin=" + std::to_string(HostWindow()) + ";owner=" + std::to_string(OwnerWindow()) +
          ";hostmod=" + std::to_string(HostModule() != 0) + ";lang=" + Language() +
          ";langchanges=" + std::to_string(language_changes_) +
          ";temp=" + std::to_string(TemporaryLoad()) + ";setitems=" + std::to_string(set_items_) +
          ";beforeitems=" + std::to_string(before_items_) +
          ";statetypes=" + std::to_string(last_state_types_) + ";roles=";
      for (int i = 0; i < 8; ++i) s += ModuleTypeState(static_cast<TModuleType>(i)) ? '1' : '0';
      s += ";sources=";
      for (const auto& d : DataSources())
        s += std::to_string(d->Id) + "," + d->Text2 + "," + d->Text3 + "/";
      s += ";items=" + std::to_string(ParserItemCount()) + ";version=" + VersionText() +
           ";seen=" + std::to_string(items_seen_) + ";lastseen=" + LastSeen() +
           ";id=" + std::to_string(InstanceId()) + ";instances=" + std::to_string(InstanceCount()) +
           ";ids=" + InstanceIds() + ";pending=" + std::to_string(PendingEventItems()) + ";";
      if (TvopParamsListItem* slot = rec->Params->ItemByName("RESULT"))
        StoreItemValue(*rec->Params, slot, OleVariant(s));
      return 0;
    }
    if (c == "RAISE") {
      ParamsListPtr params = NewParamsList();
      OleVariant p1 = rec->Params->GetParamValue("P1");
      OleVariant p2 = rec->Params->GetParamValue("P2");
      if (!p1.IsEmpty()) params->Add("CLIENTID-ITEM", p1);
      if (!p2.IsEmpty()) params->Add("PARSER-ITEM", p2);
      RaiseEvent(Int(rec, "GLOBAL") != 0, Text(rec, "NAME"),
                 params->Count ? params.get() : nullptr);
      return 0;
    }
    if (c == "RAISE-MANY") {
      const std::string name = Text(rec, "NAME");
      for (int i = 0, n = Int(rec, "COUNT"); i < n; ++i)
        RaiseEvent(false, name + "-" + std::to_string(i), nullptr);
      return 0;
    }
    if (c == "LOG") {
      SendLog(static_cast<uint8_t>(Int(rec, "LEVEL", 1)), Text(rec, "TEXT"));
      return 0;
    }
    if (c == "LOG-BATCH") {
      const std::string text = Text(rec, "TEXT");
      const bool events = Int(rec, "EVENTS") != 0;
      BeginLogBatch();
      for (int i = 0, n = Int(rec, "COUNT"); i < n; ++i) {
        SendLog(1, text + "-" + std::to_string(i));
        if (events) RaiseEvent(false, text + "-" + std::to_string(i), nullptr);
      }
      EndLogBatch();
      return 0;
    }
    if (c == "ADDLOG") {
      AddLog(static_cast<uint8_t>(Int(rec, "LEVEL", 1)), Text(rec, "TEXT"));
      return 0;
    }
    if (c == "THROW") throw std::runtime_error("probe failure");
    if (c == "FAULT") return probe::Outer(Text(rec, "KIND"));
    if (c == "NESTED") return ExecuteCommand("PROBE-STATE", rec);
    if (c == "SET-TYPE") {
      ModuleType = static_cast<TModuleTypes>(Int(rec, "TYPES"));
      ModuleOptions = static_cast<TModuleOptions>(Int(rec, "OPTIONS"));
      return 0;
    }
    if (c == "ADD-CUSTOM") {
      CustomCommands().Add({Text(rec, "F1"), Text(rec, "F2"), Text(rec, "F3"),
                            static_cast<uint8_t>(Int(rec, "N1")),
                            static_cast<uint8_t>(Int(rec, "N2"))});
      return 0;
    }
    if (c == "DATA-MODE") {
      const std::string mode = Text(rec, "MODE");
      data_mode_ = mode == "throw"          ? kThrow
                   : mode == "result3"      ? kResult3
                   : mode == "rows2"        ? kRows2
                   : mode == "error"        ? kError
                   : mode == "fault-locked" ? kFaultLocked
                                            : kCount;
      return 0;
    }
    if (c == "OPTIONS-ANSWER") {
      options_answer_ = Int(rec, "OK") != 0;
      return 0;
    }
    if (c == "NO-OPTIONS") {
      OnShowOptionsDialog = nullptr;
      return 0;
    }
    return kResultNotHandled;
  }

  int32_t Data(PPluginCallRec rec) {
    auto* input = rec->Input.Kind == kValueKindList
                      ? reinterpret_cast<TvopParamsList*>(rec->Input.Data)
                      : nullptr;
    items_seen_ = input ? input->Count : -1;
    {
      const TvopParamsListItem* last =
          input && input->Count > 0 ? input->Item(input->Count - 1) : nullptr;
      std::lock_guard<std::mutex> lock(seen_mu_);
      last_seen_ = last ? std::string(last->NameView()) : std::string();
    }
    const DataMode mode = data_mode_.load();
    if (mode == kThrow) throw std::runtime_error("probe data failure");
    if (mode == kFaultLocked) {
      auto hold = HoldCommands();
      return probe::Outer("divide");
    }
    if (mode == kResult3) {
      rec->Input.Data = 0;
      return 3;
    }
    if (mode == kRows2) {
      if (!ResultRows()) throw std::runtime_error("not loaded");
      ResultRows()->Clear();
      ResultRows()->Add("A", OleVariant(1));
      ResultRows()->AddNewRow();
      ResultRows()->Add("A", OleVariant(2));
      ResultRows()->AddNewRow();
      return 2;
    }
    if (mode == kError) return -5;
    if (input) ActOnRows(*input);
    return input ? input->RowCount() : 0;
  }

  static bool NameIs(const TvopParamsListItem* item, std::string_view name) {
    return item->LowNameView() == platform::AnsiLowerCase(name);
  }

  void ActOnRows(const TvopParamsList& input) {
    int32_t begin = 0;
    for (int32_t i = 0; i <= input.Count; ++i) {
      if (i < input.Count && input.Item(i)->NameView() != kNewRowMarker) continue;
      ActOnRow(input, begin, i);
      begin = i + 1;
    }
  }

  void ActOnRow(const TvopParamsList& input, int32_t begin, int32_t end) {
    ParamsListPtr params = NewParamsList();
    for (int32_t i = begin; i < end; ++i) {
      const TvopParamsListItem* item = input.Item(i);
      if (item->NameView().rfind("PROBE-", 0) != 0) params->AddItem(item);
    }
    int after = 100;
    for (int32_t i = begin; i < end; ++i)
      if (NameIs(input.Item(i), "PROBE-AFTER"))
        after = static_cast<int>(OleVariant::CopyOf(input.Item(i)->Value).AsInt64().value_or(100));
    for (int32_t i = begin; i < end; ++i) {
      const TvopParamsListItem* item = input.Item(i);
      const std::string value = OleVariant::CopyOf(item->Value).ToAnsi();
      if (NameIs(item, "PROBE-EVENT") || NameIs(item, "PROBE-GLOBAL-EVENT")) {
        RaiseEvent(NameIs(item, "PROBE-GLOBAL-EVENT"), value,
                   params->Count ? params.get() : nullptr);
      } else if (NameIs(item, "PROBE-LOG")) {
        SendLog(1, value);
      } else if (NameIs(item, "PROBE-LOG-ASIDE")) {
        std::thread([&] { SendLog(1, value); }).join();
      } else if (NameIs(item, "PROBE-REPORT")) {
        ParamsListPtr report = NewParamsList();
        report->Add("INI-FILE", OleVariant(IniFile()));
        report->Add("REGISTRY-PATH", OleVariant(RegistryPath()));
        report->Add("LANGUAGE", OleVariant(Language()));
        report->Add("ITEMS", OleVariant(GetParserItemsText()));
        report->Add("HOST-TAG", OleVariant(static_cast<int32_t>(HostTag())));
        report->Add("HAS-HOST-WINDOW", OleVariant(HostWindow() != 0));
        RaiseEvent(false, value, report.get());
      } else if (NameIs(item, "PROBE-LATER")) {
        Later(value, params.get(), after);
      } else if (NameIs(item, "PROBE-LATER-FAULT")) {
        Later(kFaultPrefix + value, params.get(), after);
      }
    }
  }

  // Later raises an event from a one-shot timer of a window on this thread
  // (or, for a name kFaultPrefix + KIND, runs the fault probe there).
  static inline const std::string kFaultPrefix = "?fault:";
  void Later(const std::string& name, const TvopParamsList* params, int after_ms) {
    if (!timer_window_) {
      timer_window_ = platform::CreateMessageWindow(
          [this](platform::WindowHandle w, uint32_t msg, uintptr_t id, intptr_t) -> intptr_t {
            if (msg != platform::kWmTimer) return 0;
            platform::KillWindowTimer(w, id);
            auto it = later_.find(id);
            if (it == later_.end()) return 0;
            auto [event, event_params] = std::move(it->second);
            later_.erase(it);
            if (event.rfind(kFaultPrefix, 0) == 0) {
              probe::Outer(event.substr(kFaultPrefix.size()));
              return 0;
            }
            RaiseEvent(false, event, event_params->Count ? event_params.get() : nullptr);
            return 0;
          });
    }
    ParamsListPtr copy = NewParamsList();
    copy->AddList(params);
    const uintptr_t id = ++last_timer_;
    later_.emplace(id, std::make_pair(name, std::move(copy)));
    platform::SetWindowTimer(timer_window_, id, static_cast<uint32_t>(after_ms));
  }

  int loads_ = 0, unloads_ = 0, set_items_ = 0, before_items_ = 0, language_changes_ = 0;
  std::atomic<int> items_seen_{-2};  // data calls run on any thread
  std::string LastSeen() {
    std::lock_guard<std::mutex> lock(seen_mu_);
    return last_seen_;
  }
  std::mutex seen_mu_;
  std::string last_seen_;  // the name of the last item data calls saw; seen_mu_
  TModuleTypes last_state_types_ = 0;
  bool options_answer_ = true;
  std::unique_ptr<int> settings_;  // the settings object: reloads since LOAD
  std::string saves_;
  enum DataMode { kCount, kThrow, kResult3, kRows2, kError, kFaultLocked };
  std::atomic<DataMode> data_mode_{kCount};
  platform::WindowHandle timer_window_ = 0;
  uintptr_t last_timer_ = 0;
  std::map<uintptr_t, std::pair<std::string, ParamsListPtr>> later_;
};

const bool registered = [] {
  ModuleStartup();
  RegisterPluginClass([](PPluginCallRec rec) { return std::make_unique<TProbePlugin>(rec); });
  return true;
}();

}  // namespace
}  // namespace tarvel
