// The timeout monitor under concurrent data, ticks and settings reloads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Common/ReaderPins.h"
#include "monitor/ClientIndex.h"
#include "monitor/EventOutbox.h"
#include "monitor/TimeoutMonitor.h"
#include "monitor/monitor_fakes.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/window.h"

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

// A monitor on a simulated clock with the first settings generation, its
// timer started.
class MonitorConcurrency : public ::testing::Test {
 protected:
  MonitorConcurrency() { monitor_.ScheduleCheck(); }

  platform::SimulatedTicks clock_{1000};
  JournalSink sink_;
  RecordingTimer timer_{clock_};
  TimeoutMonitor monitor_{sink_, timer_, Generation(0), MonitorTexts{}, clock_};
};

// Log lines go to a window, as the host gets them, and the thread that owns
// that window is one of the feeders: every line is answered while the
// feeders, ticks and reloads run.
TEST_F(MonitorConcurrency, EveryTimeoutIsRaisedOncePerSilence) {
  constexpr int kFeeders = 3;
  constexpr int kPortionsEach = 1500;
  constexpr int kReloads = 5;
  std::atomic<bool> stop{false};
  std::atomic<bool> window_done{false};
  std::atomic<int> last_generation{0};
  std::atomic<int> progress{0};  // portions fed so far
  std::atomic<int> copied_lines{0};

  std::vector<std::thread> feeders;
  for (int f = 0; f < kFeeders; ++f) {
    feeders.emplace_back([&, f] {
      // Feeder 0 owns the window the log lines go to and answers it between
      // its portions, as a host thread that also feeds data does.
      platform::WindowHandle window = 0;
      if (f == 0) {
        window = platform::CreateMessageWindow(
            [&](platform::WindowHandle, uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
              if (msg == platform::kWmCopyData) copied_lines.fetch_add(1);
              return 1;
            });
        ASSERT_NE(window, 0u);
        sink_.SendLogsTo(window);
      }
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
        if (window) platform::ProcessPendingMessages();
        if (p % 8 == 0) platform::YieldThread();
      }
      if (window) {
        platform::RunMessageLoop([&] { return window_done.load(); }, 1);
        sink_.SendLogsTo(0);
        platform::ProcessPendingMessages();
        platform::DestroyMessageWindow(window);
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
  while (progress.load() < kFeeders * kPortionsEach) platform::SleepMs(1);
  stop.store(true);
  ticker.join();
  reloader.join();
  window_done.store(true);
  for (std::thread& t : feeders) t.join();
  EXPECT_EQ(sink_.Unanswered(), 0) << "log lines the window's thread could not take at once";
  EXPECT_GT(copied_lines.load(), 0);

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

// A thread that posts while another one delivers leaves its notice to the
// deliverer and returns at once, even while the deliverer waits in a sink
// call; the deliverer then raises it, in order.
TEST(EventOutboxConcurrency, AThreadNeverWaitsForAnotherOnesDelivery) {
  MonitorSettings settings;
  settings.rows = {{"a", 1000, "EA"}};
  auto owner = std::make_shared<int>(0);
  ClientIdView seven, eight;
  seven.Assign(OleVariant(7).Raw());
  eight.Assign(OleVariant(8).Raw());
  TClientListItem first(seven), second(eight);

  // A sink whose first log line waits (at most 10 s) until it is let go.
  class HoldingSink : public JournalSink {
   public:
    void SendLog(uint8_t level, std::string_view text) override {
      if (!held.exchange(true)) {
        holding.store(true);
        const uint32_t start = platform::SystemTickCount();
        while (!release.load() && platform::TickDiff(platform::SystemTickCount(), start) < 10000)
          platform::SleepMs(1);
        holding.store(false);
      }
      JournalSink::SendLog(level, text);
    }
    std::atomic<bool> held{false}, holding{false}, release{false};
  } sink;

  EventOutbox outbox;
  const MonitorTexts texts;
  std::thread deliverer([&] {
    Notice n;
    n.client = &first;
    outbox.Post(owner, settings, &n, 1);
    outbox.Deliver(sink, texts);
  });
  while (!sink.holding.load()) platform::YieldThread();
  Notice n;
  n.client = &second;
  outbox.Post(owner, settings, &n, 1);
  outbox.Deliver(sink, texts);
  EXPECT_TRUE(sink.holding.load()) << "returned only after the other delivery";
  sink.release.store(true);
  deliverer.join();
  EXPECT_EQ(sink.Take(),
            (std::vector<std::string>{"log1 Timeout: 7", "event EA i4:7 bstr:a",
                                      "log1 Generating event: EA", "log1 Timeout: 8",
                                      "event EA i4:8 bstr:a", "log1 Generating event: EA"}));
}

// Looks without the lock (as the intake's fetching ahead does) while the
// index grows: what they find is a record of the client's shard, which the
// lock then confirms. With pins, the looks hold one (as data calls do), the
// writer holds one for most of its creations, and a third thread releases
// outgrown arrays (as the tick does): no look may meet a released array
// (the sanitizers would see it), and in the end only about the arrays in
// use are held.
TEST(ClientIndexConcurrency, LooksWithoutTheLockWhileTheIndexGrows) {
  // Some 273 a shard: each shard's slots end at 512.
  constexpr int32_t kClients = 70000;
  for (const bool with_pins : {false, true}) {
    SCOPED_TRACE(with_pins ? "with pins" : "without pins");
    ReaderPins pins;
    ClientIndex index(with_pins ? &pins : nullptr);
    std::atomic<int32_t> created{0};
    auto find_or_create = [&](int32_t i, bool* made) {
      ClientIdView id;
      id.Assign(OleVariant(i).Raw());
      ClientIndex::Shard& shard = index.ShardOf(id.Hash());
      ShardHold lock(shard.mu);
      return index.FindOrCreate(shard, id, nullptr, made);
    };
    std::thread writer([&] {
      for (int32_t i = 0; i < kClients; i += 64) {
        std::optional<ReaderPins::Pin> pin;
        if ((i / 64) % 4 != 0) pin.emplace(pins.Enter());
        for (int32_t k = i; k < i + 64 && k < kClients; ++k) {
          bool made = false;
          find_or_create(k, &made);
          created.store(k + 1);
        }
      }
    });
    std::thread releaser([&] {
      while (created.load() < kClients) {
        index.ReleaseRetired();
        std::this_thread::yield();
      }
    });
    std::vector<std::thread> readers;
    std::atomic<int> confirmed{0};
    for (int r = 0; r < 2; ++r) {
      readers.emplace_back([&, r] {
        std::mt19937 rng(5 + r);
        while (created.load() < kClients) {
          const ReaderPins::Pin pin = pins.Enter();
          for (int look = 0; look < 16; ++look) {
            const int32_t i = static_cast<int32_t>(rng() % kClients);
            ClientIdView id;
            id.Assign(OleVariant(i).Raw());
            index.PrefetchSlot(id.Hash());
            TClientListItem* candidate = index.Candidate(id.Hash());
            ClientIndex::Shard& shard = index.ShardOf(id.Hash());
            ShardHold lock(shard.mu);
            TClientListItem* found = index.Find(shard, id);
            if (i < created.load()) {
              ASSERT_NE(found, nullptr) << i;
            }
            if (!candidate) continue;
            // The candidate is filed in this shard under its own ID.
            ClientIdView own;
            own.Assign(candidate->ClientId.ToVariant().Raw());
            ASSERT_EQ(index.Find(shard, own), candidate);
            if (candidate == found) confirmed.fetch_add(1);
          }
        }
      });
    }
    writer.join();
    releaser.join();
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(index.ClientCount(), static_cast<size_t>(kClients));
    EXPECT_GT(confirmed.load(), 0);
    const ClientIndex::Memory m = index.MemoryUse();
    if (with_pins) {
      EXPECT_LE(m.slot_blocks, m.slots_in_use + m.slots_in_use / 8);
    } else {
      EXPECT_GE(m.slot_blocks, m.slots_in_use + m.slots_in_use / 2);
    }
  }
}

}  // namespace
}  // namespace tarvel
