#include "ui/OptionsForm.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "Plugins/vopPluginModule.h"
#include "platform/text.h"

namespace tarvel {

namespace {

// The frame the model assumes until a view states its own: what makes the
// design size of 541 x 402 a client area of 527 x 358 (sizing border and
// caption, plus the inner border of 3 on every side).
constexpr int32_t kDesignFrameWidth = 14, kDesignFrameHeight = 44;

constexpr TAnchors kStretching = akLeft | akTop | akRight;
constexpr TAnchors kRightAnchored = akTop | akRight;

template <class T>
T* Make(TfrmOption& form, TWinControl* parent, const char* name, int32_t left, int32_t top,
        int32_t width, int32_t height) {
  T* control = new T(&form);
  control->SetName(name);
  control->SetBounds(left, top, width, height);
  control->SetParent(parent);
  return control;
}

std::string Numbered(const char* base, int row) {
  return std::string(base) + std::to_string(row + 1);
}

std::u16string Wide(std::string_view ansi) {
  return platform::AnsiToWide(ansi);
}

constexpr std::string_view kShortSaveMarker = ";---short---";

std::vector<std::string> SplitMapLines(std::string_view map) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < map.size()) {
    size_t end = map.find('\n', start);
    if (end == std::string_view::npos) end = map.size();
    std::string line(map.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// MapPath: the property path of a map line ("var1.Text" of
// "var1.Text,Var1"); none for empty lines and comments.
std::optional<std::string_view> MapPath(std::string_view line) {
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  if (line.empty() || line.front() == ';') return std::nullopt;
  std::string_view path = line.substr(0, line.find(','));
  while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
  if (path.empty()) return std::nullopt;
  return path;
}

}  // namespace

const TClassInfo& TfrmOption::StaticClass() {
  static const TClassInfo info{"TfrmOption", &TForm::StaticClass(), {}};
  return info;
}

TfrmOption::TfrmOption(TvopPlugin& module, std::string properties)
    : TForm(&module), module_(module), properties_(std::move(properties)) {
  BuildControls();
  FormCreate();
}

TfrmOption::~TfrmOption() = default;

void TfrmOption::BuildControls() {
  SetName("frmOption");
  SetFrameSize(kDesignFrameWidth, kDesignFrameHeight);
  Constraints().MinWidth = kDesignWidth;
  Constraints().MinHeight = kDesignHeight;
  Constraints().MaxHeight = kDesignHeight;
  SetBounds(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight);
  Font().SetName("MS Sans Serif");
  Font().SetSize(8);
  SetHelpContext(kHelpTopic);

  gbDB = Make<TGroupBox>(*this, this, "gbDB", 0, 0, ClientWidth(), 165);
  gbDB->SetAlign(alTop);
  gbDB->SetCaption(u"Control tarvels for parser variables");
  gbDB->SetTabOrder(0);

  Label1 = Make<TLabel>(*this, gbDB, "Label1", 12, 28, 145, 13);
  Label1->SetAnchors(kStretching);
  Label1->SetCaption(u"Parser variable");
  Label2 = Make<TLabel>(*this, gbDB, "Label2", 168, 28, 197, 13);
  Label2->SetAnchors(kRightAnchored);
  Label2->SetCaption(u"Timeout");
  Label3 = Make<TLabel>(*this, gbDB, "Label3", 374, 28, 135, 13);
  Label3->SetAnchors(kRightAnchored);
  Label3->SetCaption(u"Event");

  static const char16_t* const kUnits[] = {u"Millisecond", u"Second", u"Minute", u"Hour"};
  for (int row = 0; row < kRows; ++row) {
    const int32_t top = 48 + 28 * row;
    const int32_t tab = 4 * row;
    var[row] = Make<TComboBox>(*this, gbDB, Numbered("var", row).c_str(), 10, top, 150, 21);
    var[row]->SetAnchors(kStretching);
    var[row]->SetTabOrder(tab);
    val[row] = Make<TSpinEdit>(*this, gbDB, Numbered("val", row).c_str(), 168, top, 70, 21);
    val[row]->SetAnchors(kRightAnchored);
    val[row]->SetDecimals(6);
    val[row]->SetTabOrder(tab + 1);
    val[row]->OnChange = [this](TObject& sender) { val1Change(sender); };
    type[row] = Make<TComboBox>(*this, gbDB, Numbered("type", row).c_str(), 246, top, 120, 21);
    type[row]->SetAnchors(kRightAnchored);
    type[row]->SetStyle(csDropDownList);
    type[row]->SetTabOrder(tab + 2);
    event[row] = Make<TEdit>(*this, gbDB, Numbered("event", row).c_str(), 374, top, 135, 21);
    event[row]->SetAnchors(kRightAnchored);
    event[row]->SetTabOrder(tab + 3);
    // Names, numbers and event names are the user's, not texts to translate;
    // only type1 carries the unit names the translator works on.
    var[row]->SetTag(kKeepUntranslated);
    val[row]->SetTag(kKeepUntranslated);
    event[row]->SetTag(kKeepUntranslated);
    if (row > 0) type[row]->SetTag(kKeepUntranslated);
  }
  type[0]->Items().BeginUpdate();
  for (const char16_t* unit : kUnits) type[0]->Items().Add(unit);
  type[0]->Items().EndUpdate();

  auto check = [&](const char* name, int32_t top, std::u16string_view caption, bool checked,
                   int32_t tab) {
    TCheckBox* box = Make<TCheckBox>(*this, this, name, 0, top, 400, 17);
    box->SetCaption(caption);
    box->SetChecked(checked);
    box->SetTabOrder(tab);
    return box;
  };
  auto side_label = [&](const char* name, int32_t top, std::u16string_view caption) {
    TLabel* label = Make<TLabel>(*this, this, name, 0, top, 173, 26);
    label->SetCaption(caption);
    label->SetWordWrap(true);
    label->SetVerticalCentre(true);
    return label;
  };
  chkWaitData =
      check("chkWaitData", 168, u"Don't generate events if no data was received", true, 2);
  chkEvOnce = check("chkEvOnce", 188, u"Generate event only once for each timeout", true, 3);
  chkEventResume = check("chkEventResume", 208, u"Generate event when resume", false, 4);
  lblEventResume = side_label("lblEventResume", 228, u"Event name suffix");
  edtEventResume = Make<TEdit>(*this, this, "edtEventResume", 176, 232, 157, 21);
  edtEventResume->SetText(u"-RESUME");
  edtEventResume->SetTabOrder(5);
  chkCheckClient = check("chkCheckClient", 260, u"Control for each client separately", true, 6);
  lblClientVar = side_label("lblClientVar", 280, u"Parser variable with client ID");
  edtClientVar = Make<TEdit>(*this, this, "edtClientVar", 176, 284, 157, 21);
  edtClientVar->SetText(u"CLIENTID");
  edtClientVar->SetTabOrder(7);
  chkCheckClient->OnClick = [this](TObject&) { chkCheckClientClick(); };
  chkEventResume->OnClick = [this](TObject&) { chkEventResumeClick(); };

  pBot = Make<TPanel>(*this, this, "pBot", 0, 313, ClientWidth(), 45);
  pBot->SetBordered(false);
  pBot->SetHelpContext(kHelpTopic);
  pBot->SetTabOrder(1);
  pBot->OnResize = [this](TObject&) { pBotResize(); };
  pBot->SetAlign(alBottom);
  Bevel6 = Make<TBevel>(*this, pBot, "Bevel6", 0, 0, pBot->ClientWidth(), 9);
  Bevel6->SetShape(bsBottomLine);
  Bevel6->SetAlign(alTop);
  btnOK = Make<TButton>(*this, pBot, "btnOK", 180, 16, 75, 25);
  btnOK->SetCaption(u"OK");
  btnOK->SetModalResult(kMrOk);
  btnOK->SetTabOrder(0);
  btnCancel = Make<TButton>(*this, pBot, "btnCancel", 260, 16, 75, 25);
  btnCancel->SetCaption(u"Cancel");
  btnCancel->SetModalResult(kMrCancel);
  btnCancel->SetDefault(true);
  btnCancel->SetCancel(true);
  btnCancel->SetTabOrder(1);
  pBotResize();

  HtmlHelp = new THtmlHelp(this);
  HtmlHelp->SetName("HtmlHelp");
  HtmlHelp->SetTag(kKeepUntranslated);
  HtmlHelp->Loaded();

  SetActiveControl(btnCancel);
}

void TfrmOption::FormCreate() {
  try {
    // 1. The caption names the module and its version.
    std::string caption = module_.Description;
    caption += ' ';
    caption += module_.VersionText();
    SetCaption(Wide(caption));

    // 2. The help file lies beside the module, named after it.
    const std::string help_file =
        module_.ModuleDir() +
        std::filesystem::path(module_.ModuleFileName()).replace_extension(".chm").string();
    HtmlHelp->SetChmFile(help_file);
    SetHelpFile(help_file);
    Application().SetHelpFile(help_file);

    // 3. Into the host's language.
    TranslateForm();

    // 4. The host's parser items, sorted.
    std::vector<std::string> names;
    for (int i = 0; i < module_.ParserItemCount(); ++i)
      names.push_back(module_.GetParserItem(i).Name);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return platform::AnsiLowerCase(a) < platform::AnsiLowerCase(b);
    });
    std::vector<std::u16string> items;
    for (const std::string& name : names) items.push_back(Wide(name));
    var[0]->Items().Assign(items);

    // 5. The other rows get the same lists.
    for (int row = 1; row < kRows; ++row) {
      var[row]->Items().Assign(var[0]->Items().Lines());
      type[row]->Items().Assign(type[0]->Items().Lines());
    }

    // 6. to 8. The stored settings, and the place over the host's window
    // unless the user has moved or sized the dialog before. Settings that
    // are there but cannot be read leave the defaults shown; the dialog
    // still opens, and OK will not put those defaults over them.
    module_.RecordDialogBounds(*this);
    module_.LoadSettings(properties_, this, {}, &load_failure_);
    if (module_.DialogMoved(*this) || !module_.CentreDialogOnOwner(*this)) KeepOnAMonitor();

    // 9. The two edits follow their check boxes.
    chkCheckClientClick();
    chkEventResumeClick();

    if (!load_failure_.empty()) {
      for (const std::string& line : SplitMapLines(properties_)) {
        if (auto path = MapPath(line)) shown_values_[std::string(*path)] = MappedValue(*path);
      }
    }
  } catch (...) {
    // The dialog opens with whatever was done.
  }
  shown_at_ = Bounds();
}

platform::ScreenRect TfrmOption::Bounds() const {
  return {Left(), Top(), Left() + Width(), Top() + Height()};
}

void TfrmOption::KeepOnAMonitor() {
  bool on_a_monitor = true;
  const platform::ScreenRect at = Bounds();
  const platform::ScreenRect work = platform::NearestWorkArea(at, &on_a_monitor);
  if (on_a_monitor || work.Width() <= 0 || work.Height() <= 0) return;
  const int32_t left = std::max(work.left, std::min(at.left, work.right - at.Width()));
  const int32_t top = std::max(work.top, std::min(at.top, work.bottom - at.Height()));
  SetBounds(left, top, Width(), Height());
}

std::string TfrmOption::MappedValue(std::string_view path) const {
  try {
    const size_t dot = path.find('.');
    if (dot == std::string_view::npos) return ReadPropertyValue(*this, path).ToAnsi();
    const TComponent* control = FindComponent(path.substr(0, dot));
    return control ? ReadPropertyValue(*control, path.substr(dot + 1)).ToAnsi() : std::string();
  } catch (...) {
    return {};
  }
}

std::string TfrmOption::ChangedLines(std::string_view map) const {
  std::string kept;
  for (const std::string& line : SplitMapLines(map)) {
    const std::optional<std::string_view> path = MapPath(line);
    if (!path) continue;
    auto shown = shown_values_.find(std::string(*path));
    if (shown != shown_values_.end() && shown->second == MappedValue(*path)) continue;
    kept += line + "\r\n";
  }
  return kept;
}

void TfrmOption::TranslateForm() {
  module_.ApplyTranslation(this);
}

void TfrmOption::FormClose(int32_t modal_result) {
  // The map: the dialog's place up to the short-save marker, then the
  // settings.
  size_t body_at = 0;
  if (const size_t marker = properties_.find(kShortSaveMarker); marker != std::string::npos) {
    const size_t line_end = properties_.find('\n', marker);
    body_at = line_end == std::string::npos ? properties_.size() : line_end + 1;
  }
  const std::string place = properties_.substr(0, body_at);
  const std::string settings = properties_.substr(body_at);
  // The place counts as the user's only once the user moved or sized the
  // dialog; a place it was only given (centred over the host's window)
  // would keep it from being centred next time.
  const bool placed = Bounds() != shown_at_;
  if (modal_result != kMrOk) {
    if (placed) module_.SaveSettingsShort(place, this);
    return;
  }
  std::string map = placed ? place : std::string();
  map += load_failure_.empty() ? settings : ChangedLines(settings);
  if (!map.empty()) module_.SaveSettings(map, this);
}

void TfrmOption::val1Change(TObject& sender) {
  auto& spin = static_cast<TSpinEdit&>(sender);
  if (!(spin.Value() >= 0)) spin.SetValue(0);
}

void TfrmOption::chkCheckClientClick() {
  const bool on = chkCheckClient->Checked();
  lblClientVar->SetEnabled(on);
  edtClientVar->SetEnabled(on);
}

void TfrmOption::chkEventResumeClick() {
  const bool on = chkEventResume->Checked();
  lblEventResume->SetEnabled(on);
  edtEventResume->SetEnabled(on);
}

void TfrmOption::pBotResize() {
  if (!btnOK || !btnCancel) return;  // while the panel is being built
  const int32_t half = pBot->ClientWidth() / 2;
  btnOK->SetLeft(half - btnOK->Width() - 2);
  btnCancel->SetLeft(btnOK->Left() + btnOK->Width() + 4);
}

int32_t TfrmOption::ShowModal(TFormView& view, platform::WindowHandle owner) {
  SetModalResult(kMrNone);
  shown_at_ = Bounds();
  // Said as the dialog opens, outside the command lock (the host may take
  // its time to take the line).
  if (!load_failure_.empty())
    module_.SendLog(1, "Settings not loaded: " + load_failure_ +
                           "; the options dialog shows defaults, and OK stores only what is "
                           "changed");
  TFormStyle style;
  style.border_width = kBorderWidth;
  style.help_button = true;
  int32_t result = view.ShowModal(*this, style, owner);
  if (result != kMrOk) result = kMrCancel;
  FormClose(result);
  return result;
}

}  // namespace tarvel
