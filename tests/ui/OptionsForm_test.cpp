// The options form through the headless view: what FormCreate builds and
// loads, every handler, the keys, widening, and what OK and Cancel store
// in a real INI file.
#include "ui/OptionsForm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Plugins/vopPluginModule.h"
#include "monitor/DataSourceCfg.h"
#include "platform/help.h"
#include "platform/text.h"
#include "host/host_window.h"
#include "support/host_harness.h"
#include "support/service_outage.h"
#include "support/test_support.h"
#include "ui/HeadlessView.h"
#include "ui/OptionValues.h"

namespace tarvel {
namespace {

using Key = THeadlessView::Key;

std::string Narrow(const std::u16string& s) {
  return platform::WideToAnsi(s);
}

class OptionsFormTest : public ::testing::Test {
 protected:
  OptionsFormTest() {
    module.Description = "Tarvel";
    module.SetIniFile(ini);
#ifndef _WIN32
    // Help pages are not opened in a browser while the tests run.
    ::setenv("TARVEL_HELP_VIEWER", "true", 1);
#endif
  }
  ~OptionsFormTest() override {
    if (owner) platform::DestroyMessageWindow(owner);
  }

  // SetOwner gives the instance the host's window at rect (OWNERFORM).
  void SetOwner(const platform::ScreenRect& rect) {
    owner = platform::CreateMessageWindow(nullptr);
    ASSERT_TRUE(platform::MoveWindowTo(owner, rect));
    ParamsListPtr params = NewParamsList();
    params->Add("OWNERFORM", OleVariant(static_cast<int32_t>(owner)));
    module.TakeOwnerWindow(params.get());
  }
  void Store(const std::string& common_lines) {
    test::WriteWholeFile(ini, "[Common]\r\n" + common_lines);
  }
  std::string Stored() const {
    return test::ReadWholeFile(ini);
  }

  // Show runs one showing as the module does; the form is there for the
  // script and for checks until the next Show.
  int32_t Show(THeadlessView::Script script) {
    form = std::make_unique<TfrmOption>(module, kTaPluginProperties);
    THeadlessView view(std::move(script));
    return form->ShowModal(view, module.OwnerWindow());
  }
  // Create builds the form without showing it.
  TfrmOption& Create() {
    form = std::make_unique<TfrmOption>(module, kTaPluginProperties);
    return *form;
  }

  test::TempDir dir;
  std::string ini = dir.File("host.ini");
  TvopPlugin module{nullptr};
  platform::WindowHandle owner = 0;
  std::unique_ptr<TfrmOption> form;
};

TEST_F(OptionsFormTest, ControlsHaveTheirNamesKindsPlacesAnchorsTabOrderTextsAndTags) {
  TfrmOption& f = Create();
  constexpr TAnchors kPlain = akLeft | akTop, kStretch = akLeft | akTop | akRight,
                     kRight = akTop | akRight;
  struct {
    const char* name;
    const TClassInfo& kind;
    const char* parent;
    int32_t left, top, width, height;
    TAnchors anchors;
    int32_t tab;  // -1: not windowed
    const char* text;
    int32_t tag;
  } rows[] = {
      {"gbDB", TGroupBox::StaticClass(), "frmOption", 0, 0, 527, 165, kPlain, 0,
       "Control tarvels for parser variables", 0},
      {"Label1", TLabel::StaticClass(), "gbDB", 12, 28, 145, 13, kStretch, -1, "Parser variable",
       0},
      {"Label2", TLabel::StaticClass(), "gbDB", 168, 28, 197, 13, kRight, -1, "Timeout", 0},
      {"Label3", TLabel::StaticClass(), "gbDB", 374, 28, 135, 13, kRight, -1, "Event", 0},
      {"var1", TComboBox::StaticClass(), "gbDB", 10, 48, 150, 21, kStretch, 0, "", 9999},
      {"val1", TSpinEdit::StaticClass(), "gbDB", 168, 48, 70, 21, kRight, 1, "0.000000", 9999},
      {"type1", TComboBox::StaticClass(), "gbDB", 246, 48, 120, 21, kRight, 2, "", 0},
      {"event1", TEdit::StaticClass(), "gbDB", 374, 48, 135, 21, kRight, 3, "", 9999},
      {"var2", TComboBox::StaticClass(), "gbDB", 10, 76, 150, 21, kStretch, 4, "", 9999},
      {"type2", TComboBox::StaticClass(), "gbDB", 246, 76, 120, 21, kRight, 6, "", 9999},
      {"val3", TSpinEdit::StaticClass(), "gbDB", 168, 104, 70, 21, kRight, 9, "0.000000", 9999},
      {"event4", TEdit::StaticClass(), "gbDB", 374, 132, 135, 21, kRight, 15, "", 9999},
      {"chkWaitData", TCheckBox::StaticClass(), "frmOption", 0, 168, 400, 17, kPlain, 2,
       "Don't generate events if no data was received", 0},
      {"chkEvOnce", TCheckBox::StaticClass(), "frmOption", 0, 188, 400, 17, kPlain, 3,
       "Generate event only once for each timeout", 0},
      {"chkEventResume", TCheckBox::StaticClass(), "frmOption", 0, 208, 400, 17, kPlain, 4,
       "Generate event when resume", 0},
      {"lblEventResume", TLabel::StaticClass(), "frmOption", 0, 228, 173, 26, kPlain, -1,
       "Event name suffix", 0},
      {"edtEventResume", TEdit::StaticClass(), "frmOption", 176, 232, 157, 21, kPlain, 5, "-RESUME",
       0},
      {"chkCheckClient", TCheckBox::StaticClass(), "frmOption", 0, 260, 400, 17, kPlain, 6,
       "Control for each client separately", 0},
      {"lblClientVar", TLabel::StaticClass(), "frmOption", 0, 280, 173, 26, kPlain, -1,
       "Parser variable with client ID", 0},
      {"edtClientVar", TEdit::StaticClass(), "frmOption", 176, 284, 157, 21, kPlain, 7, "CLIENTID",
       0},
      {"pBot", TPanel::StaticClass(), "frmOption", 0, 313, 527, 45, kPlain, 1, "", 0},
      {"Bevel6", TBevel::StaticClass(), "pBot", 0, 0, 527, 9, kPlain, -1, "", 0},
      // Centred by pBotResize in the design width: half 263.
      {"btnOK", TButton::StaticClass(), "pBot", 186, 16, 75, 25, kPlain, 0, "OK", 0},
      {"btnCancel", TButton::StaticClass(), "pBot", 265, 16, 75, 25, kPlain, 1, "Cancel", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TComponent* c = f.FindComponent(r.name);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->InheritsFrom(r.kind));
    auto* control = static_cast<TControl*>(c);
    EXPECT_EQ(control->Parent()->Name(), r.parent);
    EXPECT_EQ(control->Left(), r.left);
    EXPECT_EQ(control->Top(), r.top);
    EXPECT_EQ(control->Width(), r.width);
    EXPECT_EQ(control->Height(), r.height);
    if (control->Align() == alNone) {
      EXPECT_EQ(control->Anchors(), r.anchors);
    }
    if (r.tab >= 0) {
      EXPECT_EQ(static_cast<TWinControl*>(control)->TabOrder(), r.tab);
    }
    EXPECT_EQ(c->Tag(), r.tag);
    OleVariant text;
    for (const char* property : {"Caption", "Text"})
      if (LookupProperty(*c, property)) text = ReadPropertyValue(*c, property);
    if (LookupProperty(*c, "Caption") || LookupProperty(*c, "Text")) {
      EXPECT_EQ(text.ToAnsi(), r.text);
    }
  }
  EXPECT_EQ(f.gbDB->Align(), alTop);
  EXPECT_EQ(f.pBot->Align(), alBottom);
  EXPECT_FALSE(f.pBot->Bordered());
  EXPECT_EQ(f.pBot->HelpContext(), 80);
  EXPECT_EQ(f.Bevel6->Align(), alTop);
  EXPECT_EQ(f.Bevel6->Shape(), bsBottomLine);
  EXPECT_TRUE(f.lblClientVar->WordWrap() && f.lblClientVar->VerticalCentre());
  EXPECT_TRUE(f.lblEventResume->WordWrap() && f.lblEventResume->VerticalCentre());
  EXPECT_EQ(f.HtmlHelp->Tag(), 9999);

  // The defaults.
  EXPECT_TRUE(f.chkWaitData->Checked());
  EXPECT_TRUE(f.chkEvOnce->Checked());
  EXPECT_FALSE(f.chkEventResume->Checked());
  EXPECT_TRUE(f.chkCheckClient->Checked());
  for (int row = 0; row < TfrmOption::kRows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(f.type[row]->Style(), csDropDownList);
    EXPECT_EQ(f.type[row]->ItemIndex(), -1);
    ASSERT_EQ(f.type[row]->Items().Count(), 4);
    EXPECT_EQ(Narrow(f.type[row]->Items().Strings(1)), "Second");
    EXPECT_EQ(f.var[row]->Style(), csDropDown);
    EXPECT_EQ(f.val[row]->Decimals(), 6);
    EXPECT_EQ(f.val[row]->Value(), 0);
  }
  EXPECT_EQ(Narrow(f.type[0]->Items().Strings(0)), "Millisecond");
  EXPECT_EQ(Narrow(f.type[0]->Items().Strings(3)), "Hour");

  // The window.
  EXPECT_EQ(f.Name(), "frmOption");
  EXPECT_EQ(f.Owner(), &module);
  EXPECT_EQ(f.Width(), 541);
  EXPECT_EQ(f.Height(), 402);
  EXPECT_EQ(f.Constraints().MinWidth, 541);
  EXPECT_EQ(f.Constraints().MinHeight, 402);
  EXPECT_EQ(f.Constraints().MaxHeight, 402);
  EXPECT_EQ(f.Constraints().MaxWidth, 0);
  EXPECT_EQ(f.Font().Name(), "MS Sans Serif");
  EXPECT_EQ(f.Font().Size(), 8);
  EXPECT_EQ(f.HelpContext(), 80);
  EXPECT_EQ(f.ActiveControl(), f.btnCancel);
  EXPECT_TRUE(f.btnCancel->Default() && f.btnCancel->Cancel());
  EXPECT_FALSE(f.btnOK->Default() || f.btnOK->Cancel());
}

TEST_F(OptionsFormTest, FormCreateNamesTheModuleAndItsHelpFileBesideIt) {
  TfrmOption& f = Create();
  EXPECT_EQ(Narrow(f.Caption()), "Tarvel " + module.VersionText());
  const std::string chm =
      module.ModuleDir() +
      std::filesystem::path(module.ModuleFileName()).replace_extension(".chm").string();
  EXPECT_EQ(f.HelpFile(), chm);
  EXPECT_EQ(f.HtmlHelp->ChmFile(), chm);
  EXPECT_EQ(Application().HelpFile(), chm);
}

TEST_F(OptionsFormTest, FormCreateTranslatesTheTextsButNotTheUsersEntries) {
  ASSERT_NE(module.Translator(), nullptr);
  module.Translator()->SetLanguageFile(TARVEL_TEST_DATA_DIR "/../../lang/tarvel.lng");
  module.ChangeLanguage("RU");
  Store("Event1=Timeout\r\nVar1=Event\r\n");
  TfrmOption& f = Create();
  EXPECT_EQ(f.gbDB->Caption(), u"Контроль тайм-аутов переменных парсера");
  EXPECT_EQ(f.Label1->Caption(), u"Переменная парсера");
  EXPECT_EQ(f.chkCheckClient->Caption(), u"Контролировать каждого клиента отдельно");
  EXPECT_EQ(f.btnCancel->Caption(), u"Отмена");
  for (int row = 0; row < TfrmOption::kRows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(f.type[row]->Items().Strings(1), u"Секунда");
  }
  // What the user typed stays as typed, also where it reads like a text of
  // the dialog.
  EXPECT_EQ(f.event[0]->Text(), u"Timeout");
  EXPECT_EQ(f.var[0]->Text(), u"Event");
  EXPECT_EQ(f.edtEventResume->Text(), u"-RESUME");
  EXPECT_EQ(f.edtClientVar->Text(), u"CLIENTID");
}

TEST_F(OptionsFormTest, FormCreateListsTheHostsParserItemsSortedInEveryRow) {
  module.SetParserItems("feed|temp\r\nfeed|Alpha\r\nfeed|PRESS\r\nfeed|beta");
  TfrmOption& f = Create();
  for (int row = 0; row < TfrmOption::kRows; ++row) {
    SCOPED_TRACE(row);
    std::string listed;
    for (const auto& line : f.var[row]->Items().Lines()) listed += Narrow(line) + ",";
    EXPECT_EQ(listed, "Alpha,beta,PRESS,temp,");
  }
}

TEST_F(OptionsFormTest, WithoutParserItemsTheListsAreEmptyButNamesCanBeTyped) {
  int32_t result = Show([](THeadlessView& v) {
    v.Type("var3", u"LEVEL");
    v.Click("btnOK");
  });
  EXPECT_EQ(result, kMrOk);
  EXPECT_EQ(form->var[2]->Items().Count(), 0);
  EXPECT_NE(Stored().find("Var3=LEVEL"), std::string::npos) << Stored();
}

TEST_F(OptionsFormTest, FormCreateLoadsTheStoredSettingsIntoTheControls) {
  module.SetParserItems("feed|TEMP\r\nfeed|PRESS");
  Store(
      "Var1=TEMP\r\nType1=2\r\nVal1=1.5\r\nEvent1=temp-lost\r\nVar4=FREE\r\nType4=3\r\n"
      "Val4=-3\r\nWait data=False\r\nEvent once=False\r\nCheck client=False\r\n"
      "Client variable=BOILER\r\nResume event=True\r\nResume event suffix=-BACK\r\n");
  TfrmOption& f = Create();
  EXPECT_EQ(Narrow(f.var[0]->Text()), "TEMP");
  EXPECT_EQ(f.type[0]->ItemIndex(), 2);
  EXPECT_EQ(Narrow(f.type[0]->Text()), "Minute");
  EXPECT_EQ(f.val[0]->Value(), 1.5);
  EXPECT_EQ(Narrow(f.event[0]->Text()), "temp-lost");
  EXPECT_EQ(Narrow(f.var[3]->Text()), "FREE");
  EXPECT_EQ(f.type[3]->ItemIndex(), 3);
  EXPECT_EQ(f.val[3]->Value(), 0);  // a stored negative timeout reads as 0
  EXPECT_FALSE(f.chkWaitData->Checked());
  EXPECT_FALSE(f.chkEvOnce->Checked());
  EXPECT_FALSE(f.chkCheckClient->Checked());
  EXPECT_EQ(Narrow(f.edtClientVar->Text()), "BOILER");
  EXPECT_TRUE(f.chkEventResume->Checked());
  EXPECT_EQ(Narrow(f.edtEventResume->Text()), "-BACK");
  // Step 9: the edits follow the loaded flags.
  EXPECT_FALSE(f.lblClientVar->Enabled());
  EXPECT_FALSE(f.edtClientVar->Enabled());
  EXPECT_TRUE(f.lblEventResume->Enabled());
  EXPECT_TRUE(f.edtEventResume->Enabled());
}

TEST_F(OptionsFormTest, DefaultFlagsStartWithTheSuffixOffAndTheClientVariableOn) {
  TfrmOption& f = Create();
  EXPECT_FALSE(f.lblEventResume->Enabled());
  EXPECT_FALSE(f.edtEventResume->Enabled());
  EXPECT_TRUE(f.lblClientVar->Enabled());
  EXPECT_TRUE(f.edtClientVar->Enabled());
}

TEST_F(OptionsFormTest, TheDialogIsCentredOverTheHostUntilItWasMovedOnce) {
  SetOwner({100, 50, 900, 650});
  TfrmOption& centred = Create();
  EXPECT_EQ(centred.Left(), 229);  // 100 + (800 - 541) / 2
  EXPECT_EQ(centred.Top(), 149);   // 50 + (600 - 402) / 2

  Store("Left=20\r\nTop=30\r\nHeight=402\r\nWidth=600\r\n");
  TfrmOption& stored = Create();
  EXPECT_EQ(stored.Left(), 20);
  EXPECT_EQ(stored.Top(), 30);
  EXPECT_EQ(stored.Width(), 600);

  // Stored bounds equal to the design ones count as never moved.
  Store("Left=314\r\nTop=184\r\nHeight=402\r\nWidth=541\r\n");
  EXPECT_EQ(Create().Left(), 229);
}

TEST_F(OptionsFormTest, WithoutHostWindowTheDialogKeepsItsDesignedPlace) {
  TfrmOption& f = Create();
  EXPECT_EQ(f.Left(), 314);
  EXPECT_EQ(f.Top(), 184);
}

TEST_F(OptionsFormTest, AStoredHeightOtherThanTheFixedOneIsNotTaken) {
  Store("Height=600\r\nWidth=300\r\n");
  TfrmOption& f = Create();
  EXPECT_EQ(f.Height(), 402);
  EXPECT_EQ(f.Width(), 541);  // never narrower than designed
}

TEST_F(OptionsFormTest, ANegativeTimeoutBecomesZeroAtOnceAndOtherValuesStay) {
  struct {
    const char16_t* typed;
    double value;
  } cases[] = {
      {u"-5", 0}, {u"0", 0}, {u"2.5", 2.5}, {u"-0.000001", 0}, {u"12", 12},
  };
  Show([&](THeadlessView& v) {
    for (const auto& c : cases) {
      SCOPED_TRACE(Narrow(c.typed));
      v.Type("val2", c.typed);
      EXPECT_EQ(static_cast<TSpinEdit&>(v.Control("val2")).Value(), c.value);
    }
    // Every row's box follows the same rule.
    for (const char* name : {"val1", "val3", "val4"}) {
      SCOPED_TRACE(name);
      v.Type(name, u"-1");
      EXPECT_EQ(static_cast<TSpinEdit&>(v.Control(name)).Value(), 0);
    }
  });
}

TEST_F(OptionsFormTest, TheCheckBoxesEnableTheirEditsAndTheClientVariableIsSavedAsShown) {
  int32_t result = Show([](THeadlessView& v) {
    v.Type("edtClientVar", u"BOILER");
    v.Click("chkCheckClient");
    EXPECT_FALSE(v.Control("lblClientVar").Enabled());
    EXPECT_FALSE(v.Control("edtClientVar").Enabled());
    EXPECT_THROW(v.Type("edtClientVar", u"X"), std::invalid_argument);
    v.Click("chkEventResume");
    EXPECT_TRUE(v.Control("lblEventResume").Enabled());
    v.Type("edtEventResume", u"-UP");
    v.Click("chkEventResume");
    EXPECT_FALSE(v.Control("edtEventResume").Enabled());
    v.Click("btnOK");
  });
  ASSERT_EQ(result, kMrOk);
  const std::string stored = Stored();
  EXPECT_NE(stored.find("Check client=False"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Client variable=BOILER"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resume event suffix=-UP"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resume event=False"), std::string::npos) << stored;
}

TEST_F(OptionsFormTest, OkSavesEverySettingWithTheDialogsPlace) {
  module.SetParserItems("feed|TEMP");
  int32_t result = Show([](THeadlessView& v) {
    v.Pick("var1", 0);
    v.Type("val1", u"10");
    v.Pick("type1", 1);
    v.Type("event1", u"temp-lost");
    v.Click("chkWaitData");
    v.Click("btnOK");
  });
  ASSERT_EQ(result, kMrOk);
  const std::string stored = Stored();
  for (const char* line :
       {"Var1=TEMP", "Type1=1", "Val1=10", "Event1=temp-lost", "Type2=-1",
        "Var2=", "Wait data=False", "Event once=True", "Check client=True",
        "Client variable=CLIENTID", "Resume event suffix=-RESUME", "Resume event=False"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(stored.find(std::string(line) + "\r\n"), std::string::npos) << stored;
  }
  // The user did not move it: the place it was given is not the user's.
  EXPECT_EQ(stored.find("Left="), std::string::npos) << stored;
  EXPECT_EQ(stored.find("Width="), std::string::npos) << stored;

  // Moved, then confirmed: its place is saved with the settings.
  ASSERT_EQ(Show([](THeadlessView& v) {
              v.Move(20, 30);
              v.Click("btnOK");
            }),
            kMrOk);
  for (const char* line : {"Left=20", "Top=30", "Height=402", "Width=541", "Var1=TEMP"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(Stored().find(std::string(line) + "\r\n"), std::string::npos) << Stored();
  }
}

// A dialog that opened centred over the host's window and was closed where
// it opened keeps opening centred, however it was closed; the place counts
// as the user's once the user moved or widened it.
TEST_F(OptionsFormTest, AnUnmovedDialogKeepsOpeningCentredHoweverItIsClosed) {
  const struct {
    const char* name;
    THeadlessView::Script close;
    bool placed;  // the user moved or widened it
  } cases[] = {
      {"Cancel", [](THeadlessView& v) { v.Click("btnCancel"); }, false},
      {"Esc", [](THeadlessView& v) { v.Press(Key::kEscape); }, false},
      {"OK", [](THeadlessView& v) { v.Click("btnOK"); }, false},
      {"the close button", [](THeadlessView& v) { v.CloseWindow(); }, false},
      {"moved, then Cancel",
       [](THeadlessView& v) {
         v.Move(40, 50);
         v.Click("btnCancel");
       },
       true},
      {"widened, then OK",
       [](THeadlessView& v) {
         v.Resize(700, 402);
         v.Click("btnOK");
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Store("Var1=TEMP\r\n");
    SetOwner({100, 50, 900, 650});
    Show(c.close);
    // The host's window has moved meanwhile.
    ASSERT_TRUE(platform::MoveWindowTo(owner, {300, 250, 1100, 850}));
    TfrmOption& next = Create();
    if (c.placed) {
      EXPECT_NE(next.Left(), 429) << Stored();
    } else {
      EXPECT_EQ(next.Left(), 429) << Stored();  // 300 + (800 - 541) / 2
      EXPECT_EQ(next.Top(), 349) << Stored();   // 250 + (600 - 402) / 2
      EXPECT_EQ(Stored().find("Left="), std::string::npos) << Stored();
    }
    platform::DestroyMessageWindow(owner);
    owner = 0;
  }
}

// Settings stored off every monitor (a place a program stored that is no
// longer on any screen): the dialog opens on the nearest monitor's work
// area, keeping its size.
TEST_F(OptionsFormTest, AStoredPlaceOffEveryMonitorOpensOnTheNearestOne) {
  bool on_a_monitor = false;
  const platform::ScreenRect work = platform::NearestWorkArea({0, 0, 541, 402}, &on_a_monitor);
  ASSERT_TRUE(on_a_monitor);
  const struct {
    const char* name;
    int32_t left, top;
    int32_t want_left, want_top;
  } cases[] = {
      {"above and left of it", work.left - 270 - 541, work.top - 201 - 402, work.left, work.top},
      {"beyond its right and lower edges", work.right + 50, work.bottom + 50, work.right - 600,
       work.bottom - 402},
      {"on it: stays", work.left + 10, work.top + 20, work.left + 10, work.top + 20},
      {"partly on it: stays", work.left - 300, work.top + 20, work.left - 300, work.top + 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Store("Left=" + std::to_string(c.left) + "\r\nTop=" + std::to_string(c.top) +
          "\r\nHeight=402\r\nWidth=600\r\n");
    TfrmOption& f = Create();
    EXPECT_EQ(f.Left(), c.want_left);
    EXPECT_EQ(f.Top(), c.want_top);
    EXPECT_EQ(f.Width(), 600);
  }
}

// Stored settings that cannot be read while the dialog opens (here the
// INI file's lock cannot be made): the dialog shows the defaults, the
// host's log names the reason once, and OK overwrites nothing the user did
// not change.
TEST_F(OptionsFormTest, AfterAFailedLoadOkStoresOnlyWhatTheUserChanged) {
  const std::string before =
      "[Common]\r\nVar1=PRESS\r\nType1=1\r\nVal1=5\r\nEvent1=press-lost\r\n"
      "Wait data=False\r\n; the operator's note\r\n";
  const struct {
    const char* name;
    THeadlessView::Script script;
    const char* after;
  } cases[] = {
      {"nothing changed", [](THeadlessView& v) { v.Click("btnOK"); }, nullptr},
      {"one event typed",
       [](THeadlessView& v) {
         v.Type("event2", u"flow-lost");
         v.Click("btnOK");
       },
       "[Common]\r\nVar1=PRESS\r\nType1=1\r\nVal1=5\r\nEvent1=press-lost\r\n"
       "Wait data=False\r\n; the operator's note\r\nEvent2=flow-lost\r\n"},
      {"a flag clicked",
       [](THeadlessView& v) {
         v.Click("chkEvOnce");
         v.Click("btnOK");
       },
       "[Common]\r\nVar1=PRESS\r\nType1=1\r\nVal1=5\r\nEvent1=press-lost\r\n"
       "Wait data=False\r\n; the operator's note\r\nEvent once=False\r\n"},
  };
  // The host's window, which the log lines go to.
  test::RecordingWindow host;
  test::HostCall context(1, "CONTEXT");
  context.Param("MessagesProcessorHandle", OleVariant(host.HandleParam()));
  module.ExecuteCommand("CONTEXT", context.get());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteWholeFile(ini, before);
    {
      test::IniLockOutage outage(ini);
      Create();
    }
    EXPECT_FALSE(form->LoadFailure().empty());
    EXPECT_EQ(form->var[0]->Text(), u"") << "the defaults are shown";
    THeadlessView view(c.script);
    ASSERT_EQ(form->ShowModal(view, module.OwnerWindow()), kMrOk);
    EXPECT_EQ(Stored(), c.after ? c.after : before);
    const std::vector<std::string> lines = host.LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 1), "\x02") << "level 1";
    EXPECT_NE(lines[0].find("Settings not loaded: "), std::string::npos) << lines[0];
  }
}

TEST_F(OptionsFormTest, CancellingKeepsTheSettingsAndStoresOnlyTheNewPlace) {
  Store("Var1=TEMP\r\nType1=1\r\nVal1=10\r\n");
  struct {
    const char* name;
    THeadlessView::Script close;
  } cases[] = {
      {"Cancel", [](THeadlessView& v) { v.Click("btnCancel"); }},
      {"Esc", [](THeadlessView& v) { v.Press(Key::kEscape); }},
      {"Enter in an edit (Cancel is the default button)",
       [](THeadlessView& v) {
         v.Type("event1", u"x");
         v.Press(Key::kEnter);
       }},
      {"Enter in a variable box",
       [](THeadlessView& v) {
         v.Focus("var1");
         v.Press(Key::kEnter);
       }},
      {"the window's close button", [](THeadlessView& v) { v.CloseWindow(); }},
      {"a script that leaves it open", [](THeadlessView&) {}},
  };
  int32_t left = 40;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ++left;
    int32_t result = Show([&](THeadlessView& v) {
      v.Type("var1", u"OTHER");
      v.Type("val1", u"99");
      v.Move(left, 60);
      c.close(v);
    });
    EXPECT_EQ(result, kMrCancel);
    const std::string stored = Stored();
    EXPECT_NE(stored.find("Left=" + std::to_string(left) + "\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Top=60\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Var1=TEMP\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Val1=10\r\n"), std::string::npos) << stored;
  }
}

TEST_F(OptionsFormTest, EnterOnTheFocusedOkButtonConfirms) {
  int32_t result = Show([](THeadlessView& v) {
    EXPECT_EQ(v.Focused(), v.Form().FindComponent("btnCancel"));
    v.Press(Key::kShiftTab);  // from Cancel back to OK
    EXPECT_EQ(v.Focused(), v.Form().FindComponent("btnOK"));
    v.Press(Key::kEnter);
  });
  EXPECT_EQ(result, kMrOk);
}

TEST_F(OptionsFormTest, TabVisitsTheRowsThenTheButtonsThenTheOptions) {
  Show([](THeadlessView& v) {
    std::string visited;
    for (int i = 0; i < 24; ++i) {
      v.Press(Key::kTab);
      visited += v.Focused()->Name() + " ";
    }
    // edtEventResume is skipped: it is disabled while resume events are off.
    EXPECT_EQ(visited,
              "chkWaitData chkEvOnce chkEventResume chkCheckClient edtClientVar "
              "var1 val1 type1 event1 var2 val2 type2 event2 var3 val3 type3 event3 "
              "var4 val4 type4 event4 btnOK btnCancel chkWaitData ");
  });
}

TEST_F(OptionsFormTest, WideningStretchesTheVariablesAndKeepsTheRightColumnAndButtonsInPlace) {
  Show([](THeadlessView& v) {
    auto& f = static_cast<TfrmOption&>(v.Form());
    const int32_t right_gap = f.gbDB->Width() - (f.event[0]->Left() + f.event[0]->Width());
    v.Resize(741, 402);
    EXPECT_EQ(f.Width(), 741);
    EXPECT_EQ(f.gbDB->Width(), 727);
    EXPECT_EQ(f.pBot->Width(), 727);
    for (int row = 0; row < TfrmOption::kRows; ++row) {
      SCOPED_TRACE(row);
      EXPECT_EQ(f.var[row]->Left(), 10);
      EXPECT_EQ(f.var[row]->Width(), 350);
      EXPECT_EQ(f.val[row]->Left(), 368);
      EXPECT_EQ(f.type[row]->Left(), 446);
      EXPECT_EQ(f.event[row]->Left(), 574);
      EXPECT_EQ(f.gbDB->Width() - (f.event[row]->Left() + f.event[row]->Width()), right_gap);
    }
    EXPECT_EQ(f.Label1->Width(), 345);
    EXPECT_EQ(f.Label3->Left(), 574);
    // Centred 4 pixels apart: half of 727 is 363.
    EXPECT_EQ(f.btnOK->Left(), 363 - 75 - 2);
    EXPECT_EQ(f.btnCancel->Left(), f.btnOK->Left() + 75 + 4);
    // The options below keep their place.
    EXPECT_EQ(f.edtClientVar->Left(), 176);
    EXPECT_EQ(f.edtClientVar->Width(), 157);
    // Neither taller nor narrower than designed.
    v.Resize(400, 500);
    EXPECT_EQ(f.Width(), 541);
    EXPECT_EQ(f.Height(), 402);
    EXPECT_EQ(f.btnOK->Left(), 263 - 75 - 2);
  });
}

TEST_F(OptionsFormTest, PanelResizeCentresTheButtonsForOddAndEvenWidths) {
  TfrmOption& f = Create();
  struct {
    int32_t panel_width, ok_left, cancel_left;
  } cases[] = {{527, 186, 265}, {528, 187, 266}, {800, 323, 402}, {154, 0, 79}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.panel_width);
    f.pBot->SetAlign(alNone);
    f.pBot->SetWidth(c.panel_width);
    EXPECT_EQ(f.btnOK->Left(), c.ok_left);
    EXPECT_EQ(f.btnCancel->Left(), c.cancel_left);
  }
}

TEST_F(OptionsFormTest, F1AsksForTheOptionsTopicOfTheHelpFileBesideTheModule) {
  platform::RecordHelpRequests(true);
  Show([](THeadlessView& v) {
    v.Press(Key::kF1);  // on Cancel, in the panel with topic 80
    v.Focus("var2");
    v.Press(Key::kF1);  // nothing of its own: the form's topic
  });
  const auto seen = platform::RecordedHelpRequests();
  platform::RecordHelpRequests(false);
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& request : seen) {
    EXPECT_EQ(request.command, platform::kHhHelpContext);
    EXPECT_EQ(request.data, 80u);
    EXPECT_EQ(request.path, form->HelpFile());
  }
  // The help component gave the application's help back as the form went.
  form.reset();
  EXPECT_FALSE(Application().HelpContext(80));
}

TEST_F(OptionsFormTest, TheHelpComponentAnswersTheApplicationsRequests) {
  platform::RecordHelpRequests(true);
  TfrmOption& f = Create();
  bool call_help = true;
  EXPECT_TRUE(f.HtmlHelp->ApplicationHelp(TApplication::kHelpContextPopup, 81, call_help));
  EXPECT_FALSE(call_help);
  EXPECT_TRUE(f.HtmlHelp->ApplicationHelp(TApplication::kHelpContents, 0, call_help));
  EXPECT_TRUE(f.HtmlHelp->ApplicationHelp(3, 0, call_help));  // any other: nothing shown
  const auto seen = platform::RecordedHelpRequests();
  platform::RecordHelpRequests(false);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].command, platform::kHhHelpContext);
  EXPECT_EQ(seen[0].data, 81u);
  EXPECT_EQ(seen[1].command, platform::kHhDisplayToc);

  f.HtmlHelp->SetWinDef("main");
  EXPECT_EQ(f.HtmlHelp->HelpPath(""), f.HtmlHelp->ChmFile() + ">main");
  EXPECT_EQ(f.HtmlHelp->HelpPath("options.htm"), f.HtmlHelp->ChmFile() + "::options.htm>main");
  f.HtmlHelp->SetDefaultFile(true);
  EXPECT_EQ(f.HtmlHelp->ChmFile(), "");
}

TEST_F(OptionsFormTest, ValuesEnteredByNameGoThroughTheFormsOwnRules) {
  int32_t result = Show([](THeadlessView& v) {
    EnterOptionValues(v,
                      "Var1=TEMP\nType1=second\nVal1=-4\nevent1=lost\n"
                      "Wait data=no\nResume event=on\nResume event suffix=-UP\n"
                      "chkCheckClient=0\ntype2=3\nVal2 = 2.5\nWidth=700\n",
                      kTaPluginProperties);
  });
  ASSERT_EQ(result, kMrOk);
  const std::string stored = Stored();
  for (const char* line :
       {"Var1=TEMP", "Type1=1", "Val1=0", "Event1=lost", "Wait data=False", "Resume event=True",
        "Resume event suffix=-UP", "Check client=False", "Type2=3", "Val2=2.5", "Width=700"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(stored.find(std::string(line) + "\r\n"), std::string::npos) << stored;
  }
}

TEST_F(OptionsFormTest, ValuesThatTheDialogWouldRefuseAreNamedAndNothingIsSaved) {
  struct {
    const char* lines;
    const char* reason;
  } cases[] = {
      {"Var9=X", "Var9: no control named Var9"},
      {"Type1=Week",
       "Type1: \"Week\" is not in the list (Millisecond, Second, Minute, Hour, or "
       "0 to 3)"},
      {"Type1=4", "Type1: \"4\" is not in the list"},
      {"Val1=ten", "Val1: \"ten\" is not a number"},
      {"Wait data=maybe", "Wait data: \"maybe\" is neither true nor false"},
      {"Check client=false\nClient variable=X", "Client variable: edtClientVar is disabled"},
      {"Label1=X", "Label1: Label1 takes no input"},
      {"just text", "\"just text\" is not NAME=VALUE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    std::string reason;
    int32_t result = Show([&](THeadlessView& v) {
      try {
        EnterOptionValues(v, c.lines, kTaPluginProperties);
      } catch (const std::invalid_argument& e) {
        reason = e.what();
      }
    });
    EXPECT_EQ(result, kMrCancel);
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    EXPECT_EQ(Stored().find("Var1="), std::string::npos);
  }
}

}  // namespace
}  // namespace tarvel
