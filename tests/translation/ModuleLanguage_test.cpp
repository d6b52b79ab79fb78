// The module's language, in-process: LANGUAGE on a command translates the
// module's messages and its log texts, each time from English, and the
// running monitor writes in the new language at once; a language file that
// cannot be read leaves English and says so once the host window is known.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_window.h"
#include "monitor/TaPlugin.h"
#include "platform/clock.h"
#include "support/host_harness.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using test::HostCall;

const char* const kFile =
    "Encoding=utf-8\r\n\r\n"
    "EN:>Timeout\r\nDE:>Zeit\xC3\xBC"
    "berschreitung\r\nFR:>D\xC3\xA9lai d'attente\r\n"
    "RU:>\xD0\xA2\xD0\xB0\xD0\xB9\xD0\xBC-\xD0\xB0\xD1\x83\xD1\x82\r\n\r\n"
    "EN:>Generating event\r\nDE:>Ereignis wird ausgel\xC3\xB6st\r\nFR:>G\xC3\xA9n\xC3\xA9ration de "
    "l'\xC3\xA9v\xC3\xA9nement\r\n\r\n"
    "EN:>No data for processing\r\nDE:>Keine Daten zur Verarbeitung\r\nFR:>Aucune donn\xC3\xA9"
    "e \xC3\xA0 traiter\r\n\r\n";

class ModuleLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostCall create(1);
    plugin = std::make_unique<TaPlugin>(create.get());
    plugin->AfterConstruction();
    test::WriteWholeFile(lng, kFile);
    plugin->Translator()->SetLanguageFile(lng);
  }
  // Command runs a command carrying LANGUAGE (when given) and, with
  // host, the host window.
  int32_t Command(const char* command, const char* language, bool host = true) {
    HostCall call(1, command);
    if (language) call.Param("LANGUAGE", OleVariant(language));
    if (host) call.Param("MessagesProcessorHandle", OleVariant(window.HandleParam()));
    if (std::string(command) == "LOAD") call.Param("INI-FILE", OleVariant(ini));
    if (std::string(command) == "EVENTS-SUPPORT") call.WithResult();
    return plugin->ExecuteCommand(command, call.get());
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines = window.LogLines();
    for (std::string& line : lines) line.erase(0, 1);  // past the level
    return lines;
  }

  platform::ManualTickClock clock{100000};
  test::TempDir dir;
  std::string lng = dir.File("tarvel.lng");
  std::string ini = dir.File("settings.ini");
  test::RecordingWindow window;
  std::unique_ptr<TaPlugin> plugin;
};

TEST_F(ModuleLanguageTest, EveryChangeOfLanguageTranslatesFromEnglish) {
  struct {
    const char* language;
    const char* msg_no_data;
    const char* timeout;
  } steps[] = {
      {"DE", "Keine Daten zur Verarbeitung",
       "Zeit\xFC"
       "berschreitung"},
      {"FR",
       "Aucune donn\xE9"
       "e \xE0 traiter",
       "D\xE9lai d'attente"},  // not found in EN->DE
      {"",
       "Aucune donn\xE9"
       "e \xE0 traiter",
       "D\xE9lai d'attente"},                       // empty: no change
      {"RU", "No data for processing", "Timeout"},  // no RU message; Cyrillic does not fit 1252
      {"EN", "No data for processing", "Timeout"},
      {"DE", "Keine Daten zur Verarbeitung",
       "Zeit\xFC"
       "berschreitung"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.language);
    EXPECT_EQ(Command("EVENTS-SUPPORT", s.language), 0);
    EXPECT_EQ(plugin->MsgNoData.Get(), s.msg_no_data);
    EXPECT_EQ(plugin->TextRes()->TimeoutText(), s.timeout);
    EXPECT_EQ(plugin->TextRes()->SourceText(1), "Timeout");
  }
  EXPECT_EQ(plugin->Language(), "DE");
  EXPECT_EQ(plugin->MsgWriteComplete.Get(), "Data have been processed successfully");
  EXPECT_TRUE(LogLines().empty()) << "a good file says nothing";
}

TEST_F(ModuleLanguageTest, ARunningMonitorLogsInTheNewLanguageAtOnce) {
  test::WriteWholeFile(ini,
                       "[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=1\r\nEvent1=t-out\r\n"
                       "Event once=False\r\n");
  ASSERT_EQ(Command("LOAD", "DE"), 0);
  auto rows = NewParamsList(kRowsParamsListClass);
  rows->Add("CLIENTID", OleVariant(1));
  rows->Add("TEMP", OleVariant(20));
  rows->AddNewRow();
  HostCall data(1);
  data.rec.Input.Kind = 1;
  data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
  int32_t result = 0;
  plugin->vopPluginProcessData(data.get(), result);
  auto tick = [&] {
    clock.Advance(1500);
    plugin->ChkTimeoutsTimer();
    return LogLines();
  };
  EXPECT_EQ(tick(), (std::vector<std::string>{"Tarvel. Zeit\xFC"
                                              "berschreitung: 1",
                                              "Tarvel. Ereignis wird ausgel\xF6st: t-out"}));
  EXPECT_EQ(Command("EVENTS-SUPPORT", "FR"), 0);
  EXPECT_EQ(tick(),
            (std::vector<std::string>{"Tarvel. D\xE9lai d'attente: 1",
                                      "Tarvel. G\xE9n\xE9ration de l'\xE9v\xE9nement: t-out"}));
  EXPECT_EQ(Command("UNLOAD", nullptr), 0);
}

TEST_F(ModuleLanguageTest, AnUnreadableFileIsReportedOnceTheHostWindowIsKnown) {
  const std::string folder = dir.File("folder.lng");
  std::filesystem::create_directory(folder);
  plugin->Translator()->SetLanguageFile(folder);
  EXPECT_EQ(Command("EVENTS-SUPPORT", "DE", /*host=*/false), 0);
  EXPECT_TRUE(LogLines().empty()) << "no host window yet";
  EXPECT_EQ(plugin->MsgNoData.Get(), "No data for processing");
  EXPECT_EQ(Command("EVENTS-SUPPORT", nullptr), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(folder), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("English"), std::string::npos) << lines[0];
  // Another language meets the same file: the same reason is not repeated.
  EXPECT_EQ(Command("EVENTS-SUPPORT", "FR"), 0);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(plugin->TextRes()->TimeoutText(), "Timeout");
}

}  // namespace
}  // namespace tarvel
