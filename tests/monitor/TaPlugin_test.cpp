// The plug-in object's handlers and settings storage, in-process.
#include "monitor/TaPlugin.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/Components.h"
#include "support/host_harness.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using test::HostCall;

std::vector<std::string> MapLines() {
  TStringList lines;
  lines.SetText(kTaPluginProperties);
  return lines.Lines();
}

TEST(TaPluginProperties, TheMapHasItsTwentyEightLinesInOrder) {
  const std::vector<std::string> lines = MapLines();
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[0], "Left,Left");
  EXPECT_EQ(lines[4], ";---short---");
  EXPECT_EQ(lines[5], "var1.Text,Var1");
  EXPECT_EQ(lines[9], "type1.ItemIndex,Type1");
  EXPECT_EQ(lines[13], "val1.Value,Val1");
  EXPECT_EQ(lines[20], "event4.Text,Event4");
  EXPECT_EQ(lines[21], "");
  EXPECT_EQ(lines[27], "chkEventResume.Checked,Resume event");
}

class TaPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini = dir.File("settings.ini");
    HostCall create(1);
    plugin = std::make_unique<TaPlugin>(create.get());
    plugin->AfterConstruction();
  }
  void Write(const std::string& text) { test::WriteWholeFile(ini, text); }
  std::string Read() { return test::ReadWholeFile(ini); }
  int32_t Command(const char* command, const std::string& ini_file) {
    HostCall call(1, command);
    if (!ini_file.empty()) call.Param("INI-FILE", OleVariant(ini_file));
    return plugin->ExecuteCommand(command, call.get());
  }

  test::TempDir dir;
  std::string ini;
  std::unique_ptr<TaPlugin> plugin;
};

TEST_F(TaPluginTest, FixedPropertiesAndTextsBeforeLoad) {
  EXPECT_EQ(plugin->Description, "Tarvel");
  EXPECT_EQ(plugin->LogTitle, "Tarvel");
  EXPECT_EQ(plugin->ModuleType, ModuleTypeBit(mttFilter));
  ASSERT_NE(plugin->TextRes(), nullptr);
  EXPECT_EQ(plugin->TextRes()->TimeoutText(), "Timeout");
  EXPECT_EQ(plugin->TextRes()->GeneratingEventText(), "Generating event");
  EXPECT_EQ(plugin->Cfg(), nullptr);
  EXPECT_EQ(plugin->Monitor(), nullptr);
  EXPECT_FALSE(plugin->ChkTimeouts().Enabled());
  EXPECT_EQ(plugin->ChkTimeouts().Interval(), 3000u);
  // Data before the first LOAD fails without touching the record.
  HostCall data(1);
  int32_t result = 5;
  EXPECT_THROW(plugin->vopPluginProcessData(data.get(), result), std::logic_error);
  EXPECT_EQ(result, 5);
  // Saving while unloaded does nothing.
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  EXPECT_FALSE(std::ifstream(ini).good());
}

TEST_F(TaPluginTest, LoadReadsTheStoredSettingsAndStartsTheTimer) {
  Write("[Common]\r\nVar1=Level\r\nType1=3\r\nVal1=1\r\nEvent once=False\r\n");
  ASSERT_EQ(Command("LOAD", ini), 0);
  ASSERT_NE(plugin->Cfg(), nullptr);
  auto row = plugin->Cfg()->WatchRowAt(0);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->timeout_ms, 3600000);
  EXPECT_FALSE(plugin->Cfg()->chkEvOnce_Checked);
  EXPECT_TRUE(plugin->Cfg()->chkWaitData_Checked);  // not stored: default
  EXPECT_EQ(plugin->Cfg()->edtClientVar_Text, "CLIENTID");
  ASSERT_NE(plugin->Monitor(), nullptr);
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());
  EXPECT_EQ(plugin->ChkTimeouts().Interval(), 3000u);  // nothing pending yet
}

TEST_F(TaPluginTest, ReloadingDropsEveryClientAndUnloadFreesTheMonitor) {
  Write("[Common]\r\nVar1=TEMP\r\nType1=1\r\nVal1=5\r\nEvent1=t\r\n");
  ASSERT_EQ(Command("LOAD", ini), 0);
  auto rows = NewParamsList(kRowsParamsListClass);
  for (int client = 1; client <= 3; ++client) {
    rows->Add("CLIENTID", OleVariant(client));
    rows->Add("TEMP", OleVariant(20));
    rows->AddNewRow();
  }
  HostCall data(1);
  data.rec.Input.Kind = 1;
  data.rec.Input.Data = reinterpret_cast<uintptr_t>(rows.get());
  int32_t result = -7;
  plugin->vopPluginProcessData(data.get(), result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(+data.rec.Output.Data, reinterpret_cast<uintptr_t>(rows.get()));
  EXPECT_EQ(plugin->Monitor()->ClientCount(), 3u);

  Write("");  // an empty store: every property keeps its value
  EXPECT_EQ(Command("LOAD-SETTINGS-NOW", ini), -2);
  EXPECT_EQ(plugin->Monitor()->ClientCount(), 0u);
  EXPECT_EQ(plugin->Cfg()->var1_Text, "TEMP");
  EXPECT_TRUE(plugin->ChkTimeouts().Enabled());

  std::weak_ptr<TimeoutMonitor> monitor = plugin->Monitor();
  EXPECT_EQ(Command("UNLOAD", ini), 0);
  EXPECT_EQ(plugin->Cfg(), nullptr);
  EXPECT_TRUE(monitor.expired());
  EXPECT_FALSE(plugin->ChkTimeouts().Enabled());
}

TEST_F(TaPluginTest, SaveWritesEveryMappedValueAndShortSaveOnlyThePlace) {
  ASSERT_EQ(Command("LOAD", ini), 0);
  plugin->Cfg()->var2_Text = "FLOW";
  plugin->Cfg()->Left = 12;
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", ini), -2);
  const std::string text = Read();
  for (const char* key : {"Left=12", "Var2=FLOW", "Type1=-1", "Wait data=True", "Event once=True",
                          "Check client=True", "Client variable=CLIENTID",
                          "Resume event suffix=-RESUME", "Resume event=False"}) {
    SCOPED_TRACE(key);
    EXPECT_NE(text.find(key), std::string::npos) << text;
  }
  const std::string other = dir.File("short.ini");
  EXPECT_TRUE(plugin->SaveSettingsShort(kTaPluginProperties, plugin->Cfg(), other));
  std::ifstream in(other, std::ios::binary);
  const std::string short_text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  EXPECT_NE(short_text.find("Width=541"), std::string::npos) << short_text;
  EXPECT_EQ(short_text.find("Var2"), std::string::npos) << short_text;
}

}  // namespace
}  // namespace tarvel
