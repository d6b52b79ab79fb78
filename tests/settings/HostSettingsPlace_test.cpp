// The settings place the host names in LOAD reaches the property map: with
// an INISectionPrefix the module reads and writes its section under that
// prefix, never the plain [Common] another instance or program keeps.
#include <gtest/gtest.h>

#include <memory>

#include "monitor/TaPlugin.h"
#include "settings/BigIni.h"
#include "settings_support.h"
#include "support/host_harness.h"

namespace tarvel {
namespace {

using test::HostCall;

TEST(HostSettingsPlace, LoadAndSaveUseTheHostsSectionPrefix) {
  test::RegistrySandbox sandbox;  // a private INI lock directory
  const std::string ini = sandbox.Dir().File("settings.ini");
  const std::string other = sandbox.Dir().File("saved.ini");
  test::WriteWholeFile(ini,
                       "[Common]\r\nVar1=NotThis\r\nType1=3\r\nVal1=9\r\n\r\n"
                       "[Boiler house.Common]\r\nVar1=Temp\r\nType1=1\r\nVal1=30\r\n");
  HostCall create(1);
  auto plugin = std::make_unique<TaPlugin>(create.get());
  plugin->AfterConstruction();

  HostCall load(1, "LOAD");
  load.Param("INI-FILE", OleVariant(ini)).Param("INISectionPrefix", OleVariant("Boiler house"));
  ASSERT_EQ(plugin->ExecuteCommand("LOAD", load.get()), 0);
  ASSERT_NE(plugin->Cfg(), nullptr);
  auto row = plugin->Cfg()->WatchRowAt(0);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->variable, "Temp") << "the settings came from [Common], not the host's section";
  EXPECT_EQ(row->timeout_ms, 30000);

  HostCall save(1, "SAVE-SETTINGS-NOW");
  save.Param("INI-FILE", OleVariant(other));
  EXPECT_EQ(plugin->ExecuteCommand("SAVE-SETTINGS-NOW", save.get()), -2);
  {
    TBigIniFile saved(other);
    EXPECT_EQ(saved.ReadString("Boiler house.Common", "Var1", ""), "Temp");
    EXPECT_FALSE(saved.SectionExists("Common"));
  }

  HostCall unload(1, "UNLOAD");
  unload.Param("INI-FILE", OleVariant(ini));
  EXPECT_EQ(plugin->ExecuteCommand("UNLOAD", unload.get()), 0);
}

}  // namespace
}  // namespace tarvel
