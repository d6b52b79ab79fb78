// bench_host: the module as the host runs it. A benchmark host that loads
// the shipped module by path (tarvel.dll under Wine, libtarvel.so natively),
// hands it settings through LOAD, builds its own rows lists and measures
// through the exports:
//  - intake per row at 1, 10^3 and 10^6 clients (uniform and skewed mixes),
//    and beside it the same rows fed to the monitor engine linked into this
//    program, so the framework's share shows as a ratio;
//  - rows per second with two threads feeding different portions at once,
//    against one thread, at 10^6 clients;
//  - a burst of 10^5 timeouts end to end: the module's tick, its log lines
//    (WM_COPYDATA or GetLogEx after message 1809) and events (message 1811,
//    GetEvents twice) until the host has collected every one;
//  - private memory per client at 10^6 clients;
//  - what one crash report costs: a command of the probe module (the test
//    module beside the product) that fails with a C++ exception or a
//    processor fault, reported to the host's log at level 0 with its call
//    stack, against one that fails without a report.
// The last lines read "goal NAME VALUE UNIT LIMIT pass|fail"; a goal whose
// name ends in "_min" is met at or above its limit, the others at or below.
//
// Everything that touches the host window runs on the main thread, which
// creates the instances (so their check timers tick there when it pumps).
//
// Usage: bench_host [--quick] [--module PATH] [--only intake|threads|small|burst|report]
// (--only runs one section, for profiling; its goals alone are printed)
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"
#include "Plugins/vopPluginTypes.h"
#include "bench_rows.h"
#include "module_api.h"
#include "monitor/TimeoutMonitor.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/prefetch.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace tarvel {
namespace {

using Clock = std::chrono::steady_clock;
using bench::Feed;
using bench::MakeFeed;
using bench::Sequential;
using bench::SkewedIds;
using bench::UniformIds;
using host::HostedModule;

constexpr int kRowsPerPortion = 16;
constexpr uint32_t kHostTag = 0xBE7C;
const std::vector<std::string> kVars = {"V1", "v2", "v3", "v4"};

double NsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

#ifdef _WIN32
constexpr bool kWin32 = true;
#else
constexpr bool kWin32 = false;
#endif

// ---- Rows the host builds ----

// One data portion of 16 rows, a list of this program's own, as a host
// builds it, ended by an empty row.
Feed MakeHostFeed() {
  Feed f = MakeFeed(kRowsPerPortion, kVars);
  f.list->AddNewRow();
  return f;
}

// FeedRows feeds `rows` rows whose client IDs come from ids (from `next` on,
// round and round) through feed_one; ns per row.
template <class FeedOne>
double FeedRows(Feed& f, const std::vector<int32_t>& ids, size_t rows, FeedOne feed_one,
                size_t next = 0) {
  const auto t0 = Clock::now();
  for (size_t done = 0; done < rows; done += f.ids.size()) {
    for (Variant* id : f.ids) {
      id->lVal = ids[next];
      if (++next == ids.size()) next = 0;
    }
    feed_one(f.list.get());
  }
  return NsSince(t0) / static_cast<double>(rows);
}

constexpr int kRuns = 5;

double Median(std::array<double, kRuns> runs) {
  std::sort(runs.begin(), runs.end());
  return runs[kRuns / 2];
}

// SideBySide runs each measure kRuns times, taking turns, so that a change
// in the machine's load meets all of them alike; the median of each.
template <class... Measure>
std::array<double, sizeof...(Measure)> SideBySide(Measure... measure) {
  std::array<std::array<double, kRuns>, sizeof...(Measure)> runs;
  for (int r = 0; r < kRuns; ++r) {
    size_t k = 0;
    ((runs[k++][static_cast<size_t>(r)] = measure()), ...);
  }
  std::array<double, sizeof...(Measure)> medians;
  for (size_t k = 0; k < medians.size(); ++k) medians[k] = Median(runs[k]);
  return medians;
}

// OneThread and TwoThreads: rows per second of one thread feeding rows/2
// rows, and of two threads feeding rows/2 rows each at once (each its own
// list, the two halves of ids).
template <class FeedOne>
double OneThread(Feed& f, const std::vector<int32_t>& ids, size_t rows, FeedOne feed_one) {
  const auto t0 = Clock::now();
  FeedRows(f, ids, rows / 2, feed_one, 0);
  return static_cast<double>(rows / 2) / (NsSince(t0) * 1e-9);
}

template <class FeedOne>
double TwoThreads(Feed& a, Feed& b, const std::vector<int32_t>& ids_a,
                  const std::vector<int32_t>& ids_b, size_t rows, FeedOne feed_one) {
  const auto t0 = Clock::now();
  std::thread first([&] { FeedRows(a, ids_a, rows / 2, feed_one, 0); });
  std::thread second(
      [&] { FeedRows(b, ids_b, rows / 2, feed_one, ids_b.size() > rows / 2 ? rows / 2 : 0); });
  first.join();
  second.join();
  return static_cast<double>(rows) / (NsSince(t0) * 1e-9);
}

// MachineScaling: what two threads gain over one on this machine now, with
// nothing in common between them: the ceilings of the two-thread figures
// while other programs compete for the cores.
//  - arithmetic: a chain of multiplications, in registers;
//  - memory: records of 64 bytes read and written at random places in an
//    array of its own per thread, fetched ahead in batches, the shape of
//    intake at many clients (the same kind of pages as the engine's).
struct Ceilings {
  double arithmetic = 0;
  double memory = 0;
};

Ceilings MachineScaling(size_t records) {
  auto spin = [] {
    uint64_t x = 1;
    for (int i = 0; i < 100000000; ++i) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return x;
  };
  struct alignas(64) Record {
    uint64_t word[8];
  };
  auto make_array = [records] {
    const size_t bytes = records * sizeof(Record);
    auto* array = static_cast<Record*>(::operator new (bytes, std::align_val_t{2u << 20}));
#ifdef __linux__
    madvise(array, bytes, MADV_HUGEPAGE);
#endif
    std::memset(static_cast<void*>(array), 1, bytes);
    return std::unique_ptr<Record[], void (*)(Record*)>(
        array, [](Record* p) { ::operator delete (p, std::align_val_t{2u << 20}); });
  };
  auto first = make_array(), second = make_array();
  const std::vector<int32_t> at = UniformIds(2000000, static_cast<int32_t>(records), 7);
  auto walk = [&at](Record* array) {
    uint64_t sum = 0;
    for (size_t i = 0; i < at.size(); i += 32) {
      for (size_t k = 0; k < 32; ++k) platform::Prefetch(&array[at[i + k]]);
      for (size_t k = 0; k < 32; ++k) {
        Record& r = array[at[i + k]];
        r.word[1] += r.word[0] * 0x9e3779b97f4a7c15ULL;
        sum += r.word[1] >> 7;
      }
    }
    return sum;
  };
  std::atomic<uint64_t> sink{0};
  auto timed = [](auto work) {
    const auto t0 = Clock::now();
    work();
    return NsSince(t0);
  };
  const auto runs = SideBySide([&] { return timed([&] { sink += spin(); }); },
                               [&] {
                                 return timed([&] {
                                   std::thread a([&] { sink += spin(); });
                                   std::thread b([&] { sink += spin(); });
                                   a.join();
                                   b.join();
                                 });
                               },
                               [&] { return timed([&] { sink += walk(first.get()); }); },
                               [&] {
                                 return timed([&] {
                                   std::thread a([&] { sink += walk(first.get()); });
                                   std::thread b([&] { sink += walk(second.get()); });
                                   a.join();
                                   b.join();
                                 });
                               });
  return {2 * runs[0] / runs[1], 2 * runs[2] / runs[3]};
}

// ---- The module through its exports ----

// Settings: four watched variables with one timeout, written where LOAD
// points the module.
std::string WriteSettings(const std::filesystem::path& dir, const char* name, int type, int value) {
  std::filesystem::path file = dir / name;
  std::ofstream out(file, std::ios::binary);
  out << "[Common]\r\n";
  for (int i = 1; i <= 4; ++i) {
    out << "Var" << i << "=" << kVars[static_cast<size_t>(i - 1)] << "\r\n";
    out << "Type" << i << "=" << type << "\r\nVal" << i << "=" << value << "\r\n";
    out << "Event" << i << "=EV" << i << "\r\n";
  }
  out << "Wait data=True\r\nEvent once=True\r\nCheck client=True\r\nClient variable=CLIENTID\r\n";
  return file.string();
}

// BenchHost: the host's side. It owns the host window (on the main thread),
// answers message 1811 with GetEvents twice and 1809 with GetLogEx, takes
// WM_COPYDATA log lines, and counts what it received.
class BenchHost {
 public:
  explicit BenchHost(HostedModule& module) : module_(module) {
    window_ = platform::CreateMessageWindow(
        [this](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t lparam) -> intptr_t {
          return OnMessage(msg, lparam);
        });
  }
  ~BenchHost() { platform::DestroyMessageWindow(window_); }
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;
  bool ok() const { return window_ != 0; }

  // Load makes a new instance and sends LOAD with the settings file; its id,
  // or 0 when LOAD failed. The host collects this instance's events.
  uint32_t Load(const std::string& ini) {
    const uint32_t id = ++next_id_;
    if (Command(id, "LOAD", ini) != kResultOk) {
      Release(id, ini);
      return 0;
    }
    collecting_id_ = id;
    return id;
  }
  // Release sends UNLOAD and then the release request.
  void Release(uint32_t id, const std::string& ini) {
    Command(id, "UNLOAD", ini);
    TPluginCallRec rec = Record(id);
    rec.Action = kActionRelease;
    module_->ExecutePluginCommand(&rec);
    platform::ProcessPendingMessages();
  }
  // ProcessData hands one portion over; any thread may call it.
  void ProcessData(uint32_t id, TvopParamsList* rows) {
    TPluginCallRec rec = Record(id);
    rec.Input.Kind = kValueKindList;
    rec.Input.Data = reinterpret_cast<uintptr_t>(rows);
    if (module_->ProcessData(&rec) < 0) failures_.fetch_add(1, std::memory_order_relaxed);
  }
  int failures() const { return failures_.load(); }

  // Collected counts what the host has received.
  struct Collected {
    size_t events = 0;
    size_t log_lines = 0;
  };
  const Collected& collected() const { return collected_; }
  void ResetCollected() { collected_ = {}; }

 private:
  TPluginCallRec Record(uint32_t id) {
    TPluginCallRec rec{};
    rec.Marker = kCallRecMarker;
    rec.InstanceId = id;
    rec.HostTag = kHostTag;
    rec.ModuleTypes = ModuleTypeBit(mttFilter);
    rec.Params = no_params_.get();
    return rec;
  }

  int32_t Command(uint32_t id, const char* command, const std::string& ini) {
    ParamsListPtr params = NewParamsList();
    params->Add("COMMAND", OleVariant(command));
    params->Add("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(window_)));
    params->Add("RegistryPath", OleVariant(""));
    params->Add("INISectionPrefix", OleVariant(""));
    params->Add("INI-FILE", OleVariant(ini));
    TPluginCallRec rec = Record(id);
    rec.Params = params.get();
    return module_->ExecutePluginCommand(&rec);
  }

  intptr_t OnMessage(uint32_t msg, intptr_t lparam) {
    if (msg == PLUGIN_MSG_EVENTS) {
      CollectEvents();
    } else if (msg == PLUGIN_MSG_LOG) {
      CollectLog();
    } else if (msg == platform::kWmCopyData && lparam) {
      const auto& data = *reinterpret_cast<const platform::CopyData*>(lparam);
      if (data.dwData == kCopyDataLogLine) {
        ++collected_.log_lines;
      } else if (data.dwData == kCopyDataLogBatch) {
        collected_.log_lines += CountLines(static_cast<const char*>(data.lpData), data.cbData);
      } else {
        return 0;
      }
      return 1;
    }
    return 0;
  }

  static size_t CountLines(const char* text, size_t size) {
    return text ? static_cast<size_t>(std::count(text, text + size, '\n')) : 0;
  }

  // CollectEvents: the first GetEvents hands out the queue, its rows are
  // read in place, the second call with that address empties it.
  void CollectEvents() {
    TPluginCallRec first = Record(collecting_id_);
    if (module_->GetEvents(&first) != kResultOk || first.Output.Kind != kValueKindList ||
        !first.Output.Data)
      return;
    const auto* list = reinterpret_cast<const TvopParamsList*>(first.Output.Data);
    for (int32_t i = 0; i < list->Count; ++i) {
      const TvopParamsListItem* item = list->Item(i);
      if (item && item->NameView() == kNewRowMarker) ++collected_.events;
    }
    TPluginCallRec second = Record(collecting_id_);
    second.Output = first.Output;
    module_->GetEvents(&second);
  }

  // CollectLog fetches the queued lines, growing the buffer when the module
  // answers 0 with the size it needs.
  void CollectLog() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      TPluginCallRec rec = Record(collecting_id_);
      rec.Input.Size = static_cast<int32_t>(log_buffer_.size());
      rec.Input.Data = reinterpret_cast<uintptr_t>(log_buffer_.data());
      const int32_t n = module_->GetLogEx(&rec);
      if (n > 0) {
        collected_.log_lines += CountLines(log_buffer_.data(), static_cast<size_t>(n));
        return;
      }
      if (rec.Output.Data <= log_buffer_.size()) return;  // nothing queued
      log_buffer_.resize(rec.Output.Data);
    }
  }

  HostedModule& module_;
  platform::WindowHandle window_ = 0;
  uint32_t next_id_ = 0;
  uint32_t collecting_id_ = 0;
  ParamsListPtr no_params_ = NewParamsList();
  std::vector<char> log_buffer_ = std::vector<char>(1 << 16);
  std::atomic<int> failures_{0};
  Collected collected_;
};

// ---- The engine linked into this program, for the framework's share ----

class NullSink : public MonitorSink {
 public:
  void RaiseEvent(bool, std::string_view, const TvopParamsList*) override { ++events; }
  void SendLog(uint8_t, std::string_view) override {}
  size_t events = 0;
};

class NullTimer : public MonitorTimer {
 public:
  void ScheduleTick(uint32_t) override {}
  void StopTicks() override {}
};

std::shared_ptr<const MonitorSettings> EngineSettings(int64_t timeout_ms) {
  auto s = std::make_shared<MonitorSettings>();
  for (size_t i = 0; i < kVars.size(); ++i) {
    std::string name = kVars[i];
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    s->rows.push_back({name, timeout_ms, "EV" + std::to_string(i + 1)});
  }
  return s;
}

// ---- Goals ----

struct Goal {
  std::string name;
  double value;
  const char* unit;
  double limit;
  bool Met() const {
    const bool at_least = name.size() > 4 && name.compare(name.size() - 4, 4, "_min") == 0;
    return at_least ? value >= limit : value <= limit;
  }
};

struct Sizes {
  int32_t big;            // the large client count (10^6)
  size_t rows;            // rows per intake run
  int32_t burst_clients;  // x 4 watches
};

// Sections a run can be limited to (--only), for profiling one of them.
struct Sections {
  bool intake = true;   // memory and intake at 10^6 clients
  bool threads = true;  // two feeding threads at 10^6 clients
  bool small = true;    // intake at 1 and 10^3 clients
  bool burst = true;    // the burst of timeouts
  bool report = true;   // the cost of a crash report
};

// Figures: what the goals are made of (0: not measured in this run).
struct Figures {
  double bytes_per_client = 0;
  double exports_big[2] = {0, 0};  // ns per row, uniform and skewed
  double engine_big[2] = {0, 0};
  Ceilings ceilings;
  double exports_rps[2] = {0, 0};  // one thread, two threads, at 10^6 clients
  double engine_rps[2] = {0, 0};
  double exports_rps_1e3[2] = {0, 0};  // the same at 10^3 clients, in the caches
  double engine_rps_1e3[2] = {0, 0};
  double burst_ns = 0;
};

class Bench {
 public:
  Bench(BenchHost& host, const Sizes& sizes, const std::filesystem::path& dir)
      : host_(host),
        sizes_(sizes),
        hour_ini_(WriteSettings(dir, "hour.ini", 3, 1)),
        second_ini_(WriteSettings(dir, "second.ini", 1, 1)) {}

  // Big: memory per client and intake at 10^6 clients, through the exports
  // and straight into the engine, and the two feeding threads.
  bool Big(const Sections& only, Figures& fig) {
    platform::ProcessPendingMessages();
    const size_t before = platform::PrivateBytes();
    const uint32_t id = host_.Load(hour_ini_);
    if (!id) {
      std::fprintf(stderr, "bench_host: the module refused LOAD\n");
      return false;
    }
    auto through_exports = [&](TvopParamsList* rows) { host_.ProcessData(id, rows); };
    const double create_ns =
        FeedRows(feed_, Sequential(sizes_.big), static_cast<size_t>(sizes_.big), through_exports);
    fig.bytes_per_client = static_cast<double>(platform::PrivateBytes() - before) / sizes_.big;
    std::printf("memory, %d clients with 4 watches: %.1f B private memory per client\n", sizes_.big,
                fig.bytes_per_client);
    std::printf("  creation of %d clients through the exports: %.1f ns per row\n", sizes_.big,
                create_ns);

    NullSink sink;
    NullTimer timer;
    TimeoutMonitor engine(sink, timer, EngineSettings(3600000));
    auto direct = [&](TvopParamsList* rows) { engine.ProcessData(rows); };
    FeedRows(feed_, Sequential(sizes_.big), static_cast<size_t>(sizes_.big), direct);
    // Where the bytes go, by the engine's own account (the same code as
    // the module's, in this program).
    const TimeoutMonitor::MemoryUse use = engine.Memory();
    const double n = sizes_.big;
    std::printf(
        "  of which, by the engine's own account per client: records %.1f B, index slots %.1f B "
        "in use (%.1f B with the blocks they are carved from), deadline queue %.1f B; "
        "the rest %.1f B\n\n",
        use.records / n, use.index_in_use / n, use.index_blocks / n, use.queue / n,
        fig.bytes_per_client - (use.records + use.index_blocks + use.queue) / n);

    if (only.intake) {
      const std::vector<int32_t> uniform = UniformIds(sizes_.rows, sizes_.big, 1);
      const std::vector<int32_t> skewed = SkewedIds(sizes_.rows, sizes_.big, 2);
      const auto ns =
          SideBySide([&] { return FeedRows(feed_, uniform, sizes_.rows, through_exports); },
                     [&] { return FeedRows(feed_, uniform, sizes_.rows, direct); },
                     [&] { return FeedRows(feed_, skewed, sizes_.rows, through_exports); },
                     [&] { return FeedRows(feed_, skewed, sizes_.rows, direct); });
      fig.exports_big[0] = ns[0];
      fig.engine_big[0] = ns[1];
      fig.exports_big[1] = ns[2];
      fig.engine_big[1] = ns[3];
    }
    if (only.threads) {
      const std::vector<int32_t> uniform = UniformIds(sizes_.rows, sizes_.big, 5);
      Feed second = MakeHostFeed();
      fig.ceilings = MachineScaling(static_cast<size_t>(sizes_.big));
      const auto rps = SideBySide(
          [&] { return OneThread(feed_, uniform, sizes_.rows, through_exports); },
          [&] { return TwoThreads(feed_, second, uniform, uniform, sizes_.rows, through_exports); },
          [&] { return OneThread(feed_, uniform, sizes_.rows, direct); },
          [&] { return TwoThreads(feed_, second, uniform, uniform, sizes_.rows, direct); });
      fig.exports_rps[0] = rps[0];
      fig.exports_rps[1] = rps[1];
      fig.engine_rps[0] = rps[2];
      fig.engine_rps[1] = rps[3];
    }
    host_.Release(id, hour_ini_);
    return true;
  }

  // ThreadsInTheCaches: one feeding thread against two at 10^3 clients,
  // whose records stay in the caches, each thread feeding clients of its
  // own: what the module's own sharing costs.
  void ThreadsInTheCaches(Figures& fig) {
    constexpr int32_t kClients = 1000;
    const uint32_t id = host_.Load(hour_ini_);
    auto through_exports = [&](TvopParamsList* r) { host_.ProcessData(id, r); };
    FeedRows(feed_, Sequential(kClients), kClients, through_exports);
    NullSink sink;
    NullTimer timer;
    TimeoutMonitor engine(sink, timer, EngineSettings(3600000));
    auto direct = [&](TvopParamsList* r) { engine.ProcessData(r); };
    FeedRows(feed_, Sequential(kClients), kClients, direct);
    std::vector<int32_t> lower = UniformIds(sizes_.rows / 4, kClients / 2, 6), upper = lower;
    for (int32_t& id : upper) id += kClients / 2;
    Feed second = MakeHostFeed();
    const size_t rows = sizes_.rows / 2;
    const auto rps =
        SideBySide([&] { return OneThread(feed_, lower, rows, through_exports); },
                   [&] { return TwoThreads(feed_, second, lower, upper, rows, through_exports); },
                   [&] { return OneThread(feed_, lower, rows, direct); },
                   [&] { return TwoThreads(feed_, second, lower, upper, rows, direct); });
    fig.exports_rps_1e3[0] = rps[0];
    fig.exports_rps_1e3[1] = rps[1];
    fig.engine_rps_1e3[0] = rps[2];
    fig.engine_rps_1e3[1] = rps[3];
    host_.Release(id, hour_ini_);
  }

  // Small: intake at 1 and 10^3 clients; prints its lines.
  void Small() {
    for (int32_t n : {1, 1000}) {
      for (int mix = 0; mix < 2; ++mix) {
        const size_t rows = sizes_.rows / 4;
        const std::vector<int32_t> ids = mix == 0 ? UniformIds(rows, n, 3) : SkewedIds(rows, n, 4);
        const uint32_t id = host_.Load(hour_ini_);
        auto through_exports = [&](TvopParamsList* r) { host_.ProcessData(id, r); };
        FeedRows(feed_, Sequential(n), static_cast<size_t>(n), through_exports);
        NullSink sink;
        NullTimer timer;
        TimeoutMonitor engine(sink, timer, EngineSettings(3600000));
        auto direct = [&](TvopParamsList* r) { engine.ProcessData(r); };
        FeedRows(feed_, Sequential(n), static_cast<size_t>(n), direct);
        const auto ns = SideBySide([&] { return FeedRows(feed_, ids, rows, through_exports); },
                                   [&] { return FeedRows(feed_, ids, rows, direct); });
        host_.Release(id, hour_ini_);
        char what[64];
        std::snprintf(what, sizeof what, "%d clients, %s", n, mix ? "skewed" : "uniform");
        ShowIntake(what, ns[0], ns[1]);
      }
    }
  }

  static void ShowIntake(const char* what, double exports, double engine) {
    std::printf("  %-34s %9.1f ns | %9.1f ns | %5.2fx\n", what, exports, engine, exports / engine);
  }

  // Burst: 10^5 timeouts end to end; ns per timeout, median of kRuns.
  double Burst() {
    const size_t timeouts = 4u * static_cast<size_t>(sizes_.burst_clients);
    size_t events = 0, lines = 0;
    auto burst = [&] {
      const uint32_t id = host_.Load(second_ini_);
      auto through_exports = [&](TvopParamsList* r) { host_.ProcessData(id, r); };
      FeedRows(feed_, Sequential(sizes_.burst_clients), static_cast<size_t>(sizes_.burst_clients),
               through_exports);
      // Every deadline passes before the host pumps again, so one tick
      // finds them all due.
      const uint32_t all_due = platform::SystemTickCount() + 1000 + 50;
      while (platform::TickDiff(all_due, platform::SystemTickCount()) > 0) platform::SleepMs(5);
      host_.ResetCollected();
      const auto t0 = Clock::now();
      // Ends when everything has arrived, or after a minute with what did.
      const auto give_up = Clock::now() + std::chrono::seconds(60);
      platform::RunMessageLoop(
          [&] {
            return (host_.collected().events >= timeouts &&
                    host_.collected().log_lines >= 2 * timeouts) ||
                   Clock::now() > give_up;
          },
          1);
      platform::ProcessPendingMessages();  // what is still announced belongs to the burst
      const double ns = NsSince(t0) / static_cast<double>(timeouts);
      events = host_.collected().events;
      lines = host_.collected().log_lines;
      host_.Release(id, second_ini_);
      return ns;
    };
    burst();  // the first grows the queues, as a host that ran for a while has them
    const double ns = SideBySide(burst)[0];
    std::printf(
        "a burst of %zu timeouts, end to end (tick, log lines, events, GetEvents, "
        "GetLogEx): %.1f ns per timeout (%zu events, %zu log lines collected)\n\n",
        timeouts, ns, events, lines);
    if (events < timeouts || lines < 2 * timeouts) {
      std::printf("  NOT EVERYTHING ARRIVED: %zu of %zu events, %zu of %zu log lines\n\n", events,
                  timeouts, lines, 2 * timeouts);
      return 1e9;
    }
    return ns;
  }

 private:
  BenchHost& host_;
  const Sizes sizes_;
  const std::string hour_ini_, second_ini_;
  Feed feed_ = MakeHostFeed();
};

// ReportCost: what a failing command of the probe module costs, with and
// without its crash report: ns per command, median of kRuns runs of
// `calls` commands each, taking turns. The report is built and queued
// (AddLog, message 1809); the host fetches the queue between runs.
struct ReportCost {
  double unreported = 0;  // a custom command that throws: no report
  double exception = 0;   // a C++ exception thrown three calls deep, reported
  double fault = 0;       // a division by zero three calls deep, reported
};

bool MeasureReports(const std::string& probe_path, int calls, ReportCost& cost) {
  HostedModule probe;
  std::string error;
  if (!probe.Load(probe_path, error)) {
    std::fprintf(stderr, "bench_host: the probe module: %s\n", error.c_str());
    return false;
  }
  platform::WindowHandle window = platform::CreateMessageWindow(
      [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; });
  constexpr uint32_t kId = 1;
  auto command = [&](const char* name, const char* param, const char* value) {
    ParamsListPtr params = NewParamsList();
    params->Add("COMMAND", OleVariant(name));
    params->Add("MessagesProcessorHandle", OleVariant(static_cast<int32_t>(window)));
    if (param) params->Add(param, OleVariant(value));
    TPluginCallRec rec{};
    rec.Marker = kCallRecMarker;
    rec.InstanceId = kId;
    rec.Params = params.get();
    return probe->ExecutePluginCommand(&rec);
  };
  auto drain = [&] {
    platform::ProcessPendingMessages();
    TPluginCallRec rec{};
    rec.Marker = kCallRecMarker;
    rec.InstanceId = kId;
    probe->GetLogEx(&rec);  // Input.Size 0: the queue is emptied
  };
  bool ok = command("LOAD", nullptr, nullptr) == kResultOk;
  auto timed = [&](const char* name, const char* param, const char* value) {
    drain();
    const auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) ok = command(name, param, value) == kResultException && ok;
    return NsSince(t0) / calls;
  };
  const auto ns = SideBySide([&] { return timed("THROW", nullptr, nullptr); },
                             [&] { return timed("SET-ITEMS", "ITEMS", "s|FAULT-throw"); },
                             [&] { return timed("FAULT", "KIND", "divide"); });
  drain();
  command("UNLOAD", nullptr, nullptr);
  platform::DestroyMessageWindow(window);
  cost = {ns[0], ns[1], ns[2]};
  if (!ok) std::fprintf(stderr, "bench_host: a probe command did not fail as it should\n");
  return ok;
}

int Main(bool quick, const std::string& module_path, const Sections& only) {
  const Sizes sizes = quick ? Sizes{100000, 400000, 2500} : Sizes{1000000, 4000000, 25000};
  const char* build = kWin32 ? "win32" : "native";
  std::printf("bench_host (%s): %s\n%d rows per portion, 4 watched variables, 1 unwatched item\n\n",
              build, module_path.c_str(), kRowsPerPortion);

  HostedModule module;
  std::string error;
  if (!module.Load(module_path, error)) {
    std::fprintf(stderr, "bench_host: %s\n", error.c_str());
    return 2;
  }
  BenchHost host(module);
  if (!host.ok()) {
    std::fprintf(stderr, "bench_host: cannot create the host window\n");
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("bench_host_" + std::to_string(platform::CurrentThreadId()));
  std::filesystem::create_directories(dir);
  Bench bench(host, sizes, dir);
  Figures fig;

  if ((only.intake || only.threads) && !bench.Big(only, fig)) return 1;
  if (only.threads) bench.ThreadsInTheCaches(fig);
  if (only.intake || only.small)
    std::printf(
        "intake, ns per row (median of %d runs, taking turns): through the exports | engine "
        "direct | ratio\n",
        kRuns);
  if (only.small) bench.Small();
  for (int mix = 0; mix < 2 && only.intake; ++mix) {
    char what[64];
    std::snprintf(what, sizeof what, "%d clients, %s", sizes.big, mix ? "skewed" : "uniform");
    Bench::ShowIntake(what, fig.exports_big[mix], fig.engine_big[mix]);
  }
  if (only.threads) {
    std::printf(
        "  two threads at %d clients, uniform: %.2f M rows/s against %.2f M rows/s on one "
        "(%.2fx)\n",
        sizes.big, fig.exports_rps[1] * 1e-6, fig.exports_rps[0] * 1e-6,
        fig.exports_rps[1] / fig.exports_rps[0]);
    std::printf(
        "  the same straight into the engine: %.2f M rows/s against %.2f M rows/s (%.2fx)\n",
        fig.engine_rps[1] * 1e-6, fig.engine_rps[0] * 1e-6, fig.engine_rps[1] / fig.engine_rps[0]);
    std::printf(
        "  two threads at 1000 clients (in the caches, 500 each): %.2f M rows/s against %.2f M "
        "rows/s "
        "(%.2fx); straight into the engine %.2fx\n",
        fig.exports_rps_1e3[1] * 1e-6, fig.exports_rps_1e3[0] * 1e-6,
        fig.exports_rps_1e3[1] / fig.exports_rps_1e3[0],
        fig.engine_rps_1e3[1] / fig.engine_rps_1e3[0]);
    std::printf(
        "  this machine now, two threads with nothing in common against one: %.2fx in arithmetic, "
        "%.2fx in random memory access over %d records of 64 B each (the ceilings of the above)\n",
        fig.ceilings.arithmetic, fig.ceilings.memory, sizes.big);
  }
  std::printf("\n");
  if (only.burst) fig.burst_ns = bench.Burst();
  if (host.failures()) std::printf("ProcessData failed %d times\n", host.failures());
  ReportCost report;
  if (only.report) {
    // The probe module sits beside the product, named after it.
    namespace fs = std::filesystem;
    const fs::path product(module_path);
    const fs::path probe =
        product.parent_path() / (product.stem().string() + "_probe" + product.extension().string());
    if (MeasureReports(probe.string(), quick ? 100 : 500, report)) {
      std::printf(
          "a failing command of the probe module, ns per command (median of %d runs): without a "
          "report %.0f; a C++ exception reported %.0f (%.0f more); a processor fault reported "
          "%.0f (%.0f more)\n\n",
          kRuns, report.unreported, report.exception, report.exception - report.unreported,
          report.fault, report.fault - report.unreported);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  std::vector<Goal> goals;
  const double exports_worst = std::max(fig.exports_big[0], fig.exports_big[1]);
  const double scaling = fig.exports_rps[1] / fig.exports_rps[0];
  if constexpr (kWin32) {
    if (only.intake) {
      goals.push_back({"dll_intake_ns_per_row_1e6", exports_worst, "ns", 150});
      goals.push_back({"dll_memory_bytes_per_client_1e6", fig.bytes_per_client, "B", 80});
    }
    if (only.threads) goals.push_back({"dll_two_thread_speedup_1e6_min", scaling, "x", 1.6});
    if (only.burst) goals.push_back({"dll_burst_ns_per_timeout_1e5", fig.burst_ns, "ns", 2000});
  } else {
    if (only.intake)
      goals.push_back(
          {"exports_vs_engine_intake_1e6",
           std::max(fig.exports_big[0] / fig.engine_big[0], fig.exports_big[1] / fig.engine_big[1]),
           "x", 1.25});
    if (only.threads) goals.push_back({"two_thread_speedup_1e6_min", scaling, "x", 1.6});
    if (only.burst) goals.push_back({"burst_ns_per_timeout_1e5", fig.burst_ns, "ns", 1000});
  }
  for (const Goal& g : goals)
    std::printf("goal %s %.2f %s %g %s\n", g.name.c_str(), g.value, g.unit, g.limit,
                g.Met() ? "pass" : "fail");
  return 0;
}

}  // namespace
}  // namespace tarvel

int main(int argc, char** argv) {
  bool quick = false;
  std::string module_path;
  tarvel::Sections only;
  bool usage = false;
  for (int i = 1; i < argc && !usage; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
      module_path = argv[++i];
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      const std::string section = argv[++i];
      only = {section == "intake", section == "threads", section == "small", section == "burst",
              section == "report"};
      usage = !only.intake && !only.threads && !only.small && !only.burst && !only.report;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(
        stderr,
        "usage: bench_host [--quick] [--module PATH] [--only intake|threads|small|burst|report]\n");
    return 2;
  }
  if (module_path.empty()) {
    // The module sits beside this program, or one folder up from bench/.
    namespace fs = std::filesystem;
    const fs::path beside = tarvel::host::DefaultModulePath();
    const fs::path above = beside.parent_path().parent_path() / beside.filename();
    module_path = (fs::exists(beside) || !fs::exists(above) ? beside : above).string();
  }
  try {
    return tarvel::Main(quick, module_path, only);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_host: %s\n", e.what());
  }
  return 1;
}
