// The options dialog as a real Win32 dialog (under Wine and a private X
// server): placement over the host's window, focus and default button,
// visual styles, keys, widening, and F1 reaching the help viewer with the
// options topic of the shipped help file. The dialog runs modally on the
// test's thread; a second thread drives it with window messages, as the
// keyboard would.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "Plugins/vopPluginModule.h"
#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "platform/help.h"
#include "support/service_outage.h"
#include "support/test_support.h"
#include "ui/OptionsForm.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

HWND Hwnd(const TControl* control) {
  return reinterpret_cast<HWND>(NativeWindowOf(*control));
}

RECT Rect(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  return r;
}

std::wstring Text(HWND hwnd) {
  wchar_t buf[256] = {};
  ::GetWindowTextW(hwnd, buf, 255);
  return buf;
}

// Driver runs on its own thread while the dialog is up on the test's.
class Driver {
 public:
  Driver(TfrmOption& form, DWORD ui_thread) : form_(form), ui_thread_(ui_thread) {}

  TfrmOption& form() { return form_; }
  HWND dialog() const { return reinterpret_cast<HWND>(form_.Handle()); }

  // WaitFor polls until done() holds, at most 10 s.
  bool WaitFor(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(10ms))
      if (done()) return true;
    return false;
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(ui_thread_, &info);
    return info.hwndFocus;
  }
  // Key presses a key in the focused window, as the keyboard does.
  void Key(WPARAM vk) {
    HWND focus = Focus();
    ::PostMessageW(focus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(focus, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    Settle();
  }
  void Type(const wchar_t* text) {
    for (const wchar_t* c = text; *c; ++c) ::PostMessageW(Focus(), WM_CHAR, *c, 1);
    Settle();
  }
  // Settle waits until the dialog has handled what was posted before.
  void Settle() {
    DWORD_PTR ignored;
    std::this_thread::sleep_for(50ms);
    ::SendMessageTimeoutW(dialog(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
  }
  bool Focused(const TControl* control) {
    HWND want = Hwnd(control);
    return WaitFor([&] {
      HWND f = Focus();
      return f == want || ::IsChild(want, f);
    });
  }

 private:
  TfrmOption& form_;
  DWORD ui_thread_;
};

class Win32DialogTest : public ::testing::Test {
 protected:
  Win32DialogTest() {
    module.Description = "Tarvel";
    module.SetIniFile(ini);
    module.SetParserItems("feed|TEMP\r\nfeed|PRESS");
    owner = platform::CreateMainWindow("host", {100, 50, 900, 650}, nullptr);
    // Every test needs the host's window; say why it is missing.
    if (!owner) ADD_FAILURE() << "the host's window could not be made: error " << ::GetLastError();
    ParamsListPtr params = NewParamsList();
    params->Add("OWNERFORM", OleVariant(static_cast<int32_t>(owner)));
    module.TakeOwnerWindow(params.get());
  }
  ~Win32DialogTest() override { platform::DestroyMessageWindow(owner); }

  // Show shows the form with the native view; drive runs meanwhile on
  // another thread and must close the dialog.
  // prepare, when given, sees the form before it is shown.
  int32_t Show(const std::function<void(Driver&)>& drive,
               const std::function<void(TfrmOption&)>& prepare = nullptr) {
    form = std::make_unique<TfrmOption>(module, kTaPluginProperties, TProxyCodeObject());
    if (prepare) prepare(*form);
    form->HtmlHelp->SetChmFile(test::ProgramDir() + "\\tarvel.chm");
    Driver driver(*form, ::GetCurrentThreadId());
    std::thread driving([&] {
      if (!driver.WaitFor([&] { return form->Handle() && ::IsWindowVisible(driver.dialog()); })) {
        ADD_FAILURE() << "the dialog did not show";
        return;
      }
      drive(driver);
    });
    auto view = NativeFormView();
    const int32_t result = form->ShowModal(*view, module.OwnerWindow());
    driving.join();
    return result;
  }
  std::string Stored() const { return test::ReadWholeFile(ini); }

  test::TempDir dir;
  std::string ini = dir.File("host.ini");
  TvopPlugin module{nullptr};
  platform::WindowHandle owner = 0;
  std::unique_ptr<TfrmOption> form;
};

TEST_F(Win32DialogTest, OpensCentredOverTheHostWithFocusAndDefaultOnCancel) {
  int32_t result = Show([&](Driver& d) {
    HWND dlg = d.dialog();
    const RECT r = Rect(dlg);
    EXPECT_EQ(r.left, 229);  // 100 + (800 - 541) / 2
    EXPECT_EQ(r.top, 149);   // 50 + (600 - 402) / 2
    EXPECT_EQ(r.right - r.left, 541);
    EXPECT_EQ(r.bottom - r.top, 402);
    EXPECT_EQ(::GetWindow(dlg, GW_OWNER), reinterpret_cast<HWND>(owner));
    EXPECT_FALSE(::IsWindowEnabled(reinterpret_cast<HWND>(owner)));  // modal
    const LONG style = ::GetWindowLongW(dlg, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(::GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_CONTEXTHELP);
    EXPECT_EQ(Text(dlg).rfind(L"Tarvel ", 0), 0u);
    EXPECT_TRUE(d.Focused(d.form().btnCancel));
    EXPECT_EQ(LOWORD(::SendMessageW(dlg, DM_GETDEFID, 0, 0)), IDCANCEL);
    // Buttons of the common controls version 6 know their ideal size.
    SIZE ideal{};
    EXPECT_TRUE(::SendMessageW(Hwnd(d.form().btnOK), BCM_GETIDEALSIZE, 0,
                               reinterpret_cast<LPARAM>(&ideal)));
    EXPECT_EQ(Text(Hwnd(d.form().gbDB)), L"Control tarvels for parser variables");
    EXPECT_EQ(::SendMessageW(Hwnd(d.form().chkWaitData), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(::IsWindowEnabled(Hwnd(d.form().edtEventResume)));
    EXPECT_EQ(::SendMessageW(Hwnd(d.form().var[0]), CB_GETCOUNT, 0, 0), 2);
    d.Key(VK_ESCAPE);
  });
  EXPECT_EQ(result, kMrCancel);
}

TEST_F(Win32DialogTest, KeyboardEntriesReachTheModelAndOkSavesThem) {
  int32_t result = Show([](Driver& d) {
    TfrmOption& f = d.form();
    ASSERT_TRUE(d.Focused(f.btnCancel));
    // From Cancel: the five options below, then the first row.
    for (int i = 0; i < 6; ++i) d.Key(VK_TAB);
    ASSERT_TRUE(d.Focused(f.var[0]));
    d.Type(L"TEMP");
    d.Key(VK_TAB);
    ASSERT_TRUE(d.Focused(f.val[0]));
    d.Type(L"-5");  // a negative timeout is 0 at once
    EXPECT_TRUE(d.WaitFor([&] { return Text(Hwnd(f.val[0])) == L"0.000000"; }))
        << Text(Hwnd(f.val[0]));
    ::SendMessageW(Hwnd(f.val[0]), EM_SETSEL, 0, -1);
    d.Type(L"3");
    d.Key(VK_TAB);
    d.Type(L"m");  // Minute, chosen by its first letter
    EXPECT_TRUE(d.WaitFor([&] { return f.type[0]->ItemIndex() == 2; }));
    d.Key(VK_TAB);
    d.Type(L"temp-lost");
    // The check box takes a click: the client variable goes grey.
    ::SendMessageW(Hwnd(f.chkCheckClient), BM_CLICK, 0, 0);
    EXPECT_FALSE(::IsWindowEnabled(Hwnd(f.edtClientVar)));
    ::SetFocus(nullptr);
    ::PostMessageW(d.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Hwnd(f.btnOK)), TRUE);
    ASSERT_TRUE(d.Focused(f.btnOK));
    d.Key(VK_RETURN);  // on the focused OK button
  });
  ASSERT_EQ(result, kMrOk);
  const std::string stored = Stored();
  for (const char* line :
       {"Var1=TEMP", "Val1=3", "Type1=2", "Event1=temp-lost", "Check client=False"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(stored.find(std::string(line) + "\r\n"), std::string::npos) << stored;
  }
}

TEST_F(Win32DialogTest, EscapeAndEnterCloseAsCancelAndKeepTheSettings) {
  test::WriteWholeFile(ini, "[Common]\r\nVar1=PRESS\r\n");
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    SCOPED_TRACE(key == VK_ESCAPE ? "Esc" : "Enter in an edit");
    int32_t result = Show([&](Driver& d) {
      ::PostMessageW(d.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Hwnd(d.form().event[1])),
                     TRUE);
      ASSERT_TRUE(d.Focused(d.form().event[1]));
      d.Type(L"changed");
      d.Key(key);
    });
    EXPECT_EQ(result, kMrCancel);
    EXPECT_NE(Stored().find("Var1=PRESS\r\n"), std::string::npos) << Stored();
    EXPECT_EQ(Stored().find("Event2="), std::string::npos) << Stored();
  }
}

TEST_F(Win32DialogTest, WideningKeepsTheRightColumnAnchoredAndTheButtonsCentred) {
  Show([](Driver& d) {
    TfrmOption& f = d.form();
    HWND dlg = d.dialog();
    auto client_right = [&] {
      RECT c;
      ::GetClientRect(dlg, &c);
      POINT p{c.right, 0};
      ::ClientToScreen(dlg, &p);
      return p.x;
    };
    const LONG event_gap = client_right() - Rect(Hwnd(f.event[0])).right;
    const LONG var_width = Rect(Hwnd(f.var[0])).right - Rect(Hwnd(f.var[0])).left;
    const RECT r = Rect(dlg);
    ::SetWindowPos(dlg, nullptr, r.left, r.top, 741, 402, SWP_NOZORDER);
    d.Settle();
    EXPECT_EQ(Rect(dlg).right - Rect(dlg).left, 741);
    for (int row = 0; row < TfrmOption::kRows; ++row) {
      SCOPED_TRACE(row);
      EXPECT_EQ(client_right() - Rect(Hwnd(f.event[row])).right, event_gap);
      EXPECT_EQ(Rect(Hwnd(f.var[row])).right - Rect(Hwnd(f.var[row])).left, var_width + 200);
    }
    const RECT ok = Rect(Hwnd(f.btnOK)), cancel = Rect(Hwnd(f.btnCancel));
    EXPECT_EQ(cancel.left - ok.right, 4);
    RECT c;
    ::GetClientRect(dlg, &c);
    POINT centre{c.right / 2, 0};
    ::ClientToScreen(dlg, &centre);
    EXPECT_LE(std::abs((ok.left + cancel.right) / 2 - centre.x), 2);
    // Neither narrower than designed nor of another height.
    ::SetWindowPos(dlg, nullptr, r.left, r.top, 300, 600, SWP_NOZORDER);
    d.Settle();
    EXPECT_EQ(Rect(dlg).right - Rect(dlg).left, 541);
    EXPECT_EQ(Rect(dlg).bottom - Rect(dlg).top, 402);
    d.Key(VK_ESCAPE);
  });
  // Widened and narrowed back where it opened: no place of the user's.
  EXPECT_EQ(Stored().find("Width="), std::string::npos) << Stored();
}

// Closed where it opened, by Esc or OK, the dialog keeps opening centred
// over the host's window, also after that window moved; once the user
// moved it, it opens where the user left it.
TEST_F(Win32DialogTest, AnUnmovedDialogKeepsOpeningCentredOverTheHost) {
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    SCOPED_TRACE(key == VK_ESCAPE ? "Esc" : "OK");
    ASSERT_TRUE(platform::MoveWindowTo(owner, {100, 50, 900, 650}));
    Show([&](Driver& d) {
      if (key == VK_RETURN) {
        ::PostMessageW(d.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Hwnd(d.form().btnOK)),
                       TRUE);
        ASSERT_TRUE(d.Focused(d.form().btnOK));
      }
      d.Key(key);
    });
    ASSERT_TRUE(platform::MoveWindowTo(owner, {300, 250, 1000, 750}));
    Show([&](Driver& d) {
      const RECT r = Rect(d.dialog());
      EXPECT_EQ(r.left, 379);  // 300 + (700 - 541) / 2
      EXPECT_EQ(r.top, 299);   // 250 + (500 - 402) / 2
      d.Key(VK_ESCAPE);
    });
  }
  // Moved by the user: remembered.
  Show([&](Driver& d) {
    const RECT r = Rect(d.dialog());
    ::SetWindowPos(d.dialog(), nullptr, r.left - 100, r.top - 100, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    d.Settle();
    d.Key(VK_ESCAPE);
  });
  Show([&](Driver& d) {
    EXPECT_EQ(Rect(d.dialog()).left, 279);
    EXPECT_EQ(Rect(d.dialog()).top, 199);
    d.Key(VK_ESCAPE);
  });
}

// A place stored off every monitor (what a program that stored a place
// without showing the dialog could leave): the dialog opens on the work
// area of the nearest monitor.
TEST_F(Win32DialogTest, AStoredPlaceOffEveryMonitorOpensOnTheNearestMonitor) {
  test::WriteWholeFile(ini, "[Common]\r\nLeft=-3000\r\nTop=-3000\r\nHeight=402\r\nWidth=541\r\n");
  Show([&](Driver& d) {
    const RECT r = Rect(d.dialog());
    EXPECT_NE(::MonitorFromRect(&r, MONITOR_DEFAULTTONULL), nullptr)
        << r.left << "," << r.top << " " << r.right << "," << r.bottom;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoW(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info);
    EXPECT_EQ(r.left, info.rcWork.left);
    EXPECT_EQ(r.top, info.rcWork.top);
    d.Key(VK_ESCAPE);
  });
}

// Stored settings that cannot be read while the dialog opens (the INI
// file's lock cannot be made then): the dialog opens with the defaults,
// and OK after typing one event stores that event and nothing else.
TEST_F(Win32DialogTest, AfterAFailedLoadOkStoresOnlyWhatTheUserTyped) {
  const std::string before = "[Common]\r\nVar1=PRESS\r\nType1=1\r\nVal1=5\r\nEvent1=press-lost\r\n";
  test::WriteWholeFile(ini, before);
  std::optional<test::IniLockOutage> outage(std::in_place, ini);
  const int32_t result = Show([&](Driver& d) {
    outage.reset();  // readable again by the time the user presses OK
    TfrmOption& f = d.form();
    EXPECT_EQ(Text(Hwnd(f.event[0])), L"") << "the defaults are shown";
    ::PostMessageW(d.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Hwnd(f.event[1])), TRUE);
    ASSERT_TRUE(d.Focused(f.event[1]));
    d.Type(L"flow-lost");
    ::PostMessageW(d.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Hwnd(f.btnOK)), TRUE);
    ASSERT_TRUE(d.Focused(f.btnOK));
    d.Key(VK_RETURN);
  });
  EXPECT_EQ(result, kMrOk);
  EXPECT_FALSE(form->LoadFailure().empty());
  EXPECT_EQ(Stored(), before + "Event2=flow-lost\r\n");
}

// A right-to-left reading order (a language file's BiDiMode=) reaches the
// native dialog: its layout is mirrored and its texts read right to left.
TEST_F(Win32DialogTest, ARightToLeftFormIsShownMirroredAndReadRightToLeft) {
  Show(
      [&](Driver& d) {
        TfrmOption& f = d.form();
        EXPECT_TRUE(::GetWindowLongW(d.dialog(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
        EXPECT_TRUE(::GetWindowLongW(Hwnd(f.event[0]), GWL_EXSTYLE) & WS_EX_RTLREADING);
        // The variables, first from the left in the design, are the first
        // from the right.
        const RECT dialog = Rect(d.dialog()), var = Rect(Hwnd(f.var[0])),
                   event = Rect(Hwnd(f.event[0]));
        EXPECT_GT(var.left, event.left);
        EXPECT_LT(dialog.right - var.right, 30);
        d.Key(VK_ESCAPE);
      },
      [](TfrmOption& f) { f.SetBiDiMode(bdRightToLeft); });
}

// The form's font, MS Sans Serif 8 pt (11 pixels), draws the timeout
// boxes, and their whole value fits in the 70-pixel box, whatever the
// language: numbers need no script, so the boxes keep the family itself
// while captions in another script ask for that script's set.
TEST_F(Win32DialogTest, TimeoutBoxesShowTheirWholeValueInTheFormsFont) {
  static const struct {
    const char* name;
    const char16_t* caption;  // of the timeout column's label; null: as designed
    BYTE caption_charset;     // the set the label's font asks for
  } cases[] = {
      {"Western", nullptr, DEFAULT_CHARSET},
      {"Cyrillic", u"\u0422\u0430\u0439\u043C-\u0430\u0443\u0442", RUSSIAN_CHARSET},
  };
  auto font_of = [](HWND hwnd) {
    return reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Show(
        [&](Driver& d) {
          HWND box = Hwnd(d.form().val[0]);
          LOGFONTW asked{};
          ::GetObjectW(font_of(box), sizeof asked, &asked);
          EXPECT_EQ(std::wstring(asked.lfFaceName), L"MS Sans Serif");
          EXPECT_EQ(asked.lfHeight, -11);
          EXPECT_EQ(asked.lfCharSet, DEFAULT_CHARSET);
          LOGFONTW label{};
          ::GetObjectW(font_of(Hwnd(d.form().Label2)), sizeof label, &label);
          EXPECT_EQ(label.lfCharSet, c.caption_charset);

          const std::wstring value = Text(box);
          EXPECT_EQ(value, L"2.000000");
          HDC dc = ::GetDC(box);
          HGDIOBJ old = ::SelectObject(dc, font_of(box));
          wchar_t face[LF_FACESIZE] = {};
          ::GetTextFaceW(dc, LF_FACESIZE, face);
          SIZE extent{};
          ::GetTextExtentPoint32W(dc, value.c_str(), static_cast<int>(value.size()), &extent);
          ::SelectObject(dc, old);
          ::ReleaseDC(box, dc);
          EXPECT_EQ(std::wstring(face), L"MS Sans Serif");
          RECT text_area{};
          ::SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text_area));
          EXPECT_LE(extent.cx, text_area.right - text_area.left)
              << "\"" << std::string(value.begin(), value.end()) << "\" is cut off";
          d.Key(VK_ESCAPE);
        },
        [&](TfrmOption& f) {
          f.val[0]->SetValue(2);
          if (c.caption) f.Label2->SetCaption(c.caption);
        });
  }
}

TEST_F(Win32DialogTest, F1AndTheHelpButtonOpenTheOptionsTopicAtEveryShowing) {
  platform::RecordHelpRequests(true);
  for (int showing = 1; showing <= 2; ++showing) {
    SCOPED_TRACE(showing);
    Show([&](Driver& d) {
      ASSERT_TRUE(d.Focused(d.form().btnCancel));
      if (showing == 1)
        d.Key(VK_F1);
      else  // the caption's help button
        ::PostMessageW(d.dialog(), WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
      ASSERT_TRUE(d.WaitFor([] { return !platform::RecordedHelpRequests().empty(); }));
      ::PostMessageW(d.dialog(), WM_COMMAND, IDCANCEL, 0);
    });
    const auto seen = platform::RecordedHelpRequests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].command, platform::kHhHelpContext);
    EXPECT_EQ(seen[0].data, 80u);
    EXPECT_EQ(seen[0].path, test::ProgramDir() + "\\tarvel.chm");
    // The viewer found topic 80 in the file's context map: it opened a window.
    EXPECT_NE(seen[0].answer, 0u);
    platform::RecordHelpRequests(true);  // forget it for the next showing
  }
  platform::RecordHelpRequests(false);
}

}  // namespace
}  // namespace tarvel
