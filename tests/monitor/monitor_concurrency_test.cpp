// The timeout monitor under concurrent data, ticks and settings reloads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "monitor/TimeoutMonitor.h"
#include "monitor/monitor_fakes.h"
#include "platform/thread.h"

namespace tarvel {
namespace {

using test::Data;
using test::DataRow;
using test::JournalSink;
using test::RecordingTimer;

constexpr int kClients = 12;

// ExpectTimeoutsAndResumesAlternate checks that the events of each key
// (key_of(event, is_resume)) run timeout, resume, timeout, ...: never two
// timeouts of one silence, never a resume without one. Returns the runs by
// key, 'T' for a timeout and 'R' for a resume.
template <typename KeyOf>
std::map<std::string, std::string> ExpectTimeoutsAndResumesAlternate(
    const std::vector<test::SeenEvent>& events, KeyOf key_of) {
  std::map<std::string, std::string> sequences;
  for (const test::SeenEvent& e : events) {
    const bool resume = e.name.size() > 7 && e.name.ends_with("-RESUME");
    sequences[key_of(e, resume)] += resume ? 'R' : 'T';
  }
  EXPECT_FALSE(sequences.empty());
  for (const auto& [key, seq] : sequences) {
    SCOPED_TRACE(key + " " + seq);
    for (size_t i = 0; i < seq.size(); ++i) EXPECT_EQ(seq[i], i % 2 == 0 ? 'T' : 'R');
  }
  return sequences;
}

// Settings of generation g name their events "A<g>" and "B<g>", so events
// can be told apart by the settings that raised them.
std::shared_ptr<const MonitorSettings> Generation(int g) {
  MonitorSettings s;
  // (Appended rather than "A" + text: GCC 12 warns falsely about the latter.)
  std::string a = "A", b = "B";
  a.append(std::to_string(g));
  b.append(std::to_string(g));
  s.rows = {{"a", 8, a}, {"b", 13, b}};
  s.event_resume = true;
  return std::make_shared<const MonitorSettings>(s);
}

// A monitor on the manual clock with the first settings generation, its
// timer started.
class MonitorConcurrency : public ::testing::Test {
 protected:
  MonitorConcurrency() { monitor_.ScheduleCheck(); }

  platform::ManualTickClock clock_{1000};
  JournalSink sink_;
  RecordingTimer timer_;
  TimeoutMonitor monitor_{sink_, timer_, Generation(0)};
};

TEST_F(MonitorConcurrency, EveryTimeoutIsRaisedOncePerSilence) {
  constexpr int kFeeders = 3;
  constexpr int kPortionsEach = 1500;
  constexpr int kReloads = 5;
  std::atomic<bool> stop{false};
  std::atomic<int> last_generation{0};
  std::atomic<int> progress{0};  // portions fed so far

  std::vector<std::thread> feeders;
  for (int f = 0; f < kFeeders; ++f) {
    feeders.emplace_back([&, f] {
      std::mt19937 rng(1234 + f);
      for (int p = 0; p < kPortionsEach; ++p) {
        ParamsListPtr data = NewParamsList(kRowsParamsListClass);
        const int rows = 1 + static_cast<int>(rng() % 3);
        for (int r = 0; r < rows; ++r) {
          if (r > 0) data->AddNewRow();
          // The feeders share a window of clients that moves on, so clients
          // fall silent and come back.
          const int32_t client = static_cast<int32_t>((p / 10 + rng() % 4) % kClients);
          data->Add("ClientId", OleVariant(client));
          const unsigned vars = rng() % 8;
          if (vars & 1) data->Add("A", OleVariant(1));
          if (vars & 2) data->Add("b", OleVariant(2));
          if (vars & 4) data->Add("other", OleVariant(3));
        }
        monitor_.ProcessData(data.get());
        progress.fetch_add(1);
        if (p % 2 == 0) clock_.Advance(1);
        if (p % 8 == 0) platform::YieldThread();
      }
    });
  }
  std::thread ticker([&] {
    while (!stop.load()) {
      monitor_.ChkTimeoutsTimer();
      platform::YieldThread();
    }
  });
  std::thread reloader([&] {
    // Reload at even steps of the feeding.
    for (int g = 1; g <= kReloads; ++g) {
      while (!stop.load() && progress.load() < g * kFeeders * kPortionsEach / (kReloads + 1))
        platform::YieldThread();
      if (stop.load()) break;
      monitor_.ReplaceSettings(Generation(g));
      last_generation.store(g);
    }
  });
  for (std::thread& t : feeders) t.join();
  stop.store(true);
  ticker.join();
  reloader.join();

  // Every client of the current settings speaks once more, then all fall
  // silent until every running watch has timed out.
  for (int c = 0; c < kClients; ++c) {
    ParamsListPtr data = Data({{{"CLIENTID", OleVariant(c)}, {"a", OleVariant(1)}}});
    monitor_.ProcessData(data.get());
  }
  clock_.Advance(100);
  monitor_.ChkTimeoutsTimer();

  // Per settings generation, client and variable.
  const std::map<std::string, std::string> sequences =
      ExpectTimeoutsAndResumesAlternate(sink_.Events(), [](const test::SeenEvent& e, bool resume) {
        const std::string base = resume ? e.name.substr(0, e.name.size() - 7) : e.name;
        return base.substr(1) + " " + e.client + " " + base[0];
      });

  // The current settings' silences have all been reported, each once.
  const std::string current = std::to_string(last_generation.load());
  for (int c = 0; c < kClients; ++c) {
    for (size_t row = 0; row < 2; ++row) {
      std::optional<WatchStatus> w = monitor_.FindWatch(OleVariant(c), row);
      if (!w || w->waiting_for_data) continue;
      SCOPED_TRACE("client " + std::to_string(c) + " row " + std::to_string(row));
      EXPECT_TRUE(w->timed_out && w->fired);
      auto it = sequences.find(current + " i4:" + std::to_string(c) + (row == 0 ? " A" : " B"));
      ASSERT_NE(it, sequences.end());
      EXPECT_EQ(it->second.back(), 'T');
    }
  }
  EXPECT_TRUE(timer_.Armed());
}

TEST_F(MonitorConcurrency, ANewClientMetByManyThreadsGetsOneRecord) {
  constexpr int kThreads = 4;
  constexpr int kIds = 300;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) platform::YieldThread();
      for (int i = 0; i < kIds; ++i) {
        // Each thread meets the IDs in another order and kind.
        const int id = (t % 2 == 0) ? i : kIds - 1 - i;
        ParamsListPtr data =
            Data({{{"CLIENTID", t < 2 ? OleVariant(id) : OleVariant(static_cast<double>(id))},
                   {"a", OleVariant(1)}}});
        monitor_.ProcessData(data.get());
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(monitor_.ClientCount(), static_cast<size_t>(kIds));
}

// Past some thousands of clients the intake looks records up ahead of time
// without the shard locks; many feeders then meet clients being created and
// index arrays growing, while ticks fire and the settings are replaced.
TEST_F(MonitorConcurrency, ManyClientsKeepOneRecordEachUnderLoad) {
  constexpr int32_t kIds = 20000;  // well past the look-ahead threshold
  constexpr int kFeeders = 3;
  constexpr int kRows = 16;
  constexpr int kSweeps = 3;
  constexpr int kPortionsEach = kSweeps * kIds / (kRows * kFeeders) + 1;
  std::atomic<bool> stop{false};
  std::atomic<int> progress{0};  // portions fed so far
  std::atomic<int> last_generation{0};

  std::vector<std::thread> feeders;
  for (int f = 0; f < kFeeders; ++f) {
    feeders.emplace_back([&, f] {
      std::mt19937 rng(99 + f);
      for (int p = 0; p < kPortionsEach; ++p) {
        ParamsListPtr data = NewParamsList(kRowsParamsListClass);
        for (int r = 0; r < kRows; ++r) {
          if (r > 0) data->AddNewRow();
          // The feeders sweep the IDs together; every fourth row is a client
          // met at random, as a double (the same client as its integer).
          const bool random = r % 4 == 3;
          const int32_t id =
              random ? static_cast<int32_t>(rng() % kIds) : ((p * kRows + r) * kFeeders + f) % kIds;
          data->Add("ClientId", random ? OleVariant(static_cast<double>(id)) : OleVariant(id));
          if (id % 64 == 0) data->Add("a", OleVariant(1));
          data->Add("other", OleVariant(2));
        }
        monitor_.ProcessData(data.get());
        progress.fetch_add(1);
        if (p % 16 == 0) clock_.Advance(1);
      }
    });
  }
  std::thread ticker([&] {
    while (!stop.load()) {
      monitor_.ChkTimeoutsTimer();
      platform::YieldThread();
    }
  });
  std::thread reloader([&] {
    // After the first sweep: the later sweeps fill the new table past the
    // threshold again while the feeders run.
    while (!stop.load() && progress.load() < kPortionsEach * kFeeders / kSweeps)
      platform::YieldThread();
    if (stop.load()) return;
    monitor_.ReplaceSettings(Generation(1));
    last_generation.store(1);
  });
  for (std::thread& t : feeders) t.join();
  stop.store(true);
  ticker.join();
  reloader.join();
  ASSERT_EQ(last_generation.load(), 1);

  // Every ID once more, alone: a client created twice would count twice.
  for (int32_t id = 0; id < kIds; ++id) {
    ParamsListPtr data = Data({{{"CLIENTID", OleVariant(id)}}});
    monitor_.ProcessData(data.get());
  }
  EXPECT_EQ(monitor_.ClientCount(), static_cast<size_t>(kIds));

  // Per settings generation and client (only "a" is fed).
  clock_.Advance(100);
  monitor_.ChkTimeoutsTimer();
  ExpectTimeoutsAndResumesAlternate(sink_.Events(), [](const test::SeenEvent& e, bool) {
    EXPECT_EQ(e.name[0], 'A') << e.name;
    // Rows name a client as an integer or a double: the number is the key.
    return e.name.substr(1, 1) + " " + e.client.substr(e.client.find(':') + 1);
  });
  // The current settings' silences have all been reported.
  size_t fed = 0;
  for (int32_t id = 0; id < kIds; id += 64) {
    std::optional<WatchStatus> w = monitor_.FindWatch(OleVariant(id), 0);
    ASSERT_TRUE(w.has_value()) << id;
    if (w->waiting_for_data) continue;
    ++fed;
    EXPECT_TRUE(w->timed_out && w->fired) << id;
  }
  EXPECT_GT(fed, 0u);
  EXPECT_TRUE(timer_.Armed());
}

}  // namespace
}  // namespace tarvel
