// The translator and the module's texts under threads: passes from
// several threads share one dictionary; data calls log the module's
// messages and the monitor its texts while a command translates them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "monitor/TaPlugin.h"
#include "support/host_harness.h"
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

}  // namespace
}  // namespace tarvel
