// The Win32 view: a form shown as a real modal dialog (DialogBoxIndirectParamW)
// owned by the host's window, its controls native windows placed at the
// model's pixel positions, with the visual styles of the common controls
// version 6 (the module's manifest, resource 2, activated around the
// dialog).
//
// The model stays the source of truth: the dialog reads every control from
// it, turns the user's input into model operations (EN_CHANGE -> SetText,
// CBN_SELCHANGE -> SetItemIndex, BN_CLICKED -> Click, UDN_DELTAPOS ->
// SetValue, WM_SIZE -> SetBounds), and mirrors back whatever the model then
// changed (OnModelChange), such as a timeout reset to 0 or a button moved
// by the panel's resize handler.
//
// A form whose reading order is right to left (the translator sets it for a
// language file with BiDiMode=) is shown mirrored and read right to left.
//
// Child windows are direct children of the dialog, created in the model's
// tab order, so the dialog manager's Tab, Enter (the default button) and
// Esc (IDCANCEL) work as usual; group boxes and the panel's separator are
// drawn by windows that take no focus, and panels have no window at all.
//
// Threads: the calling thread runs the dialog's message loop.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "Common/ThreadSafety.h"
#include "platform/faults.h"
#include "ui/FontCharset.h"
#include "ui/FormView.h"

namespace tarvel {

namespace {

constexpr int kFirstControlId = 100;
// Combo boxes are sized with room for their drop-down list.
constexpr int kDropDownHeight = 200;
constexpr UINT kShowHelp = WM_APP + 1;

// The windows of the controls shown now, for NativeWindowOf.
Mutex g_shown_mu;
std::map<const TControl*, HWND> g_shown TARVEL_GUARDED_BY(g_shown_mu);

HMODULE OwnModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

const wchar_t* W(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::u16string WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::u16string text(static_cast<size_t>(n) + 1, u'\0');
  const int got = ::GetWindowTextW(hwnd, reinterpret_cast<wchar_t*>(text.data()), n + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

// VisualStyles activates the module's common-controls manifest for its
// lifetime and loads the common controls within it (version 6); without
// the resource the dialog simply has the classic look. The library is
// loaded here rather than imported, so that loading the module pulls in
// no user-interface libraries a host without a screen does not want.
class VisualStyles {
 public:
  VisualStyles() {
    ACTCTXW ctx{};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = OwnModule();
    ctx.lpResourceName = MAKEINTRESOURCEW(2);
    handle_ = ::CreateActCtxW(&ctx);
    if (handle_ != INVALID_HANDLE_VALUE && !::ActivateActCtx(handle_, &cookie_)) {
      ::ReleaseActCtx(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
    controls_ = ::LoadLibraryW(L"comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = reinterpret_cast<InitFn>(
            reinterpret_cast<void*>(::GetProcAddress(controls_, "InitCommonControlsEx")))) {
      INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
      init(&icc);
    }
  }
  ~VisualStyles() {
    if (controls_) ::FreeLibrary(controls_);
    if (handle_ == INVALID_HANDLE_VALUE) return;
    ::DeactivateActCtx(0, cookie_);
    ::ReleaseActCtx(handle_);
  }
  VisualStyles(const VisualStyles&) = delete;
  VisualStyles& operator=(const VisualStyles&) = delete;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
  HMODULE controls_ = nullptr;
};

// One native window (or two: a spin edit's up-down) per model control.
struct Native {
  TControl* control = nullptr;
  HWND hwnd = nullptr;
  HWND updown = nullptr;
  int id = 0;
};

class Dialog {
 public:
  Dialog(TForm& form, const TFormStyle& style) : form_(form), style_(style) {}

  int32_t Run(HWND owner);

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT msg, WPARAM wparam, LPARAM lparam);

  void Initialise();
  void CreateNatives(TWinControl& parent);
  void CreateNative(TControl& control);
  void Finish();
  // Origin: where a control's parent's client area lies in the dialog's.
  POINT Origin(const TControl& control) const;
  void Place(const Native& n);
  void Mirror(TControl& control, std::string_view property);
  void FillList(const Native& n);
  void FromUser(Native& n, UINT code);
  void Command(int id, UINT code);
  void CloseIfDone();
  void SizeFromWindow();
  Native* ByControl(const TControl* control);
  Native* ById(int id);
  TControl* FocusedControl();

  TForm& form_;
  const TFormStyle style_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  HFONT number_font_ = nullptr;  // the number boxes', where it differs from font_
  std::vector<Native> natives_;
  std::map<TControl*, TModelChangeEvent> saved_;  // the model's own change handlers
  int mirroring_ = 0;  // > 0 while the view writes the model's values into windows
  int from_user_ = 0;  // > 0 while a user's input is handed to the model
  bool ready_ = false;
};

int32_t Dialog::Run(HWND owner) {
  // An empty template: the controls are made in WM_INITDIALOG at the
  // model's pixel positions.
  struct {
    DLGTEMPLATE header;
    WORD menu, window_class, title;
  } tpl{};
  // Not WS_CLIPCHILDREN: the dialog paints the inside of its group boxes.
  tpl.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME |
                     DS_3DLOOK | (style_.help_button ? DS_CONTEXTHELP : 0);
  tpl.header.dwExtendedStyle =
      WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME | (style_.help_button ? WS_EX_CONTEXTHELP : 0);
  // A right-to-left language mirrors the layout (the controls inherit it)
  // and reads right to left; "reading only" keeps the layout.
  const TBiDiMode bidi = form_.BiDiMode();
  if (bidi == bdRightToLeft || bidi == bdRightToLeftNoAlign)
    tpl.header.dwExtendedStyle |= WS_EX_LAYOUTRTL;
  if (bidi != bdLeftToRight) tpl.header.dwExtendedStyle |= WS_EX_RTLREADING;
  VisualStyles styles;
  const INT_PTR result = ::DialogBoxIndirectParamW(OwnModule(), &tpl.header, owner, Proc,
                                                   reinterpret_cast<LPARAM>(this));
  return result == -1 ? kMrCancel : static_cast<int32_t>(form_.ModalResult());
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Dialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lparam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  // A fault in a handler is the module's to report, not the host's end.
  platform::FaultScope scope;
  // No exception may unwind into the dialog manager.
  try {
    return self->Handle(msg, wparam, lparam);
  } catch (...) {
    return FALSE;
  }
}

// F1 reaches the dialog's loop as a key message; the message filter turns
// it into the dialog's help request before a control sees it.
thread_local HHOOK g_help_hook = nullptr;  // one dialog per thread at a time: dialogs are modal

LRESULT CALLBACK HelpKeyFilter(int code, WPARAM wparam, LPARAM lparam) {
  // A fault in the filter is the module's to report, and may not unwind
  // into the system.
  platform::FaultScope scope;
  try {
    auto* msg = reinterpret_cast<MSG*>(lparam);
    if (code == MSGF_DIALOGBOX && msg && msg->message == WM_KEYDOWN && msg->wParam == VK_F1) {
      HWND dialog = msg->hwnd;
      while (dialog && (::GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD))
        dialog = ::GetParent(dialog);
      if (dialog) {
        ::PostMessageW(dialog, kShowHelp, 0, 0);
        return TRUE;
      }
    }
  } catch (...) {
  }
  return ::CallNextHookEx(g_help_hook, code, wparam, lparam);
}

INT_PTR Dialog::Handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      Initialise();
      return FALSE;  // the focus is set: on the form's active control
    case WM_COMMAND:
      Command(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lparam);
      if (hdr->code != UDN_DELTAPOS) return FALSE;
      for (Native& n : natives_) {
        if (n.updown != hdr->hwndFrom) continue;
        auto* spin = static_cast<TSpinEdit*>(n.control);
        const auto* delta = reinterpret_cast<NMUPDOWN*>(lparam);
        ++from_user_;
        spin->SetValue(spin->Value() + delta->iDelta * spin->Increment());
        --from_user_;
        Mirror(*spin, "Value");
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 1);  // the up-down keeps no position
        return TRUE;
      }
      return FALSE;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      const TSizeConstraints& c = form_.Constraints();
      if (c.MinWidth) info->ptMinTrackSize.x = c.MinWidth;
      if (c.MinHeight) info->ptMinTrackSize.y = c.MinHeight;
      if (c.MaxWidth) info->ptMaxTrackSize.x = c.MaxWidth;
      if (c.MaxHeight) info->ptMaxTrackSize.y = c.MaxHeight;
      return TRUE;
    }
    case WM_WINDOWPOSCHANGING: {
      // Whoever sizes the window, it keeps the form's constraints.
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if (!(pos->flags & SWP_NOSIZE)) {
        int32_t w = pos->cx, h = pos->cy;
        form_.Constraints().Apply(w, h);
        pos->cx = w;
        pos->cy = h;
      }
      return FALSE;
    }
    case WM_SIZE:
    case WM_MOVE:
      if (ready_) SizeFromWindow();
      return FALSE;
    case WM_HELP:
    case kShowHelp:
      ShowHelpFor(form_, FocusedControl());
      return TRUE;
    case WM_SYSCOMMAND:
      // The caption's help button opens the topic at once instead of the
      // pointer's "what's this" mode.
      if ((wparam & 0xFFF0) == SC_CONTEXTHELP) {
        ShowHelpFor(form_, FocusedControl());
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      form_.SetModalResult(kMrCancel);
      CloseIfDone();
      return TRUE;
    case WM_DESTROY:
      Finish();
      return FALSE;
    default:
      return FALSE;
  }
}

void Dialog::Initialise() {
  form_.SetHandle(reinterpret_cast<uintptr_t>(hwnd_));
  Application().SetActiveForm(&form_);
  g_help_hook = ::SetWindowsHookExW(WH_MSGFILTER, HelpKeyFilter, nullptr, ::GetCurrentThreadId());
  ::SetWindowTextW(hwnd_, W(form_.Caption()));

  // The window at the model's bounds; the model then learns the frame the
  // system draws around the client area (plus the form's inner border).
  ::SetWindowPos(hwnd_, nullptr, form_.Left(), form_.Top(), form_.Width(), form_.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  RECT outer, client;
  ::GetWindowRect(hwnd_, &outer);
  ::GetClientRect(hwnd_, &client);
  form_.SetFrameSize(outer.right - outer.left - client.right + 2 * style_.border_width,
                     outer.bottom - outer.top - client.bottom + 2 * style_.border_width);

  TFont& font = form_.Font();
  auto make_font = [&](uint8_t charset) {
    return ::CreateFontA(font.Height(), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, font.Name().c_str());
  };
  // A font of no particular set gets the set of the texts' script, so a
  // bitmap family is drawn from its file for that script, or the system
  // takes the nearest font that has the script. Numbers need no script:
  // the number boxes keep the family itself, whose digits fit their width
  // where a nearest font's may not.
  if (font.Charset() == DEFAULT_CHARSET) {
    const uint8_t script = CharsetForControls(form_);
    font_ = make_font(script);
    if (script != DEFAULT_CHARSET) number_font_ = make_font(DEFAULT_CHARSET);
  } else {
    font_ = make_font(font.Charset());
  }
  font.HandleNeeded();
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  // Windows that take the focus first, in tab order (the disabled ones
  // too, so they take their turn once enabled); then what is drawn under
  // them.
  for (TWinControl* c : TabOrderControls(form_, false)) CreateNative(*c);
  CreateNatives(form_);
  for (Native& n : natives_) {
    saved_[n.control] = n.control->OnModelChange;
    n.control->OnModelChange = [this](TControl& c, std::string_view property) {
      auto saved = saved_.find(&c);
      if (saved != saved_.end() && saved->second) saved->second(c, property);
      Mirror(c, property);
    };
  }
  ready_ = true;

  ::SendMessageW(hwnd_, DM_SETDEFID, IDCANCEL, 0);
  for (const Native& n : natives_)
    if (n.control->InheritsFrom(TButton::StaticClass()) &&
        static_cast<TButton*>(n.control)->Default())
      ::SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(n.id), 0);
  if (Native* n = ByControl(form_.ActiveControl())) ::SetFocus(n->hwnd);
}

// CreateNatives makes the windows not made yet, those that take no focus,
// each container's after its contents: a group box lies under its labels.
void Dialog::CreateNatives(TWinControl& parent) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    TControl* c = parent.Controls(i);
    if (c->IsWindowed()) CreateNatives(*static_cast<TWinControl*>(c));
    if (!ByControl(c)) CreateNative(*c);
  }
}

void Dialog::CreateNative(TControl& control) {
  if (ByControl(&control)) return;
  Native n;
  n.control = &control;
  n.id = kFirstControlId + static_cast<int>(natives_.size());
  const wchar_t* cls = nullptr;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD ex_style = 0;
  std::u16string text;
  if (control.InheritsFrom(TButton::StaticClass())) {
    auto& b = static_cast<TButton&>(control);
    cls = L"BUTTON";
    style |= WS_TABSTOP | WS_GROUP | (b.Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    text = b.Caption();
    if (b.ModalResult() == kMrOk) n.id = IDOK;
    if (b.ModalResult() == kMrCancel) n.id = IDCANCEL;
  } else if (control.InheritsFrom(TCheckBox::StaticClass())) {
    cls = L"BUTTON";
    style |= WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX;
    text = static_cast<TCheckBox&>(control).Caption();
  } else if (control.InheritsFrom(TGroupBox::StaticClass())) {
    cls = L"BUTTON";
    style |= BS_GROUPBOX;
    text = static_cast<TGroupBox&>(control).Caption();
  } else if (control.InheritsFrom(TCustomEdit::StaticClass())) {
    cls = L"EDIT";
    style |= WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
    ex_style |= WS_EX_CLIENTEDGE;
    text = static_cast<TCustomEdit&>(control).Text();
  } else if (control.InheritsFrom(TComboBox::StaticClass())) {
    auto& combo = static_cast<TComboBox&>(control);
    cls = L"COMBOBOX";
    style |= WS_TABSTOP | WS_GROUP | WS_VSCROLL |
             (combo.Style() == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN | CBS_AUTOHSCROLL);
  } else if (control.InheritsFrom(TLabel::StaticClass())) {
    auto& label = static_cast<TLabel&>(control);
    cls = L"STATIC";
    style |= label.WordWrap() ? SS_LEFT : SS_LEFTNOWORDWRAP;
    text = label.Caption();
  } else if (control.InheritsFrom(TBevel::StaticClass())) {
    cls = L"STATIC";
    style |= static_cast<TBevel&>(control).Shape() == bsBox ? SS_ETCHEDFRAME : SS_ETCHEDHORZ;
  } else {
    natives_.push_back(n);  // a panel: no window, its children are the dialog's
    return;
  }
  if (control.Visible()) style |= WS_VISIBLE;
  if (!control.Enabled()) style |= WS_DISABLED;
  if (control.BiDiMode() != bdLeftToRight || form_.BiDiMode() != bdLeftToRight)
    ex_style |= WS_EX_RTLREADING;
  n.hwnd =
      ::CreateWindowExW(ex_style, cls, W(text), style, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(n.id)), OwnModule(), nullptr);
  HFONT own_font =
      number_font_ && control.InheritsFrom(TSpinEdit::StaticClass()) ? number_font_ : font_;
  ::SendMessageW(n.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(own_font), FALSE);
  if (control.InheritsFrom(TCheckBox::StaticClass()) && static_cast<TCheckBox&>(control).Checked())
    ::SendMessageW(n.hwnd, BM_SETCHECK, BST_CHECKED, 0);
  if (control.InheritsFrom(TSpinEdit::StaticClass())) {
    n.updown = ::CreateWindowExW(0, UPDOWN_CLASSW, nullptr,
                                 WS_CHILD | WS_CLIPSIBLINGS | UDS_ALIGNRIGHT | UDS_ARROWKEYS |
                                     UDS_NOTHOUSANDS | (control.Visible() ? WS_VISIBLE : 0) |
                                     (control.Enabled() ? 0 : WS_DISABLED),
                                 0, 0, 0, 0, hwnd_, nullptr, OwnModule(), nullptr);
    ::SendMessageW(n.updown, UDM_SETRANGE32, static_cast<WPARAM>(-0x7FFFFFFF), 0x7FFFFFFF);
  }
  natives_.push_back(n);
  {
    MutexLock lock(g_shown_mu);
    g_shown[&control] = n.hwnd;
  }
  FillList(natives_.back());
  Place(natives_.back());
}

POINT Dialog::Origin(const TControl& control) const {
  POINT p{style_.border_width, style_.border_width};
  for (const TControl* parent = control.Parent(); parent && parent != &form_;
       parent = parent->Parent()) {
    p.x += parent->Left();
    p.y += parent->Top();
  }
  return p;
}

void Dialog::Place(const Native& n) {
  if (!n.hwnd) return;
  const TControl& c = *n.control;
  const POINT o = Origin(c);
  int x = o.x + c.Left(), y = o.y + c.Top(), w = c.Width(), h = c.Height();
  if (c.InheritsFrom(TComboBox::StaticClass())) h += kDropDownHeight;
  if (c.InheritsFrom(TBevel::StaticClass()) &&
      static_cast<const TBevel&>(c).Shape() == bsBottomLine) {
    y += h - 2;
    h = 2;
  }
  if (c.InheritsFrom(TLabel::StaticClass()) && static_cast<const TLabel&>(c).VerticalCentre()) {
    // Word-wrapped text centred in its height.
    HDC dc = ::GetDC(n.hwnd);
    HGDIOBJ old = ::SelectObject(dc, font_);
    RECT r{0, 0, w, h};
    const std::u16string& text = static_cast<const TLabel&>(c).Caption();
    const int text_height =
        ::DrawTextW(dc, W(text), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(n.hwnd, dc);
    if (text_height > 0 && text_height < h) {
      y += (h - text_height) / 2;
      h = text_height;
    }
  }
  ::SetWindowPos(n.hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  if (n.updown) {
    // The up-down takes the right end of the control's width.
    ::SendMessageW(n.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(n.hwnd), 0);
  }
}

void Dialog::FillList(const Native& n) {
  if (!n.control->InheritsFrom(TComboBox::StaticClass())) return;
  auto& combo = static_cast<TComboBox&>(*n.control);
  ++mirroring_;
  ::SendMessageW(n.hwnd, CB_RESETCONTENT, 0, 0);
  for (const std::u16string& line : combo.Items().Lines())
    ::SendMessageW(n.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(line)));
  ::SendMessageW(n.hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
  if (combo.Style() == csDropDown && combo.ItemIndex() < 0)
    ::SetWindowTextW(n.hwnd, W(combo.Text()));
  --mirroring_;
}

void Dialog::Mirror(TControl& control, std::string_view property) {
  if (!ready_ && property != "Bounds") return;
  if (&control == &form_) return;
  Native* n = ByControl(&control);
  if (!n) return;
  if (property == "Bounds" || property == "Parent") {
    Place(*n);
    // A panel's children move with it.
    if (control.IsWindowed())
      for (Native& child : natives_)
        for (TControl* p = child.control->Parent(); p; p = p->Parent())
          if (p == &control) {
            Place(child);
            break;
          }
    return;
  }
  if (!n->hwnd) return;
  ++mirroring_;
  if (property == "Enabled") {
    ::EnableWindow(n->hwnd, control.Enabled());
    if (n->updown) ::EnableWindow(n->updown, control.Enabled());
  } else if (property == "Visible") {
    ::ShowWindow(n->hwnd, control.Visible() ? SW_SHOWNA : SW_HIDE);
  } else if (property == "Checked") {
    ::SendMessageW(n->hwnd, BM_SETCHECK,
                   static_cast<TCheckBox&>(control).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (property == "Text" || property == "Value" || property == "Caption") {
    std::u16string text;
    if (control.InheritsFrom(TCustomEdit::StaticClass()))
      text = static_cast<TCustomEdit&>(control).Text();
    else if (control.InheritsFrom(TComboBox::StaticClass()))
      text = static_cast<TComboBox&>(control).Text();
    else if (control.InheritsFrom(TLabel::StaticClass()))
      text = static_cast<TLabel&>(control).Caption();
    else if (control.InheritsFrom(TCaptionedWinControl::StaticClass()))
      text = static_cast<TCaptionedWinControl&>(control).Caption();
    // Only a real change is written: rewriting what the user is typing
    // would put the caret back to the start.
    if (WindowText(n->hwnd) != text) ::SetWindowTextW(n->hwnd, W(text));
  } else if (property == "ItemIndex" || property == "Items") {
    if (property == "Items")
      FillList(*n);
    else
      ::SendMessageW(n->hwnd, CB_SETCURSEL,
                     static_cast<WPARAM>(static_cast<TComboBox&>(control).ItemIndex()), 0);
  }
  --mirroring_;
}

void Dialog::FromUser(Native& n, UINT code) {
  TControl& c = *n.control;
  ++from_user_;
  if (c.InheritsFrom(TCheckBox::StaticClass()) && code == BN_CLICKED) {
    static_cast<TCheckBox&>(c).SetChecked(::SendMessageW(n.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED);
  } else if (c.InheritsFrom(TButton::StaticClass()) && code == BN_CLICKED) {
    static_cast<TButton&>(c).Click();
  } else if (c.InheritsFrom(TCustomEdit::StaticClass()) && code == EN_CHANGE) {
    auto& edit = static_cast<TCustomEdit&>(c);
    edit.SetText(WindowText(n.hwnd));
    // The model may have changed the value (a negative timeout): show it.
    --from_user_;
    Mirror(c, "Text");
    ++from_user_;
  } else if (c.InheritsFrom(TComboBox::StaticClass())) {
    auto& combo = static_cast<TComboBox&>(c);
    if (code == CBN_SELCHANGE)
      combo.SetItemIndex(static_cast<int32_t>(::SendMessageW(n.hwnd, CB_GETCURSEL, 0, 0)));
    else if (code == CBN_EDITCHANGE)
      combo.SetText(WindowText(n.hwnd));
  }
  --from_user_;
}

void Dialog::Command(int id, UINT code) {
  if (!ready_) return;
  if (Native* n = ById(id); n && !mirroring_) {
    FromUser(*n, code);
  } else if (id == IDCANCEL && !n) {
    form_.SetModalResult(kMrCancel);  // Esc with no cancel button
  }
  CloseIfDone();
}

void Dialog::CloseIfDone() {
  if (form_.ModalResult() != kMrNone) ::EndDialog(hwnd_, form_.ModalResult());
}

void Dialog::SizeFromWindow() {
  RECT r;
  if (!::GetWindowRect(hwnd_, &r)) return;
  form_.SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void Dialog::Finish() {
  ready_ = false;
  {
    MutexLock lock(g_shown_mu);
    for (const Native& n : natives_) g_shown.erase(n.control);
  }
  for (auto& [control, handler] : saved_) control->OnModelChange = handler;
  saved_.clear();
  if (g_help_hook) ::UnhookWindowsHookEx(g_help_hook);
  g_help_hook = nullptr;
  form_.SetHandle(0);
  for (HFONT* f : {&font_, &number_font_}) {
    if (*f) ::DeleteObject(*f);
    *f = nullptr;
  }
}

Native* Dialog::ByControl(const TControl* control) {
  for (Native& n : natives_)
    if (n.control == control) return &n;
  return nullptr;
}

Native* Dialog::ById(int id) {
  for (Native& n : natives_)
    if (n.hwnd && n.id == id) return &n;
  return nullptr;
}

TControl* Dialog::FocusedControl() {
  HWND focus = ::GetFocus();
  for (Native& n : natives_)
    if (n.hwnd && (n.hwnd == focus || ::IsChild(n.hwnd, focus))) return n.control;
  return nullptr;
}

class TWin32View : public TFormView {
 public:
  int32_t ShowModal(TForm& form, const TFormStyle& style, platform::WindowHandle owner) override {
    TComponent* previous = Application().ActiveForm();
    Dialog dialog(form, style);
    const int32_t result = dialog.Run(reinterpret_cast<HWND>(owner));
    Application().SetActiveForm(previous);
    return result;
  }
};

}  // namespace

std::unique_ptr<TFormView> NativeFormView() {
  return std::make_unique<TWin32View>();
}

platform::WindowHandle NativeWindowOf(const TControl& control) {
  MutexLock lock(g_shown_mu);
  auto it = g_shown.find(&control);
  return it == g_shown.end() ? 0 : reinterpret_cast<platform::WindowHandle>(it->second);
}

}  // namespace tarvel
