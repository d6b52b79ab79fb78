// tarvel-host: a stand-in for the data-logging host. It loads a module,
// owns a message window on its main thread, feeds the module data portions
// from a feed file or standard input at the pace the feed gives, and prints
// the events and log lines the module hands back. See README.md.
//
// Everything that touches the module runs on the main thread: the instance
// is created there, so its window timers tick only while this thread pumps,
// which it does whenever it is not inside a call into the module. A second
// thread only reads and parses the feed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "feed.h"
#include "module_api.h"
#include "output.h"
#include "platform/text.h"
#include "platform/window.h"

namespace tarvel::host {
namespace {

constexpr uint32_t kInstanceId = 1;
// Any value will do; the module hands it back as wParam of its messages.
constexpr uint32_t kHostTag = 0x7A11;
// Posted by the feed reader so the main thread looks at the queue at once.
constexpr uint32_t kFeedWakeMessage = platform::kWmUser + 100;

constexpr char kUsage[] = R"(Usage: tarvel-host [options]
       tarvel-host options [--set NAME=VALUE ...] [options]

Loads a data-logging filter module, feeds it data portions and prints the
events and log lines it hands back, one line each.

"options" first shows the module's options dialog, owned by a main window
of the host (win32), as the host does when its user asks for the options;
the feed, when one is given with --feed, is replayed after the dialog
closed, so the running module shows what the new settings do. With --set
the values are entered into the dialog's form and confirmed without
showing it (both builds), so the dialog's own rules apply.

Options:
  --module PATH         module to load (default: tarvel.dll / libtarvel.so
                        beside this program)
  --ini FILE            settings place: INI file handed over with LOAD
  --registry-path KEY   settings place: registry key handed over with LOAD
  --language CODE       language handed over with every command
  --feed FILE           data feed to replay (default: standard input, "-")
  --csv                 the feed starts with a CSV header line
  --json                print one JSON object per line instead of text
  --linger MS           keep running MS milliseconds after the feed ends, so
                        pending timeouts can fire (default 0)
  --set NAME=VALUE      with "options": a setting to enter (repeatable). NAME
                        is a control (var1, val1, type1, event1, chkWaitData,
                        edtClientVar, ...) or a stored name (Var1, Type1,
                        "Wait data", "Client variable", ...); a unit is its
                        name or 0..3, a flag true or false
  --help                show this text

Feed format (one item per line; see README.md):
  NAME=VALUE NAME="text"   one row; several rows make one data portion
  (blank line) or ---      ends the data portion
  +MS  or  @delay MS       wait MS milliseconds before the next portion
  @at MS                   send the next portion MS ms after the feed starts
  @language CODE           from here on the host's language is CODE
  @csv / @pairs            switch to CSV lines (header first) / back
  # comment
  Values that read as integers or numbers are passed as such, others as text.

Output:
  +1.234s EVENT NAME PARAM=VALUE ...     an event collected with GetEvents
  +1.240s LOG LEVEL TEXT                 a log line (WM_COPYDATA or GetLogEx)

Exit codes: 0 done, 1 the module refused LOAD, 2 bad options, a feed that
cannot be opened, or a module that cannot be loaded or lacks an export,
4 the options dialog was cancelled or the values were refused.
)";

struct Options {
  std::string module;
  std::string ini;
  std::string registry_path;
  std::string language;
  bool has_language = false;
  std::string feed = "-";
  bool csv = false;
  bool json = false;
  uint32_t linger_ms = 0;
  // For tests: hand the module no window (MessagesProcessorHandle 0).
  bool no_window = false;
  // "options": show the options dialog (or enter the --set values) first.
  bool options = false;
  std::vector<std::string> set_values;
  bool feed_given = false;
};

// The host's main window, which the options dialog belongs to.
constexpr platform::ScreenRect kMainWindowRect{100, 50, 900, 650};
constexpr uint32_t kOptionsCancelledExit = 4;

// Printer writes whole lines; the feed thread reports errors through it too.
class Printer {
 public:
  explicit Printer(bool json) : json_(json), start_(std::chrono::steady_clock::now()) {}

  bool json() const { return json_; }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  int64_t Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
  }
  void Out(const std::string& line) { Write(stdout, line); }
  void Err(const std::string& line) { Write(stderr, "tarvel-host: " + line); }

  // Shown converts module text (ANSI) for output: UTF-8 for JSON and on
  // POSIX terminals; a Windows console shows the ANSI text as it is.
  std::string Shown(const std::string& ansi) const {
#ifdef _WIN32
    if (!json_) return ansi;
#endif
    std::string out;
    for (char16_t c : platform::AnsiToWide(ansi)) {
      // The code page has no surrogate pairs, so each unit is a character.
      auto u = static_cast<uint32_t>(c);
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      }
    }
    return out;
  }

 private:
  void Write(FILE* f, const std::string& line) {
    std::lock_guard lock(mu_);
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fflush(f);
  }
  const bool json_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mu_;
};

// FeedQueue hands parsed portions from the reader thread to the main thread.
struct FeedQueue {
  std::mutex mu;
  std::deque<FeedPortion> portions;  // guarded by mu
  bool done = false;                 // guarded by mu
};

void ReadFeed(std::unique_ptr<std::istream> owned, bool csv, std::shared_ptr<FeedQueue> queue,
              std::shared_ptr<Printer> printer, platform::WindowHandle wake) {
  std::istream& in = owned ? *owned : std::cin;
  FeedParser parser(csv);
  std::string line;
  auto hand_over = [&](std::vector<FeedPortion>& portions, bool done) {
    std::lock_guard lock(queue->mu);
    for (auto& p : portions) queue->portions.push_back(std::move(p));
    queue->done = done;
    portions.clear();
  };
  std::vector<FeedPortion> portions;
  std::vector<FeedError> errors;
  while (std::getline(in, line)) {
    parser.Line(line, portions, errors);
    for (const FeedError& e : errors)
      printer->Err("feed line " + std::to_string(e.line) + ": " + e.message + " (skipped)");
    errors.clear();
    if (!portions.empty()) {
      hand_over(portions, false);
      platform::PostMessageTo(wake, kFeedWakeMessage, 0, 0);
    }
  }
  parser.Finish(portions);
  hand_over(portions, true);
  platform::PostMessageTo(wake, kFeedWakeMessage, 0, 0);
}

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
    if (!options_.options || options_.feed_given)
      StartFeed(std::move(feed), queue);
    else
      queue->done = true;

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
        std::lock_guard lock(queue.mu);
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

// ParseOptions returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options& o) {
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "options") {
    o.options = true;
    o.feed.clear();
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inline_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inline_value = true;
    }
    auto take = [&](std::string& out) {
      if (inline_value) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto missing = [&] {
      std::fprintf(stderr, "tarvel-host: %s needs a value (see --help)\n", arg.c_str());
      return 2;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--module") {
      if (!take(o.module)) return missing();
    } else if (arg == "--ini") {
      if (!take(o.ini)) return missing();
    } else if (arg == "--registry-path") {
      if (!take(o.registry_path)) return missing();
    } else if (arg == "--language") {
      if (!take(o.language)) return missing();
      o.has_language = true;
    } else if (arg == "--feed") {
      if (!take(o.feed)) return missing();
      o.feed_given = true;
    } else if (arg == "--set") {
      std::string v;
      if (!take(v)) return missing();
      if (!o.options) {
        std::fprintf(stderr, "tarvel-host: --set goes with \"options\" (see --help)\n");
        return 2;
      }
      if (v.find('=') == std::string::npos || v.front() == '=') {
        std::fprintf(stderr, "tarvel-host: --set wants NAME=VALUE, got \"%s\"\n", v.c_str());
        return 2;
      }
      o.set_values.push_back(v);
    } else if (arg == "--linger") {
      std::string ms;
      if (!take(ms)) return missing();
      char* end = nullptr;
      unsigned long n = std::strtoul(ms.c_str(), &end, 10);
      if (ms.empty() || *end || n > 0x7FFFFFFFul || ms[0] == '-') {
        std::fprintf(stderr, "tarvel-host: --linger wants milliseconds, got \"%s\"\n", ms.c_str());
        return 2;
      }
      o.linger_ms = static_cast<uint32_t>(n);
    } else if (arg == "--json" && !inline_value) {
      o.json = true;
    } else if (arg == "--csv" && !inline_value) {
      o.csv = true;
    } else if (arg == "--no-window" && !inline_value) {
      o.no_window = true;
    } else {
      std::fprintf(stderr, "tarvel-host: unknown option %s (see --help)\n", argv[i]);
      return 2;
    }
  }
  return -1;
}

int Main(int argc, char** argv) {
#ifdef _WIN32
  // Lines end in LF on every platform, so programs reading us see the same.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  Options options;
  if (int code = ParseOptions(argc, argv, options); code >= 0) return code;
  if (options.module.empty()) options.module = DefaultModulePath();
#ifndef _WIN32
  if (options.options && options.set_values.empty()) {
    std::fputs("tarvel-host: this build has no options dialog; enter values with --set\n", stderr);
    return 2;
  }
#endif

  std::unique_ptr<std::istream> feed;
  if (options.options && !options.feed_given) {
    // No feed: nothing to replay after the options.
  } else if (options.feed != "-") {
    auto file = std::make_unique<std::ifstream>(options.feed, std::ios::binary);
    if (!*file) {
      std::fprintf(stderr, "tarvel-host: cannot open feed %s: %s\n", options.feed.c_str(),
                   std::strerror(errno));
      return 2;
    }
    feed = std::move(file);
  }

  HostedModule module;
  std::string error;
  if (!module.Load(options.module, error)) {
    std::fprintf(stderr, "tarvel-host: %s\n", error.c_str());
    return 2;
  }
  auto printer = std::make_shared<Printer>(options.json);
  int code = Host(options, module, printer).Run(std::move(feed));
  module.Unload();
  return code;
}

}  // namespace
}  // namespace tarvel::host

int main(int argc, char** argv) {
  try {
    return tarvel::host::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvel-host: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tarvel-host: unexpected failure\n");
  }
  return 1;
}
