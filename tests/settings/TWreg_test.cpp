#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "settings/TWregistry.h"
#include "settings_forms.h"
#include "settings_support.h"

namespace tarvel {
namespace {

using platform::RegistryKey;
using platform::RegistryRootKey;
using platform::RegistryValue;
using test::RegistrySandbox;
using test::TTestCheck;
using test::TTestCombo;
using test::TTestEdit;
using test::TTestForm;
using test::TTestSpin;

std::string Dword(int32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}

class TWregTest : public ::testing::Test {
 protected:
  // Reg makes an engine for the sandbox's registry place (first root HKCU,
  // so the tests do not depend on rights to HKLM).
  std::unique_ptr<TWreg> Reg(const std::string& map = kTaPluginProperties) {
    auto reg = std::make_unique<TWreg>();
    reg->RegistryRoot = rrHKEY_CURRENT_USER;
    reg->SecondRegistryRoot = rrNone;
    reg->RegistryPath = sandbox_.Path();
    reg->Components.SetText(map);
    return reg;
  }
  std::unique_ptr<TWreg> Ini(const std::string& map = kTaPluginProperties) {
    auto reg = Reg(map);
    reg->INIFile = IniPath();
    return reg;
  }
  std::string IniPath() const { return sandbox_.Dir().File("settings.ini"); }
  RegistryKey Key(const std::string& sub = "",
                  RegistryRootKey root = RegistryRootKey::kCurrentUser) {
    RegistryKey key;
    EXPECT_TRUE(key.Open(root, sandbox_.KeyPath() + (sub.empty() ? "" : "\\" + sub)));
    return key;
  }

  RegistrySandbox sandbox_;
};

TEST_F(TWregTest, ProxyRoundTripsThroughTheRegistry) {
  TProxyCodeObject saved, loaded;
  test::FillSample(saved);
  ASSERT_TRUE(Reg()->SaveProperties(&saved));
  ASSERT_TRUE(Reg()->LoadProperties(&loaded));
  test::ExpectSameSettings(saved, loaded);

  // The stored forms.
  RegistryKey key = Key();
  RegistryValue v;
  ASSERT_EQ(key.Query("Left", &v), platform::RegistryQuery::kOk);
  EXPECT_EQ(v.type, platform::kRegDword);
  EXPECT_EQ(v.data, Dword(-20));
  ASSERT_EQ(key.Query("Val1", &v), platform::RegistryQuery::kOk);
  EXPECT_EQ(v.type, platform::kRegBinary);
  double d = 2.9;
  EXPECT_EQ(v.data, std::string(reinterpret_cast<const char*>(&d), 8));
  ASSERT_EQ(key.Query("var1", &v), platform::RegistryQuery::kOk) << "names ignore case";
  EXPECT_EQ(v.type, platform::kRegSz);
  EXPECT_EQ(v.data, std::string("+T1+\0", 5)) << "escaped, with its NUL";
  ASSERT_EQ(key.Query("Var2", &v), platform::RegistryQuery::kOk);
  EXPECT_EQ(v.data, std::string("100%% %2B more\0", 15));
  ASSERT_EQ(key.Query("Wait data", &v), platform::RegistryQuery::kOk);
  EXPECT_EQ(v.data, std::string("False\0", 6));
  ASSERT_EQ(key.Query("Client variable", &v), platform::RegistryQuery::kOk)
      << "an empty text is stored, not deleted";
  EXPECT_EQ(v.data, std::string("\0", 1));
}

// The module's own map: every setting under the name users and the
// documentation know it by.
TEST_F(TWregTest, TheModulesMapReadsEveryDocumentedName) {
  static const struct {
    const char* line;
    const char* property;
    const char* value;  // as the property gives it back (none is a default)
  } cases[] = {
      {"Left=-20", "Left", "-20"},
      {"Top=7", "Top", "7"},
      {"Height=480", "Height", "480"},
      {"Width=600", "Width", "600"},
      {"Var1=T1", "var1_Text", "T1"},
      {"Var2=T2", "var2_Text", "T2"},
      {"Var3=T3", "var3_Text", "T3"},
      {"Var4=T4", "var4_Text", "T4"},
      {"Type1=0", "type1_ItemIndex", "0"},
      {"Type2=1", "type2_ItemIndex", "1"},
      {"Type3=2", "type3_ItemIndex", "2"},
      {"Type4=3", "type4_ItemIndex", "3"},
      {"Val1=1.5", "val1_Value", "1.5"},
      {"Val2=2.5", "val2_Value", "2.5"},
      {"Val3=3.5", "val3_Value", "3.5"},
      {"Val4=4.5", "val4_Value", "4.5"},
      {"Event1=E1", "event1_Text", "E1"},
      {"Event2=E2", "event2_Text", "E2"},
      {"Event3=E3", "event3_Text", "E3"},
      {"Event4=E4", "event4_Text", "E4"},
      {"Wait data=False", "chkWaitData_Checked", "False"},
      {"Event once=False", "chkEvOnce_Checked", "False"},
      {"Check client=False", "chkCheckClient_Checked", "False"},
      {"Client variable=ID", "edtClientVar_Text", "ID"},
      {"Resume event suffix=-BACK", "edtEventResume_Text", "-BACK"},
      {"Resume event=True", "chkEventResume_Checked", "True"},
  };
  std::string text = "[Common]\r\n";
  for (const auto& c : cases) text += std::string(c.line) + "\r\n";
  test::WriteWholeFile(IniPath(), text);
  TProxyCodeObject s;
  ASSERT_TRUE(Ini()->LoadProperties(&s));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ReadPropertyValue(s, c.property).ToAnsi(), c.value);
  }
}

TEST_F(TWregTest, ProxyRoundTripsThroughAnIniFile) {
  TProxyCodeObject saved, loaded;
  test::FillSample(saved);
  ASSERT_TRUE(Ini()->SaveProperties(&saved));
  ASSERT_TRUE(Ini()->LoadProperties(&loaded));
  test::ExpectSameSettings(saved, loaded);
  std::string text = test::ReadWholeFile(IniPath());
  EXPECT_EQ(text.rfind("[Common]\r\nLeft=-20\r\nTop=7\r\n", 0), 0u) << text;
  for (const char* line :
       {"\r\nVar1=+T1+\r\n", "\r\nVar3=tab%09here\r\n", "\r\nType4=-1\r\n", "\r\nVal1=2.9\r\n",
        "\r\nEvent2=\r\n", "\r\nWait data=False\r\n", "\r\nResume event suffix=+-R\r\n"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(text.find(line), std::string::npos) << text;
  }
}

TEST_F(TWregTest, DialogAndProxyShareTheStoredValues) {
  for (bool ini : {false, true}) {
    SCOPED_TRACE(ini ? "INI" : "registry");
    TTestForm form;
    form.left = 11;
    form.width = 600;
    form.Get<TTestEdit>("var1").text = "Speed";
    form.Get<TTestCombo>("type1").index = 2;
    form.Get<TTestSpin>("val1").value = 1.5;
    form.Get<TTestCheck>("chkEventResume").checked = true;
    form.Get<TTestEdit>("edtClientVar").text = "ID";
    ASSERT_TRUE((ini ? Ini() : Reg())->SaveProperties(&form));

    TProxyCodeObject proxy;
    ASSERT_TRUE((ini ? Ini() : Reg())->LoadProperties(&proxy));
    EXPECT_EQ(proxy.Left, 11);
    EXPECT_EQ(proxy.Width, 600);
    EXPECT_EQ(proxy.var1_Text, "Speed");
    EXPECT_EQ(proxy.type1_ItemIndex, 2);
    EXPECT_DOUBLE_EQ(proxy.val1_Value, 1.5);
    EXPECT_TRUE(proxy.chkEventResume_Checked);
    EXPECT_FALSE(proxy.chkWaitData_Checked);
    EXPECT_EQ(proxy.edtClientVar_Text, "ID");

    proxy.var2_Text = "Temp";
    proxy.type2_ItemIndex = 3;
    ASSERT_TRUE((ini ? Ini() : Reg())->SaveProperties(&proxy));
    TTestForm again;
    ASSERT_TRUE((ini ? Ini() : Reg())->LoadProperties(&again));
    EXPECT_EQ(again.left, 11);
    EXPECT_EQ(again.Get<TTestEdit>("var2").text, "Temp");
    EXPECT_EQ(again.Get<TTestCombo>("type2").index, 3);
    EXPECT_TRUE(again.Get<TTestCheck>("chkEventResume").checked);
  }
}

TEST_F(TWregTest, EmptyStoreLeavesDefaults) {
  TProxyCodeObject s, fresh;
  EXPECT_FALSE(Reg()->LoadProperties(&s)) << "no key: nothing to open";
  test::ExpectSameSettings(s, fresh);
  test::WriteWholeFile(IniPath(), "");
  EXPECT_TRUE(Ini()->LoadProperties(&s));
  test::ExpectSameSettings(s, fresh);
}

TEST_F(TWregTest, MissingIniFileLoadsTheRegistryAndTheNextSaveWritesTheFile) {
  TProxyCodeObject s;
  s.Left = 99;
  ASSERT_TRUE(Reg()->SaveProperties(&s));
  TProxyCodeObject loaded;
  ASSERT_TRUE(Ini()->LoadProperties(&loaded));
  EXPECT_EQ(loaded.Left, 99);
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  loaded.Left = 5;
  ASSERT_TRUE(Ini()->SaveProperties(&loaded));
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("Left=5"), std::string::npos);
}

TEST_F(TWregTest, SecondRootIsUsedWhenTheFirstIsUnusable) {
  auto reg = Reg("Left,Left");
  reg->RegistryRoot = rrNone;
  reg->SecondRegistryRoot = rrHKEY_CURRENT_USER;
  TProxyCodeObject s;
  s.Left = 3;
  ASSERT_TRUE(reg->SaveProperties(&s));
  EXPECT_TRUE(Key().ValueExists("Left"));
  auto none = Reg("Left,Left");
  none->RegistryRoot = rrNone;
  none->SecondRegistryRoot = rrNone;
  EXPECT_FALSE(none->SaveProperties(&s));
  EXPECT_FALSE(none->LoadProperties(&s));
}

#ifndef _WIN32
// Only the file-backed store can take a user's rights away from HKLM here.
TEST_F(TWregTest, WithoutRightsOnLocalMachineTheDefaultsUseCurrentUser) {
  test::SetEnv("TARVEL_REGISTRY_READONLY", "HKEY_LOCAL_MACHINE");
  TWreg reg;
  reg.RegistryPath = sandbox_.Path();
  reg.Components.SetText("Left,Left");
  TProxyCodeObject s;
  s.Left = 77;
  ASSERT_TRUE(reg.SaveProperties(&s));
  EXPECT_TRUE(Key().ValueExists("Left"));
  TProxyCodeObject loaded;
  ASSERT_TRUE(reg.LoadProperties(&loaded));
  EXPECT_EQ(loaded.Left, 77);

  test::SetEnv("TARVEL_REGISTRY_READONLY", "");
  TWreg machine;
  machine.RegistryPath = sandbox_.Path();
  machine.Components.SetText("Left,Left");
  s.Left = 78;
  ASSERT_TRUE(machine.SaveProperties(&s));
  EXPECT_TRUE(Key("", RegistryRootKey::kLocalMachine).ValueExists("Left"));
}
#endif

TEST_F(TWregTest, RegistryValuesOfTheWrongFormAreDeletedOnLoad) {
  {
    RegistryKey key;
    ASSERT_TRUE(key.Create(RegistryRootKey::kCurrentUser, sandbox_.KeyPath()));
    ASSERT_TRUE(key.SetValue("Val1", platform::kRegSz, std::string("2.5\0", 4)));
    ASSERT_TRUE(key.SetValue("Left", platform::kRegBinary, Dword(5)));
    ASSERT_TRUE(key.SetValue("Top", platform::kRegDword, Dword(9)));
    ASSERT_TRUE(key.SetValue("Var1", platform::kRegDword, Dword(1)));
    ASSERT_TRUE(key.SetValue("Wait data", platform::kRegSz, std::string("Maybe\0", 6)));
    ASSERT_TRUE(key.SetValue("Val2", platform::kRegBinary, "1234567"));
    ASSERT_TRUE(key.SetValue("Var2", platform::kRegExpandSz, std::string("%PATH%\0junk", 11)));
    ASSERT_TRUE(key.SetValue("Event1", platform::kRegSz, "no terminator"));
  }
  TProxyCodeObject s;
  s.val1_Value = 4;
  s.var1_Text = "keep";
  ASSERT_TRUE(Reg()->LoadProperties(&s));
  EXPECT_EQ(s.val1_Value, 4);
  EXPECT_EQ(s.Left, 314);
  EXPECT_EQ(s.Top, 9) << "good values around bad ones still load";
  EXPECT_EQ(s.var1_Text, "keep");
  EXPECT_TRUE(s.chkWaitData_Checked);
  EXPECT_EQ(s.var2_Text, "%PATH%") << "expandable text is not expanded, cut at NUL";
  EXPECT_EQ(s.event1_Text, "no terminator");
  RegistryKey key = Key();
  for (const char* gone : {"Val1", "Left", "Var1", "Wait data", "Val2"}) {
    SCOPED_TRACE(gone);
    EXPECT_FALSE(key.ValueExists(gone));
  }
  EXPECT_TRUE(key.ValueExists("Top"));
}

TEST_F(TWregTest, IniValuesThatDoNotParseReadAsZeroOrAreSkipped) {
  test::WriteWholeFile(
      IniPath(),
      "[Common]\r\nLeft=abc\r\nTop=0x1F\r\nVal1=1,5\r\nVal2=junk\r\nWait data=Maybe\r\n"
      "Check client=tRUE\r\nVar1=a+b%41%zz\r\n");
  TProxyCodeObject s;
  s.val2_Value = 8;
  ASSERT_TRUE(Ini()->LoadProperties(&s));
  EXPECT_EQ(s.Left, 0);
  EXPECT_EQ(s.Top, 31);
  EXPECT_DOUBLE_EQ(s.val1_Value, 1.5);
  EXPECT_EQ(s.val2_Value, 0);
  EXPECT_TRUE(s.chkWaitData_Checked) << "unknown name: entry skipped";
  EXPECT_TRUE(s.chkCheckClient_Checked);
  EXPECT_EQ(s.var1_Text, "a bA%zz");
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("Wait data=Maybe"), std::string::npos)
      << "the line stays in the file";
}

TEST_F(TWregTest, MapGrammar) {
  const std::string map =
      "  ; comment with blanks before\r\n"
      ";---short---\r\n"
      "   \r\n"
      ",NoPath\r\n"
      " Left , Sub A \\ Name \r\n"
      "Top\r\n"
      "Height,Solo\\\\Ignored\r\n"
      "Width,\\Empty\r\n";
  TProxyCodeObject s;
  s.Left = 1;
  s.Top = 2;
  s.Height = 3;
  s.Width = 4;
  ASSERT_TRUE(Reg(map)->SaveProperties(&s));
  EXPECT_TRUE(Key("Sub A").ValueExists("Name"));
  RegistryValue v;
  RegistryKey root = Key();
  ASSERT_EQ(root.Query("", &v), platform::RegistryQuery::kOk) << "no comma: the unnamed value";
  EXPECT_TRUE(root.ValueExists("Solo"));
  EXPECT_FALSE(root.ValueExists("NoPath"));
  // "\Empty" means the empty value name as well; Width wrote last.
  EXPECT_EQ(v.data, Dword(4));

  auto ini = Ini(map);
  ini->INIFileSectionPrefix = "P";
  test::WriteWholeFile(IniPath(), "[P.Common]\r\nkeep=1\r\n");
  ASSERT_TRUE(ini->SaveProperties(&s));
  std::string text = test::ReadWholeFile(IniPath());
  EXPECT_NE(text.find("[P.Sub A]\r\nName=1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("keep=1"), std::string::npos)
      << "an empty value name must not erase the section: " << text;
  EXPECT_NE(text.find("Solo=3"), std::string::npos) << text;
}

TEST_F(TWregTest, BeforeProcessItemSeesEveryEntryAndCanSwitchOnVirtualItems) {
  struct Seen {
    std::string name;
    int index;
    bool require, is_virtual;
    TTypeKind kind;
  };
  std::vector<Seen> seen;
  TTestForm form;
  auto reg = Reg("Left,Left\r\nnosuch.Text,Ghost\r\nvar1.Nope,Nope\r\nvirtual.Text,Virt\r\n");
  {
    RegistryKey key;
    ASSERT_TRUE(key.Create(RegistryRootKey::kCurrentUser, sandbox_.KeyPath()));
    ASSERT_TRUE(key.SetValue("Virt", platform::kRegSz, std::string("old\0", 4)));
    ASSERT_TRUE(key.SetValue("Ghost", platform::kRegSz, std::string("kept\0", 5)));
  }
  reg->OnBeforeProcessItem = [&](TWreg&, const std::string& name, int index, bool& require,
                                 bool& is_virtual, TTypeKind& kind) {
    seen.push_back({name, index, require, is_virtual, kind});
    if (index == 3) {
      require = true;
      kind = tkString;
    }
  };
  ASSERT_TRUE(reg->SaveProperties(&form));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].name, "Left");
  EXPECT_EQ(seen[0].kind, tkInteger);
  EXPECT_FALSE(seen[0].is_virtual);
  EXPECT_EQ(seen[1].name, "") << "missing component";
  EXPECT_EQ(seen[1].index, 1);
  EXPECT_EQ(seen[1].kind, tkUnknown);
  EXPECT_TRUE(seen[1].is_virtual);
  EXPECT_FALSE(seen[1].require);
  EXPECT_EQ(seen[2].name, "Nope");
  EXPECT_EQ(seen[2].kind, tkUnknown) << "missing property";
  EXPECT_TRUE(seen[2].require);
  RegistryKey key = Key();
  EXPECT_FALSE(key.ValueExists("Virt")) << "virtual item without GetValue deletes its value";
  EXPECT_TRUE(key.ValueExists("Ghost")) << "skipped entries are left alone";
  EXPECT_FALSE(key.ValueExists("Nope"));
}

TEST_F(TWregTest, VirtualItemsGoThroughGetValueAndSetValueEncoded) {
  for (bool ini : {false, true}) {
    SCOPED_TRACE(ini ? "INI" : "registry");
    auto make = [&] {
      auto reg = ini ? Ini("extra.Thing,Extra\r\nextra.Count,Count")
                     : Reg("extra.Thing,Extra\r\nextra.Count,Count");
      reg->OnBeforeProcessItem = [](TWreg&, const std::string&, int index, bool& require,
                                    bool& is_virtual, TTypeKind& kind) {
        require = true;
        is_virtual = true;
        kind = index == 0 ? tkString : tkInteger;
      };
      return reg;
    };
    auto saver = make();
    saver->OnGetValue = [](TWreg&, const std::string&, int index, OleVariant& value) {
      value = index == 0 ? OleVariant(" 50% ") : OleVariant(int32_t{12});
    };
    TProxyCodeObject s;
    ASSERT_TRUE(saver->SaveProperties(&s));
    auto loader = make();
    std::vector<std::string> got;
    loader->OnSetValue = [&](TWreg&, const std::string&, int, const OleVariant& value) {
      got.push_back(value.ToAnsi());
    };
    ASSERT_TRUE(loader->LoadProperties(&s));
    EXPECT_EQ(got, (std::vector<std::string>{" 50% ", "12"}));
  }
}

TEST_F(TWregTest, ErrorFromBeforeProcessItemEndsTheOperationAndClosesTheStore) {
  auto reg = Ini("Left,Left\r\nTop,Top");
  reg->OnBeforeProcessItem = [](TWreg&, const std::string&, int index, bool&, bool&, TTypeKind&) {
    if (index == 1) throw std::runtime_error("stop");
  };
  TProxyCodeObject s;
  s.Left = 42;
  EXPECT_THROW(reg->SaveProperties(&s), std::runtime_error);
  EXPECT_EQ(reg->RootObject(), nullptr);
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("Left=42"), std::string::npos)
      << "written back at close";
  EXPECT_EQ(test::ReadWholeFile(IniPath()).find("Top="), std::string::npos);
  // The lock was released: another thread can take it at once.
  std::thread other([&] { EXPECT_TRUE(Ini()->SaveProperties(&s)); });
  other.join();
}

TEST_F(TWregTest, ItemIndexHandlerStoresTheComboIndexAsText) {
  for (bool ini : {false, true}) {
    SCOPED_TRACE(ini ? "INI" : "registry");
    const char* map = "type1.*ItemIndex,Idx";
    TTestForm form;
    form.Get<TTestCombo>("type1").index = 2;
    ASSERT_TRUE((ini ? Ini(map) : Reg(map))->SaveProperties(&form));
    if (!ini) {
      RegistryValue v;
      ASSERT_EQ(Key().Query("Idx", &v), platform::RegistryQuery::kOk);
      EXPECT_EQ(v.type, platform::kRegSz);
      EXPECT_EQ(v.data, std::string("2\0", 2));
    } else {
      EXPECT_NE(test::ReadWholeFile(IniPath()).find("Idx=2"), std::string::npos);
    }
    TTestForm loaded;
    ASSERT_TRUE((ini ? Ini(map) : Reg(map))->LoadProperties(&loaded));
    EXPECT_EQ(loaded.Get<TTestCombo>("type1").index, 2);
    // The handler does not touch what is not a combo box.
    TTestForm other;
    ASSERT_TRUE(
        (ini ? Ini("var1.*ItemIndex,Idx") : Reg("var1.*ItemIndex,Idx"))->LoadProperties(&other));
    EXPECT_EQ(other.Get<TTestEdit>("var1").text, "");
  }
}

TEST_F(TWregTest, ItemIndexHandlerIgnoresTextThatIsNotANumber) {
  test::WriteWholeFile(IniPath(), "[Common]\r\nIdx=abc\r\n");
  TTestForm form;
  form.Get<TTestCombo>("type1").index = 1;
  ASSERT_TRUE(Ini("type1.*ItemIndex,Idx")->LoadProperties(&form));
  EXPECT_EQ(form.Get<TTestCombo>("type1").index, 1);
}

// A component with a string list and two references.
class THolder : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info = [] {
      TClassInfo c{"THolder", &TComponent::StaticClass(), {}};
      TPropInfo lines;
      lines.name = "Lines";
      lines.kind = tkClass;
      lines.held_class = &TStringList::StaticClass();
      lines.get_object = [](const TObject& o) -> TObject* {
        return const_cast<TStringList*>(&static_cast<const THolder&>(o).lines);
      };
      c.properties.push_back(lines);
      for (const char* name : {"Buddy", "DockSite"}) {
        TPropInfo ref;
        ref.name = name;
        ref.kind = tkClass;
        ref.held_class = &TComponent::StaticClass();
        bool dock = name[0] == 'D';
        ref.get_object = [dock](const TObject& o) -> TObject* {
          auto& h = static_cast<const THolder&>(o);
          return dock ? h.dock : h.buddy;
        };
        ref.set_object = [dock](TObject& o, TObject* v) {
          auto& h = static_cast<THolder&>(o);
          (dock ? h.dock : h.buddy) = static_cast<TComponent*>(v);
        };
        c.properties.push_back(ref);
      }
      return c;
    }();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TStringList lines;
  TComponent* buddy = nullptr;
  TComponent* dock = nullptr;
};

TEST_F(TWregTest, StringListsAndComponentReferences) {
  auto* form = new TComponent(&Application());
  form->SetName("RefForm");
  auto* holder = new THolder(form);
  holder->SetName("holder");
  auto* target = new TComponent(form);
  target->SetName("Target");
  const char* map = "holder.Lines,Lines\r\nholder.Buddy,Buddy\r\nholder.DockSite,Dock";
  holder->lines.SetText("x\r\ny\r\n");
  holder->buddy = target;
  holder->dock = nullptr;
  ASSERT_TRUE(Ini(map)->SaveProperties(form));
  std::string text = test::ReadWholeFile(IniPath());
  EXPECT_NE(text.find("Lines=x%0D%0Ay%0D%0A"), std::string::npos) << text;
  EXPECT_NE(text.find("Buddy=Application.RefForm.Target"), std::string::npos) << text;
  EXPECT_EQ(text.find("Dock="), std::string::npos) << "a null reference deletes its value";

  holder->lines.Clear();
  holder->buddy = nullptr;
  ASSERT_TRUE(Ini(map)->LoadProperties(form));
  EXPECT_EQ(holder->lines.Lines(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(holder->buddy, target);

  test::WriteWholeFile(IniPath(), "[Common]\r\nBuddy=[[Null]]\r\nDock=[[Null]]\r\n");
  holder->dock = target;
  ASSERT_TRUE(Ini(map)->LoadProperties(form));
  EXPECT_EQ(holder->buddy, nullptr);
  EXPECT_EQ(holder->dock, target) << "docking references are not cleared";

  test::WriteWholeFile(IniPath(), "[Common]\r\nBuddy=Application.RefForm.Missing\r\n");
  holder->buddy = target;
  ASSERT_TRUE(Ini(map)->LoadProperties(form));
  EXPECT_EQ(holder->buddy, target) << "an unknown path changes nothing";
  delete form;
}

TEST_F(TWregTest, ThreePartPathsReachTopLevelFormsAndNoRootMeansTheMainForm) {
  auto* form = new TTestForm(&Application());
  form->SetName("OptionsForm");
  TProxyCodeObject proxy;
  form->Get<TTestEdit>("var1").text = "viaForm";
  ASSERT_TRUE(Ini("OptionsForm.var1.Text,F")->SaveProperties(&proxy));
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("F=viaForm"), std::string::npos);

  Application().SetMainForm(form);
  form->left = 123;
  ASSERT_TRUE(Ini("Left,Main")->SaveProperties(nullptr));
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("Main=123"), std::string::npos);
  Application().SetMainForm(nullptr);
  delete form;
}

TEST_F(TWregTest, IniWriteBackFailureIsIgnoredAndKeepsTheOldFile) {
  test::WriteWholeFile(IniPath(), "[Common]\r\nLeft=1\r\n");
  platform::FileFaults full_disk;
  full_disk.free_bytes = 0;
  platform::SetFileFaults(full_disk);
  TProxyCodeObject s;
  s.Left = 20;
  const bool saved = Ini("Left,Left")->SaveProperties(&s);
  platform::ClearFileFaults();
  EXPECT_TRUE(saved);
  EXPECT_EQ(test::ReadWholeFile(IniPath()), "[Common]\r\nLeft=1\r\n");
}

TEST_F(TWregTest, UnreadableIniFileReachesTheCaller) {
  std::filesystem::create_directory(IniPath());
  TProxyCodeObject s;
  EXPECT_THROW(Ini()->SaveProperties(&s), platform::EFileError);
  // The lock was released on the way out.
  std::filesystem::remove(IniPath());
  EXPECT_TRUE(Ini()->SaveProperties(&s));
}

TEST_F(TWregTest, NamesWithControlCharactersStayInTheirEntry) {
  TProxyCodeObject s, loaded;
  s.var1_Text = std::string(
      "a\x01\x1F\x7F"
      "b");
  s.event1_Text = "x\r\n[Common]\r\nLeft=999";
  for (bool ini : {false, true}) {
    SCOPED_TRACE(ini ? "INI" : "registry");
    ASSERT_TRUE((ini ? Ini() : Reg())->SaveProperties(&s));
    ASSERT_TRUE((ini ? Ini() : Reg())->LoadProperties(&loaded));
    EXPECT_EQ(loaded.var1_Text, s.var1_Text);
    EXPECT_EQ(loaded.event1_Text, s.event1_Text);
    EXPECT_EQ(loaded.Left, 314);
  }
}

#ifndef _WIN32
TEST_F(TWregTest, FloatsFollowTheLocaleSeparatorInIniFiles) {
  test::SetEnv("TARVEL_DECIMAL_SEPARATOR", ",");
  TProxyCodeObject s, loaded;
  s.val1_Value = 1.5;
  ASSERT_TRUE(Ini("val1.Value,Val1")->SaveProperties(&s));
  EXPECT_NE(test::ReadWholeFile(IniPath()).find("Val1=1,5"), std::string::npos);
  test::SetEnv("TARVEL_DECIMAL_SEPARATOR", "");
  ASSERT_TRUE(Ini("val1.Value,Val1")->LoadProperties(&loaded));
  EXPECT_DOUBLE_EQ(loaded.val1_Value, 1.5);
}
#endif

}  // namespace
}  // namespace tarvel
