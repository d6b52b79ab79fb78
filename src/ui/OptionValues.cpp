#include "ui/OptionValues.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "Common/OleVariant.h"
#include "platform/text.h"

namespace tarvel {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    if (!line.empty()) out.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

// ControlFor: the control a NAME stands for: itself, or the path of the map
// line whose stored name it is ("Wait data" -> chkWaitData).
std::string ControlFor(const THeadlessView& view, std::string_view name,
                       std::string_view property_map) {
  if (view.Form().FindComponent(name)) return std::string(name);
  for (std::string_view line : Lines(property_map)) {
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos || line.front() == ';') continue;
    if (!SameTextAscii(Trim(line.substr(comma + 1)), name)) continue;
    std::string_view path = line.substr(0, comma);
    return std::string(path.substr(0, path.find('.')));
  }
  return std::string(name);
}

bool ParseFlag(std::string_view text, bool* flag) {
  for (const char* yes : {"true", "1", "yes", "on"})
    if (SameTextAscii(text, yes)) return *flag = true;
  for (const char* no : {"false", "0", "no", "off"})
    if (SameTextAscii(text, no)) {
      *flag = false;
      return true;
    }
  return false;
}

int ParseIndex(std::string_view text) {
  if (text.empty() || text.size() > 3) return -1;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// Number: a whole number for the dialog's place.
int32_t Number(std::string_view name, std::string_view text) {
  auto v = ParseNumber(text);
  if (!v || *v < -1e6 || *v > 1e6)
    throw std::invalid_argument(std::string(name) + ": \"" + std::string(text) +
                                "\" is not a number");
  return static_cast<int32_t>(*v);
}

void Enter(THeadlessView& view, std::string_view name, std::string_view value,
           std::string_view property_map) {
  TForm& form = view.Form();
  if (SameTextAscii(name, "Left") || SameTextAscii(name, "Top")) {
    const int32_t n = Number(name, value);
    SameTextAscii(name, "Left") ? view.Move(n, form.Top()) : view.Move(form.Left(), n);
    return;
  }
  if (SameTextAscii(name, "Width") || SameTextAscii(name, "Height")) {
    const int32_t n = Number(name, value);
    SameTextAscii(name, "Width") ? view.Resize(n, form.Height()) : view.Resize(form.Width(), n);
    return;
  }
  const std::string control_name = ControlFor(view, name, property_map);
  TControl& control = view.Control(control_name);
  const std::u16string text = platform::AnsiToWide(value);
  if (control.InheritsFrom(TCheckBox::StaticClass())) {
    bool on = false;
    if (!ParseFlag(value, &on))
      throw std::invalid_argument(std::string(name) + ": \"" + std::string(value) +
                                  "\" is neither true nor false");
    if (static_cast<TCheckBox&>(control).Checked() != on) view.Click(control_name);
    return;
  }
  if (control.InheritsFrom(TComboBox::StaticClass()) &&
      static_cast<TComboBox&>(control).Style() == csDropDownList) {
    const TWideStrings& items = static_cast<TComboBox&>(control).Items();
    int index = -1;
    for (int i = 0; i < items.Count() && index < 0; ++i)
      if (SameTextAscii(platform::WideToAnsi(items.Strings(i)), value)) index = i;
    if (index < 0) index = ParseIndex(value);
    if (index < 0 || index >= items.Count()) {
      std::string choices;
      for (int i = 0; i < items.Count(); ++i)
        choices += (i ? ", " : "") + platform::WideToAnsi(items.Strings(i));
      throw std::invalid_argument(std::string(name) + ": \"" + std::string(value) +
                                  "\" is not in the list (" + choices + ", or 0 to " +
                                  std::to_string(items.Count() - 1) + ")");
    }
    view.Pick(control_name, index);
    return;
  }
  if (control.InheritsFrom(TSpinEdit::StaticClass())) {
    auto number = ParseNumber(value);
    if (!number)
      throw std::invalid_argument(std::string(name) + ": \"" + std::string(value) +
                                  "\" is not a number");
  }
  view.Type(control_name, text);
}

}  // namespace

void EnterOptionValues(THeadlessView& view, std::string_view lines, std::string_view property_map) {
  for (std::string_view line : Lines(lines)) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0)
      throw std::invalid_argument("\"" + std::string(line) + "\" is not NAME=VALUE");
    const std::string_view name = Trim(line.substr(0, eq));
    try {
      Enter(view, name, Trim(line.substr(eq + 1)), property_map);
    } catch (const std::invalid_argument& e) {
      const std::string what = e.what();
      // Name the line when the view's reason names only a control.
      if (what.rfind(std::string(name) + ":", 0) == 0) throw;
      throw std::invalid_argument(std::string(name) + ": " + what);
    }
  }
  view.Click("btnOK");
}

}  // namespace tarvel
