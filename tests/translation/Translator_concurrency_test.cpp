// The translator and the module's texts under threads: passes from
// several threads share one dictionary; data calls log the module's
// messages and the monitor its texts while a command translates them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace tarvel
