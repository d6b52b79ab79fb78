// Weeks of simulated time on a simulated tick clock, across the 2^32 ms
// wrap: clients appear, talk, fall silent for seconds to days and come
// back. A model of the feed predicts every timeout and resume event per
// client and variable; the monitor must raise exactly those, and its memory
// must stay flat once every client has appeared.
//
// The model's rule at a data row of time t for a watch last fed at time
// `last` with timeout T: the watch fell due at last + T (and, when the
// event repeats, at last + 2T, ...); a deadline at t itself is reached
// before the row counts (the timer ticks at its moment, the host's data
// follows), so the row then resumes the watch.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/TimeoutMonitor.h"
#include "monitor/monitor_fakes.h"
#include "platform/clock.h"
#include "support/heap_usage.h"

namespace tarvel {
namespace {

constexpr int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;
constexpr int64_t kStep = 10 * kSecond;  // the host's data comes in 10 s portions
constexpr int kClients = 60;

// CountingSink counts events by "NAME client"; it keeps no journal, so its
// own memory stays flat too.
class CountingSink : public MonitorSink {
 public:
  void RaiseEvent(bool, std::string_view name, const TvopParamsList* params) override {
    std::string client = "missing";
    if (const TvopParamsListItem* item = params ? params->ItemByName("CLIENTID-ITEM") : nullptr) {
      OleVariant id = OleVariant::CopyOf(item->Value);
      client = id.IsText() ? "t:" + id.ToAnsi() : id.ToAnsi();
    }
    std::lock_guard<std::mutex> lock(mu_);
    ++counts_[std::string(name) + " " + client];
    ++total_;
  }
  void SendLog(uint8_t, std::string_view) override {}
  std::map<std::string, int64_t> Counts() const {
    std::lock_guard<std::mutex> lock(mu_);
    return counts_;
  }
  int64_t Total() const {
    std::lock_guard<std::mutex> lock(mu_);
    return total_;
  }

 private:
  mutable std::mutex mu_;
  std::map<std::string, int64_t> counts_;
  int64_t total_ = 0;
};

// Rand: a small deterministic generator (the same run on every build).
class Rand {
 public:
  explicit Rand(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  // Between lo and hi (inclusive), in whole steps.
  int64_t Steps(int64_t lo, int64_t hi) {
    const int64_t n = (hi - lo) / kStep + 1;
    return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(n)) * kStep;
  }

 private:
  uint64_t s_;
};

struct WatchModel {
  bool fed = false;  // wait for data: a watch counts from its first row
  int64_t last = 0;
};

struct Soak {
  bool event_once;
  int64_t days;
  int64_t timeouts = 0, resumes = 0, rows = 0;
  size_t heap_after_first_week = 0, heap_at_end = 0;
};

class MonitorSoak {
 public:
  explicit MonitorSoak(Soak& run)
      : run_(run), clock_(0xFFFFFFFFu - static_cast<uint32_t>(2 * kDay)) {}

  void Run() {
    // Repeating events come every timeout period of a silence: longer
    // periods keep their number (and the run's length) moderate.
    const int64_t scale = run_.event_once ? 1 : 5;
    timeouts_ms_[0] = 2 * kMinute * scale;
    timeouts_ms_[1] = 7 * kMinute * scale;
    MonitorSettings s;
    s.rows = {{"a", timeouts_ms_[0], "A"}, {"b", timeouts_ms_[1], "B"}};
    s.event_once = run_.event_once;
    s.event_resume = true;
    s.wait_data = true;
    monitor_ = std::make_unique<TimeoutMonitor>(
        sink_, timer_, std::make_shared<const MonitorSettings>(s), MonitorTexts{}, clock_);
    monitor_->ScheduleCheck();

    Rand rand(run_.event_once ? 7 : 11);
    struct Client {
      OleVariant id;
      std::string key;  // as CountingSink renders the ID
      bool talking = false;
      int64_t next_change = 0, next_send = 0, period = 0;
      int sends = 0;
      WatchModel watch[2];
    };
    std::vector<Client> clients(kClients);
    for (int i = 0; i < kClients; ++i) {
      Client& c = clients[static_cast<size_t>(i)];
      if (i % 3 == 2) {
        c.id = OleVariant("client-" + std::to_string(i));
        c.key = "t:client-" + std::to_string(i);
      } else {
        c.id = OleVariant(int32_t{1000 + i});
        c.key = std::to_string(1000 + i);
      }
      // Clients appear over the first two days.
      c.next_change = rand.Steps(0, 2 * kDay);
    }

    const int64_t end = run_.days * kDay;
    for (int64_t t = 0; t <= end; t += kStep) {
      Advance(t);
      ParamsListPtr portion = NewParamsList(kRowsParamsListClass);
      for (Client& c : clients) {
        if (t >= c.next_change) {
          c.talking = !c.talking;
          if (c.talking) {
            c.next_change = t + rand.Steps(5 * kMinute, 3 * kHour);
            c.period = rand.Steps(20 * kSecond, 90 * kSecond);
            c.next_send = t;
          } else {
            const uint64_t kind = rand.Next() % 10;
            c.next_change = t + (kind < 6   ? rand.Steps(30 * kSecond, 8 * kMinute)
                                 : kind < 9 ? rand.Steps(10 * kMinute, 6 * kHour)
                                            : rand.Steps(kDay, 3 * kDay));
          }
        }
        if (!c.talking || t < c.next_send) continue;
        c.next_send = t + c.period;
        const bool with_b = c.sends++ % 3 == 0;
        if (portion->Count > 0) portion->AddNewRow();
        portion->Add("CLIENTID", c.id);
        portion->Add("A", OleVariant(int32_t{1}));
        Feed(c.key, c.watch[0], 0, t);
        if (with_b) {
          portion->Add("b", OleVariant(2.5));
          Feed(c.key, c.watch[1], 1, t);
        }
        ++run_.rows;
      }
      if (portion->Count > 0) monitor_->ProcessData(portion.get());
      if (t == 7 * kDay) run_.heap_after_first_week = test::HeapInUseBytes();
    }
    // The silences still open at the end.
    for (Client& c : clients)
      for (int w = 0; w < 2; ++w) Silence(c.key, c.watch[w], w, end);
    run_.heap_at_end = test::HeapInUseBytes();
    EXPECT_EQ(monitor_->ClientCount(), static_cast<size_t>(kClients));
  }

  std::map<std::string, int64_t> Expected() const { return expected_; }
  std::map<std::string, int64_t> Seen() const { return sink_.Counts(); }

 private:
  // Advance moves the clock to t, ticking whenever the monitor's timer
  // comes due on the way, as the module's timer does.
  void Advance(int64_t t) {
    for (;;) {
      ASSERT_TRUE(timer_.Armed()) << "the monitor left its timer stopped";
      const int64_t due = now_ + std::max<int64_t>(0, timer_.MsUntilTick());
      if (due > t) break;
      clock_.Advance(static_cast<uint32_t>(due - now_));
      now_ = due;
      monitor_->ChkTimeoutsTimer();
    }
    clock_.Advance(static_cast<uint32_t>(t - now_));
    now_ = t;
  }

  // Silence counts the timeouts of a watch that stays silent until t
  // (deadlines at t included).
  int64_t Silence(const std::string& key, const WatchModel& w, int row, int64_t t) {
    if (!w.fed) return 0;
    const int64_t timeout = timeouts_ms_[row];
    int64_t fired = 0;
    if (t - w.last >= timeout) fired = run_.event_once ? 1 : (t - w.last) / timeout;
    if (fired) {
      expected_[std::string(row == 0 ? "A " : "B ") + key] += fired;
      run_.timeouts += fired;
    }
    return fired;
  }

  void Feed(const std::string& key, WatchModel& w, int row, int64_t t) {
    if (Silence(key, w, row, t) > 0) {
      expected_[std::string(row == 0 ? "A-RESUME " : "B-RESUME ") + key] += 1;
      ++run_.resumes;
    }
    w.fed = true;
    w.last = t;
  }

  Soak& run_;
  platform::SimulatedTicks clock_;
  int64_t now_ = 0;
  CountingSink sink_;
  test::RecordingTimer timer_{clock_};
  std::unique_ptr<TimeoutMonitor> monitor_;
  int64_t timeouts_ms_[2] = {};
  std::map<std::string, int64_t> expected_;
};

void RunSoak(Soak& run) {
  MonitorSoak soak(run);
  soak.Run();
  const auto expected = soak.Expected();
  const auto seen = soak.Seen();
  // Compared client by client, so a difference names its client.
  for (const auto& [key, n] : expected) EXPECT_EQ(seen.count(key) ? seen.at(key) : 0, n) << key;
  for (const auto& [key, n] : seen) EXPECT_TRUE(expected.count(key)) << key << " x" << n;
  EXPECT_GT(run.timeouts, 1000);
  EXPECT_GT(run.resumes, 1000);
  std::printf("soak %s: %" PRId64 " days, %" PRId64 " rows, %" PRId64 " timeouts, %" PRId64
              " resumes; heap %zu bytes after the first week, %zu at the end\n",
              run.event_once ? "event once" : "repeating", run.days, run.rows, run.timeouts,
              run.resumes, run.heap_after_first_week, run.heap_at_end);
  // Every client exists after the first week; from then on nothing grows.
  EXPECT_LE(run.heap_at_end, run.heap_after_first_week + 64 * 1024);
}

TEST(MonitorSoak, ThreeWeeksOfClientsComingAndGoingEventOnce) {
  Soak run{true, 21};
  RunSoak(run);
}

TEST(MonitorSoak, ThreeWeeksOfClientsComingAndGoingRepeating) {
  Soak run{false, 21};
  RunSoak(run);
}

}  // namespace
}  // namespace tarvel
