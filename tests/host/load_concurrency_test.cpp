// The shipped module under load for five seconds (TARVEL_LOAD_SECONDS sets
// another length; the build's "load-long" target runs ten minutes): three
// host threads hand it data of overlapping clients, the check timer fires
// on this thread, a collector thread takes the events with the host's two
// calls, and the settings are reloaded now and then. Clients talk and fall
// silent in turns, so timeouts and resumes keep coming.
//
// No event may be lost or doubled: every event the module raises is also
// announced by its own log line ("Generating event: NAME"), which reaches
// the host by another road (WM_COPYDATA, or GetLogEx after message 1809),
// so per event name the events collected must equal those lines. Per
// client, a resume only ever follows a timeout.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "host/product_host.h"

namespace tarvel::test {
namespace {

constexpr uint32_t kId = 1;
constexpr int kFeeders = 3, kClients = 30;
// Clients talk for 2 s and are silent for 2 s, in turns shifted per client;
// the watch is 500 ms, so each silence is one timeout and one resume.
constexpr uint32_t kTalkMs = 2000, kWatch = 500;
const char* const kSettings =
    "[Common]\r\nVar1=T\r\nType1=0\r\nVal1=500\r\nEvent1=LOST\r\nResume event=True\r\n";

int LoadSeconds() {
  const char* s = std::getenv("TARVEL_LOAD_SECONDS");
  const int n = s ? std::atoi(s) : 0;
  return n > 0 ? n : 5;
}

bool Talking(int client, uint32_t ms) {
  return ((ms + static_cast<uint32_t>(client) * 137u) / kTalkMs) % 2 == 0;
}

TEST(HostLoad, DataTimerCollectionAndReloadsTogether) {
  ProductHost host;
  ASSERT_TRUE(host.ok()) << host.module.error();
  ASSERT_EQ(host.Load(kId, kSettings), 0);
  const uint32_t start = platform::SystemTickCount();
  const uint32_t run_ms = static_cast<uint32_t>(LoadSeconds()) * 1000;
  auto elapsed = [&] { return static_cast<uint32_t>(platform::SystemTickCount() - start); };
  std::atomic<bool> stop_feeding{false}, stop_collecting{false};
  std::atomic<int64_t> portions{0};
  // Failures on other threads are counted and checked here (gtest is not
  // thread-safe in every build).
  std::atomic<int> failed_calls{0};

  // Feeder f hands over clients [10 f, 10 f + 20): neighbours overlap.
  std::vector<std::thread> feeders;
  for (int f = 0; f < kFeeders; ++f) {
    feeders.emplace_back([&, f] {
      while (!stop_feeding) {
        Portion portion;
        for (int c = 10 * f; c < 10 * f + 20; ++c) {
          const int client = c % kClients;
          if (!Talking(client, elapsed())) continue;
          portion.Item("CLIENTID", OleVariant(client)).Item("T", OleVariant(1)).EndRow();
        }
        failed_calls += host.Feed(kId, portion) != 0;
        ++portions;
        platform::SleepMs(10);
      }
    });
  }
  std::mutex events_mu;
  std::vector<EventRow> events;
  std::thread collector([&] {
    for (bool last = false; !last; platform::SleepMs(5)) {
      last = stop_collecting.load();
      std::vector<EventRow> got = CollectEvents(host.module, kId, &failed_calls);
      std::lock_guard<std::mutex> lock(events_mu);
      for (EventRow& e : got) events.push_back(std::move(e));
    }
  });

  // This thread is the host's window thread: it pumps (the module's timer
  // ticks here), fetches queued log lines on 1809, and reloads settings.
  std::map<std::string, int64_t> announced;  // event name -> log lines
  auto take_messages = [&] {
    for (const auto& m : host.window.Take()) {
      std::vector<std::string> lines;
      if (m.msg == platform::kWmCopyData) lines = ProductHost::SplitLogText(m.text);
      if (m.msg == PLUGIN_MSG_LOG) lines = host.FetchLog(kId);
      for (const std::string& l : lines) {
        const size_t at = l.find("Generating event: ");
        if (at != std::string::npos) ++announced[l.substr(at + 18)];
      }
    }
  };
  int reloads = 0;
  uint32_t next_reload = 5000;
  while (elapsed() < run_ms) {
    take_messages();
    if (elapsed() >= next_reload) {
      EXPECT_EQ(host.Command(kId, "LOAD-SETTINGS-NOW"), -2);
      ++reloads;
      next_reload += 5000;
    }
    platform::SleepMs(2);
  }
  stop_feeding = true;
  for (auto& t : feeders) t.join();
  // Every client falls silent for good: the last timeouts come.
  const uint32_t quiet = elapsed();
  while (elapsed() - quiet < 4 * kWatch) {
    take_messages();
    platform::SleepMs(2);
  }
  stop_collecting = true;
  collector.join();
  take_messages();
  for (EventRow& e : CollectEvents(host.module, kId)) events.push_back(std::move(e));

  std::map<std::string, int64_t> collected;
  std::map<std::string, int> open_timeouts;  // per client: timeouts not yet resumed
  for (const EventRow& e : events) {
    ++collected[e.type];
    const std::string client = e.Client();
    if (e.type == "LOST") {
      ++open_timeouts[client];
    } else {
      ASSERT_EQ(e.type, "LOST-RESUME");
      EXPECT_GT(open_timeouts[client], 0) << "a resume without a timeout for client " << client;
      open_timeouts[client] = 0;
    }
  }
  EXPECT_EQ(failed_calls.load(), 0);
  EXPECT_EQ(collected, announced);
  std::printf(
      "load: %d s, %lld portions from %d threads, %d reloads, %lld timeouts, "
      "%lld resumes\n",
      LoadSeconds(), static_cast<long long>(portions.load()), kFeeders, reloads,
      static_cast<long long>(collected["LOST"]), static_cast<long long>(collected["LOST-RESUME"]));
  // Each client falls silent about once every 4 s.
  EXPECT_GT(collected["LOST"], LoadSeconds() * kClients / 8);
  EXPECT_GT(collected["LOST-RESUME"], LoadSeconds() * kClients / 8);
  EXPECT_EQ(host.Command(kId, "UNLOAD"), 0);
}

}  // namespace
}  // namespace tarvel::test
