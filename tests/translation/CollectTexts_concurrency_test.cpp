// Side files of translators that go at the same moment: each gets a file
// of its own, whichever name it takes.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "components/Controls.h"
#include "platform/thread.h"
#include "support/test_support.h"
#include "translation/Translator.h"

namespace tarvel {
namespace {

// Two instances using one language file in a collection mode go together:
// the free name must be taken by creating the file, not by checking for it
// first, or both write to the same name and one list is lost.
TEST(CollectTextsConcurrency, TranslatorsGoingTogetherWriteASideFileEach) {
  test::TempDir dir;
  const std::string file = dir.File("tarvel.lng");
  test::WriteWholeFile(file, "//saveuntr\nEN:>Timeout\nDE:>Zeitlimit\n\n");
  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE(round);
    std::atomic<int> ready{0};
    auto instance = [&](const char16_t* text) {
      // Made, used and destroyed on one thread, as a host instance is.
      auto t = std::make_unique<TWtransl>();
      t->SetLanguageFile(file);
      t->SetCurrentLanguage("EN");
      TLabel label;
      label.SetCaption(text);
      t->Translate("DE", &label, nullptr, "EN");
      ++ready;
      while (ready.load() < 2) platform::YieldThread();
      t.reset();  // writes the side file
    };
    std::thread a(instance, u"Alpha"), b(instance, u"Beta");
    a.join();
    b.join();
    std::set<std::string> texts;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      const std::string name = entry.path().filename().string();
      if (name == "tarvel.lng") continue;
      ++files;
      const std::string content = test::ReadWholeFile(entry.path().string());
      for (const char* text : {"EN:>Alpha\r\n", "EN:>Beta\r\n"})
        if (content.find(text) != std::string::npos) texts.insert(text);
      std::filesystem::remove(entry.path());
    }
    ASSERT_EQ(files, 2);
    ASSERT_EQ(texts.size(), 2u);
  }
}

}  // namespace
}  // namespace tarvel
