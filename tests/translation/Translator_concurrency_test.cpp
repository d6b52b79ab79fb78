// The translator and the module's texts under threads: passes from
// several threads share one dictionary; data calls log the module's
// messages and the monitor its texts while a command translates them; a
// translator goes on another thread while its release timer frees the
// dictionary.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "monitor/TaPlugin.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "support/host_harness.h"
#include "support/test_support.h"
#include "translation/Translator.h"
#include "translation/translation_support.h"

namespace tarvel {
namespace {

using test::kGermanFile;
using test::TranslatorTest;

TEST_F(TranslatorTest, PassesFromSeveralThreadsShareOneDictionary) {
  TWtransl& t = Lng(kGermanFile);
  std::vector<std::thread> threads;
  std::atomic<int> right{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 50; ++k) {
        std::string text = "Timeout";
        t.Translate("DE", nullptr, &text, "EN");
        if (text == "Zeitlimit") ++right;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(right, 200);
  platform::ProcessPendingMessages();  // the posted timer requests
  EXPECT_TRUE(t.ReleaseTimer()->Enabled());
}

TEST_F(TranslatorTest, MessagesAndLogTextsAreReadWhileACommandTranslatesThem) {
  Lng("EN:>Timeout\nDE:>Zeitlimit\nFR:>D\xE9lai\n\nEN:>No data for processing\n"
      "DE:>Keine Daten\nFR:>Aucune donn\xE9"
      "e\n\n");
  test::HostCall create(1);
  TaPlugin plugin(create.get());
  plugin.AfterConstruction();
  plugin.Translator()->SetLanguageFile(file);
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread reader([&] {
    // What a data call and the check timer read on their threads.
    while (!stop) {
      const std::string msg = plugin.MsgNoData.Get();
      const std::string timeout = plugin.TextRes()->TimeoutText();
      if (!msg.empty() && !timeout.empty()) ++seen;
    }
  });
  for (int i = 0; i < 100; ++i) plugin.ChangeLanguage(i % 2 ? "FR" : "DE");
  stop = true;
  reader.join();
  EXPECT_GT(seen, 0);
  EXPECT_EQ(plugin.MsgNoData.Get(),
            "Aucune donn\xE9"
            "e");
  EXPECT_EQ(plugin.TextRes()->TimeoutText(), "D\xE9lai");
}

// The release timer's tick takes the translator's lock; the translator's
// destructor, on a host thread, unbinds the tick. Neither may hold its own
// lock while it waits for the other's (under ThreadSanitizer a lock-order
// inversion fails the test even when the two never meet). Each round a
// translator made on the owner thread, which pumps while time passes, is
// destroyed on this thread right after a pass here has started its timer
// again, so the destruction and the releasing tick fall close together.
TEST(TranslatorRelease, DestroyedOnAnotherThreadWhileItsTimerReleasesTheDictionary) {
  test::TempDir dir;
  const std::string file = dir.File("tarvel.lng");
  test::WriteWholeFile(file, kGermanFile);
#ifndef _WIN32
  platform::ManualTickClock clock(5000);
#endif
  constexpr int kRounds = 1000;
  std::atomic<TWtransl*> handed{nullptr};
  std::atomic<bool> stop{false};
  test::HangGuard guard("destroying translators while their timers tick");
  std::thread owner([&] {
    for (int round = 0; round < kRounds && !stop; ++round) {
      auto* t = new TWtransl;
      t->SetLanguageFile(file);
      t->SetCurrentLanguage("EN");
      t->ReleaseTimer()->SetInterval(10);
      std::string text = "Timeout";
      t->Translate("DE", nullptr, &text, "EN");
      const platform::WindowHandle window = t->ReleaseTimer()->WindowHandle();
      handed = t;
      // Pumps (the ticks release the dictionary) until the translator is
      // gone and its window with it.
      while (handed.load() || platform::IsWindowAlive(window)) {
#ifndef _WIN32
        clock.Advance(10);
#endif
        platform::ProcessPendingMessages();
        platform::YieldThread();
      }
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    TWtransl* t = nullptr;
    while (!(t = handed.load())) platform::YieldThread();
    std::string text = "Timeout";
    t->Translate("DE", nullptr, &text, "EN");  // a release follows within one interval
    for (int spin = 0; spin < round % 7 * 50; ++spin) platform::YieldThread();
    handed = nullptr;
    delete t;
  }
  stop = true;
  owner.join();
}

}  // namespace
}  // namespace tarvel
