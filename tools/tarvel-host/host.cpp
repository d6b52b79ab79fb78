// The stand-in host's run (see host.h). Everything that touches the module
// runs on the main thread: the instance is created there, so its window
// timers tick only while this thread pumps, which it does whenever it is
// not inside a call into the module.
#include "host.h"

#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "feed.h"
#include "feed_reader.h"
#include "output.h"
#include "platform/window.h"

namespace tarvel::host {
namespace {

constexpr uint32_t kInstanceId = 1;
// Any value will do; the module hands it back as wParam of its messages.
constexpr uint32_t kHostTag = 0x7A11;

// The host's main window, which the options dialog belongs to.
constexpr platform::ScreenRect kMainWindowRect{100, 50, 900, 650};
constexpr uint32_t kOptionsCancelledExit = 4;

// Call is one call record with a parameter list of the host's own.
struct Call {
  explicit Call(std::string_view command = {}) : params(NewParamsList()) {
    rec.Marker = kCallRecMarker;
    rec.InstanceId = kInstanceId;
    rec.HostTag = kHostTag;
    rec.ModuleTypes = ModuleTypeBit(mttFilter);
    rec.Params = params.get();
    if (!command.empty()) Param("COMMAND", OleVariant(command));
  }
  Call& Param(std::string_view name, const OleVariant& value) {
    params->Add(name, value);
    return *this;
  }
  TPluginCallRec rec{};
  ParamsListPtr params;
};

OleVariant ToVariant(const FeedValue& v) {
  switch (v.kind) {
    case FeedValue::Kind::kInteger:
      return OleVariant(v.integer);
    case FeedValue::Kind::kNumber:
      return OleVariant(v.number);
    case FeedValue::Kind::kText:
      break;
  }
  return OleVariant(std::string_view(v.text));
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

class Host {
 public:
  Host(const Options& options, HostedModule& module, std::shared_ptr<Printer> printer)
      : options_(options),
        module_(module),
        printer_(std::move(printer)),
        has_language_(options.has_language),
        language_(options.language) {}

  int Run(std::unique_ptr<std::istream> feed) {
    auto handler = [this](platform::WindowHandle, uint32_t msg, uintptr_t wp, intptr_t lp) {
      return OnMessage(msg, wp, lp);
    };
    // The dialog needs a window on the screen to own it; values entered
    // without showing it need no screen at all.
    window_ = options_.options && options_.set_values.empty()
                  ? platform::CreateMainWindow("tarvel-host", kMainWindowRect, handler)
                  : platform::CreateMessageWindow(handler);
    if (!window_) {
      printer_->Err("cannot create the host window");
      return 2;
    }
    auto queue = std::make_shared<FeedQueue>();
    // The options dialog comes before the feed: it is not read until then.
    if (!options_.options || options_.feed_given) {
      StartFeed(std::move(feed), queue);
    } else {
      MutexLock lock(queue->mu);
      queue->done = true;
    }

    int exit_code = 0;
    Call describe;
    if (const char* description = module_->GetModuleDescription(&describe.rec))
      printer_->Err(std::string("loaded ") + description);
    int32_t load = Command("LOAD", [&](Call& c) {
      c.Param("RegistryPath", OleVariant(options_.registry_path))
          .Param("INISectionPrefix", OleVariant(""))
          .Param("ApplicationName", OleVariant("tarvel-host"))
          .Param("INI-FILE", OleVariant(options_.ini));
    });
    if (load != kResultOk) {
      printer_->Err("the module answered LOAD with " + std::to_string(load));
      exit_code = 1;
    } else {
      if (options_.options && !ShowOptions()) exit_code = kOptionsCancelledExit;
      Replay(*queue);
    }
    Command("UNLOAD", [&](Call& c) { c.Param("INI-FILE", OleVariant(options_.ini)); });
    platform::ProcessPendingMessages();
    Call release;
    release.rec.Action = kActionRelease;
    module_->ExecutePluginCommand(&release.rec);
    platform::ProcessPendingMessages();
    platform::DestroyMessageWindow(window_);
    return exit_code;
  }

 private:
  void StartFeed(std::unique_ptr<std::istream> feed, const std::shared_ptr<FeedQueue>& queue) {
    // Detached: a reader blocked on standard input must not hold up the end.
    std::thread(ReadFeed, std::move(feed), options_.csv, queue, printer_, window_).detach();
  }

  // ShowOptions calls ShowOptionsDialog as the host does when its user asks
  // for the options: with the settings file, the language and the main
  // window as owner; --set values go along as OPTIONS-SET. True when the
  // dialog was confirmed.
  bool ShowOptions() {
    AnnounceFeedItems();
    Call c;
    c.Param("INI-FILE", OleVariant(options_.ini))
        .Param("OWNERFORM", OleVariant(static_cast<int32_t>(window_)));
    if (options_.has_language) c.Param("LANGUAGE", OleVariant(options_.language));
    if (!options_.set_values.empty()) {
      std::string lines;
      for (const std::string& v : options_.set_values) lines += v + "\r\n";
      c.Param("OPTIONS-SET", OleVariant(lines));
    }
    module_->ShowOptionsDialog(&c.rec);
    // What the module logged about it comes before the verdict.
    platform::ProcessPendingMessages();
    const uintptr_t answer = c.rec.Output.Data;
    const char* meaning = answer == kOptionsConfirmed   ? "confirmed"
                          : answer == kOptionsCancelled ? "cancelled"
                          : answer == kOptionsNoHandler ? "the module has no options dialog"
                                                        : "no instance";
    printer_->Err("options: " + std::string(meaning));
    return answer == kOptionsConfirmed;
  }

  // AnnounceFeedItems tells the module the variable names of the feed file
  // before the dialog lists them.
  void AnnounceFeedItems() {
    if (!options_.feed_given || options_.feed == "-") return;
    std::ifstream in(options_.feed, std::ios::binary);
    FeedParser parser(options_.csv);
    std::vector<FeedPortion> portions;
    std::vector<FeedError> errors;
    for (std::string line; std::getline(in, line);) parser.Line(line, portions, errors);
    parser.Finish(portions);
    FeedPortion all;
    for (FeedPortion& p : portions)
      for (FeedRow& row : p.rows) all.rows.push_back(std::move(row));
    AnnounceItems(all);
  }

  // Command runs one command; every command names the host window and the
  // language, as the host does.
  template <typename Extra>
  int32_t Command(std::string_view name, Extra extra) {
    Call c(name);
    c.Param("MessagesProcessorHandle",
            OleVariant(static_cast<int32_t>(options_.no_window ? 0 : window_)));
    if (has_language_) c.Param("LANGUAGE", OleVariant(language_));
    extra(c);
    return module_->ExecutePluginCommand(&c.rec);
  }

  void Replay(FeedQueue& queue) {
    const int64_t feed_start = printer_->Ms();
    int64_t due = feed_start;
    for (;;) {
      FeedPortion portion;
      bool have = false;
      platform::RunMessageLoop([&] {
        MutexLock lock(queue.mu);
        if (!queue.portions.empty()) {
          portion = std::move(queue.portions.front());
          queue.portions.pop_front();
          have = true;
        }
        return have || queue.done;
      });
      if (!have) break;
      // Delays count from when the previous portion was due, so a recorded
      // feed keeps its pace however long the module takes.
      due = portion.timing == FeedPortion::Timing::kAt ? feed_start + portion.ms : due + portion.ms;
      platform::RunMessageLoop([&] { return printer_->Ms() >= due; });
      if (portion.language) ChangeLanguage(*portion.language);
      if (!portion.rows.empty()) Send(portion);
      // What the call raised is answered before the next portion, even when
      // that one is due at once.
      platform::ProcessPendingMessages();
    }
    const int64_t end = printer_->Ms() + options_.linger_ms;
    platform::RunMessageLoop([&] { return printer_->Ms() >= end; });
    platform::ProcessPendingMessages();
  }

  // ChangeLanguage makes the host's language another: the following
  // commands carry it, and one carries it at once (a harmless question).
  void ChangeLanguage(const std::string& language) {
    language_ = language;
    has_language_ = true;
    int32_t r = Command("EVENTS-SUPPORT", [](Call& c) { c.Param("RESULT", OleVariant()); });
    if (r != kResultOk)
      printer_->Err("the module answered EVENTS-SUPPORT with " + std::to_string(r));
  }

  // AnnounceItems tells the module the variable names seen so far (SET-ITEMS)
  // when the portion brings new ones.
  void AnnounceItems(const FeedPortion& portion) {
    bool added = false;
    for (const FeedRow& row : portion.rows)
      for (const FeedItem& item : row)
        if (known_.insert(UpperAscii(item.name)).second) {
          items_text_ += (items_text_.empty() ? "" : "\r\n") + std::string("feed|") + item.name;
          added = true;
        }
    if (!added) return;
    int32_t r = Command("SET-ITEMS", [&](Call& c) { c.Param("ITEMS", OleVariant(items_text_)); });
    if (r != kResultOk) printer_->Err("the module answered SET-ITEMS with " + std::to_string(r));
  }

  void Send(const FeedPortion& portion) {
    AnnounceItems(portion);
    ParamsListPtr rows = NewParamsList(kRowsParamsListClass);
    for (const FeedRow& row : portion.rows) {
      for (const FeedItem& item : row) rows->Add(item.name, ToVariant(item.value));
      rows->AddNewRow();
    }
    Call c;
    c.rec.Input.Kind = kValueKindList;
    c.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
    int32_t r = module_->ProcessData(&c.rec);
    if (r < 0)
      printer_->Err("ProcessData answered " + std::to_string(r) + " for the portion at feed line " +
                    std::to_string(portion.line));
  }

  intptr_t OnMessage(uint32_t msg, uintptr_t, intptr_t lparam) {
    if (msg == PLUGIN_MSG_EVENTS) {
      CollectEvents();
    } else if (msg == PLUGIN_MSG_LOG) {
      CollectLog();
    } else if (msg == platform::kWmCopyData && lparam) {
      const auto& data = *reinterpret_cast<const platform::CopyData*>(lparam);
      if (data.dwData != kCopyDataLogBatch && data.dwData != kCopyDataLogLine) return 0;
      std::string_view wire(static_cast<const char*>(data.lpData), data.lpData ? data.cbData : 0);
      ShowLog(wire, LogSource::kCopyData);
      return 1;
    }
    return 0;
  }

  // CollectEvents runs the two-call protocol: the first GetEvents hands out
  // the queue's address, the rows are read in place, the second call with
  // that address empties the queue.
  void CollectEvents() {
    if (collecting_) return;  // a nested notice finds its events in this pass
    collecting_ = true;
    Call first;
    int32_t r = module_->GetEvents(&first.rec);
    if (r == kResultOk && first.rec.Output.Kind == kValueKindList && first.rec.Output.Data) {
      const auto* list = reinterpret_cast<const TvopParamsList*>(first.rec.Output.Data);
      ShowEvents(*list);
      Call second;
      second.rec.Output = first.rec.Output;
      r = module_->GetEvents(&second.rec);
      if (r != kResultOk)
        printer_->Err("the module answered the second GetEvents with " + std::to_string(r));
    } else if (r != kResultOk) {
      printer_->Err("the module answered GetEvents with " + std::to_string(r));
    }
    collecting_ = false;
  }

  ShownValue Shown(const Variant& raw) {
    OleVariant v = OleVariant::CopyOf(raw);
    ShownValue s;
    switch (v.Type()) {
      case platform::VT_EMPTY:
        s.kind = ShownValue::Kind::kEmpty;
        return s;
      case platform::VT_NULL:
        s.kind = ShownValue::Kind::kNull;
        return s;
      case platform::VT_BOOL:
        s.kind = ShownValue::Kind::kBool;
        s.boolean = v.AsBool().value_or(false);
        return s;
      case platform::VT_I1:
      case platform::VT_I2:
      case platform::VT_I4:
      case platform::VT_I8:
      case platform::VT_INT:
      case platform::VT_UI1:
      case platform::VT_UI2:
      case platform::VT_UI4:
      case platform::VT_UINT:
        if (auto n = v.AsInt64()) {
          s.kind = ShownValue::Kind::kInteger;
          s.integer = *n;
          return s;
        }
        break;
      case platform::VT_R4:
      case platform::VT_R8:
        if (auto d = v.AsDouble()) {
          s.kind = ShownValue::Kind::kNumber;
          s.number = *d;
          return s;
        }
        break;
      default:
        break;
    }
    s.kind = ShownValue::Kind::kText;
    s.text = printer_->Shown(v.ToAnsi());
    return s;
  }

  void ShowEvents(const TvopParamsList& list) {
    ShownEvent event;
    bool open = false;
    for (int32_t i = 0; i < list.Count; ++i) {
      const TvopParamsListItem* item = list.Item(i);
      if (!item) continue;
      std::string_view name = item->NameView();
      if (name == kNewRowMarker) {
        if (open) printer_->Out(FormatEvent(printer_->Seconds(), event, printer_->json()));
        event = ShownEvent{};
        open = false;
        continue;
      }
      open = true;
      if (UpperAscii(std::string(name)) == "EVENT-GLOBAL") {
        event.global = true;
      } else if (UpperAscii(std::string(name)) == "EVENT-TYPE") {
        event.name = printer_->Shown(OleVariant::CopyOf(item->Value).ToAnsi());
      } else {
        event.params.emplace_back(printer_->Shown(std::string(name)), Shown(item->Value));
      }
    }
    // A last row without its marker is shown all the same.
    if (open) printer_->Out(FormatEvent(printer_->Seconds(), event, printer_->json()));
  }

  // CollectLog fetches queued lines with GetLogEx, growing the buffer when
  // the module answers 0 with the size it needs. A buffer of size 0 would
  // ask the module to discard the lines, so the buffer is never empty.
  void CollectLog() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      Call c;
      c.rec.Input.Size = static_cast<int32_t>(log_buffer_.size());
      c.rec.Input.Data = reinterpret_cast<uintptr_t>(log_buffer_.data());
      int32_t n = module_->GetLogEx(&c.rec);
      if (n > 0) {
        ShowLog(std::string_view(log_buffer_.data(), static_cast<size_t>(n)), LogSource::kGetLogEx);
        return;
      }
      const uintptr_t needed = c.rec.Output.Data;
      if (needed <= log_buffer_.size()) return;  // nothing queued
      log_buffer_.resize(needed);
    }
  }

  void ShowLog(std::string_view wire, LogSource source) {
    for (const LogLine& line : SplitLogLines(wire))
      printer_->Out(FormatLog(printer_->Seconds(), line.level, line.mark,
                              printer_->Shown(line.text), source, printer_->json()));
  }

  const Options& options_;
  HostedModule& module_;
  std::shared_ptr<Printer> printer_;
  // The language every command carries; a feed may change it.
  bool has_language_;
  std::string language_;
  platform::WindowHandle window_ = 0;
  bool collecting_ = false;
  std::set<std::string> known_;
  std::string items_text_;
  std::vector<char> log_buffer_ = std::vector<char>(4096);
};

}  // namespace

int RunHost(const Options& options, HostedModule& module, std::shared_ptr<Printer> printer,
            std::unique_ptr<std::istream> feed) {
  return Host(options, module, std::move(printer)).Run(std::move(feed));
}

}  // namespace tarvel::host
