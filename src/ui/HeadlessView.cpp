#include "ui/HeadlessView.h"

#include <algorithm>
#include <stdexcept>

namespace tarvel {

namespace {

std::string Named(const TComponent& c) {
  return c.Name().empty() ? std::string("(unnamed)") : c.Name();
}

// FindButton: the enabled, visible button with the flag set, or null.
TButton* FindButton(TForm& form, bool (TButton::*flag)() const) {
  for (int i = 0; i < form.ComponentCount(); ++i) {
    TComponent* c = form.Components(i);
    if (!c->InheritsFrom(TButton::StaticClass())) continue;
    auto* button = static_cast<TButton*>(c);
    if ((button->*flag)() && button->Enabled() && button->Visible()) return button;
  }
  return nullptr;
}

// Usable: the control and every parent up to the form are enabled and
// visible.
bool Usable(const TControl& control) {
  for (const TControl* c = &control; c; c = c->Parent())
    if (!c->Enabled() || !c->Visible()) return false;
  return true;
}

}  // namespace

int32_t THeadlessView::ShowModal(TForm& form, const TFormStyle&, platform::WindowHandle) {
  struct Shown {
    THeadlessView& view;
    TComponent* previous;
    ~Shown() {
      Application().SetActiveForm(previous);
      view.form_ = nullptr;
      view.focused_ = nullptr;
    }
  } shown{*this, Application().ActiveForm()};
  form_ = &form;
  Application().SetActiveForm(&form);
  focused_ = form.ActiveControl();
  if (!focused_ || !Usable(*focused_)) {
    auto order = TabOrderControls(form);
    focused_ = order.empty() ? nullptr : order.front();
  }
  if (script_) script_(*this);
  if (form.ModalResult() == kMrNone) Press(Key::kEscape);
  return form.ModalResult();
}

TForm& THeadlessView::Form() const {
  if (!form_) throw std::logic_error("no form is shown");
  return *form_;
}

void THeadlessView::RequireOpen() const {
  if (Form().ModalResult() != kMrNone) throw std::invalid_argument("the dialog is closed");
}

TControl& THeadlessView::Control(std::string_view name) const {
  TComponent* c = Form().FindComponent(name);
  if (!c || !c->InheritsFrom(TControl::StaticClass()))
    throw std::invalid_argument("no control named " + std::string(name));
  return static_cast<TControl&>(*c);
}

TWinControl& THeadlessView::Input(std::string_view name) const {
  RequireOpen();
  TControl& c = Control(name);
  if (!c.IsWindowed()) throw std::invalid_argument(Named(c) + " takes no input");
  if (!Usable(c)) throw std::invalid_argument(Named(c) + " is disabled");
  return static_cast<TWinControl&>(c);
}

void THeadlessView::Focus(std::string_view name) {
  TWinControl& c = Input(name);
  if (c.InheritsFrom(TGroupBox::StaticClass()) || c.InheritsFrom(TPanel::StaticClass()))
    throw std::invalid_argument(Named(c) + " takes no focus");
  focused_ = &c;
}

void THeadlessView::Type(std::string_view name, std::u16string_view text) {
  TWinControl& c = Input(name);
  if (c.InheritsFrom(TCustomEdit::StaticClass())) {
    focused_ = &c;
    static_cast<TCustomEdit&>(c).SetText(text);
    return;
  }
  if (c.InheritsFrom(TComboBox::StaticClass())) {
    auto& combo = static_cast<TComboBox&>(c);
    if (combo.Style() == csDropDownList)
      throw std::invalid_argument(Named(c) + " is a list to choose from, not to type into");
    focused_ = &c;
    combo.SetText(text);
    return;
  }
  throw std::invalid_argument(Named(c) + " takes no text");
}

void THeadlessView::Pick(std::string_view name, int index) {
  TWinControl& c = Input(name);
  if (!c.InheritsFrom(TComboBox::StaticClass()))
    throw std::invalid_argument(Named(c) + " has no list");
  auto& combo = static_cast<TComboBox&>(c);
  if (index < -1 || index >= combo.Items().Count() ||
      (index == -1 && combo.Style() == csDropDownList))
    throw std::invalid_argument(Named(c) + " has no item " + std::to_string(index));
  focused_ = &c;
  if (index >= 0)
    combo.SetItemIndex(index);
  else
    combo.SetText(u"");
}

void THeadlessView::Click(std::string_view name) {
  TWinControl& c = Input(name);
  if (c.InheritsFrom(TButton::StaticClass())) {
    focused_ = &c;
    static_cast<TButton&>(c).Click();
  } else if (c.InheritsFrom(TCheckBox::StaticClass())) {
    focused_ = &c;
    static_cast<TCheckBox&>(c).Click();
  } else {
    throw std::invalid_argument(Named(c) + " is neither a button nor a check box");
  }
}

void THeadlessView::Press(Key key) {
  TForm& form = Form();
  RequireOpen();
  switch (key) {
    case Key::kEnter: {
      // A focused button takes Enter itself; elsewhere the default button does.
      if (focused_ && focused_->InheritsFrom(TButton::StaticClass())) {
        static_cast<TButton*>(focused_)->Click();
      } else if (TButton* button = FindButton(form, &TButton::Default)) {
        button->Click();
      }
      break;
    }
    case Key::kEscape:
      if (TButton* button = FindButton(form, &TButton::Cancel))
        button->Click();
      else
        form.SetModalResult(kMrCancel);
      break;
    case Key::kF1:
      ShowHelpFor(form, focused_);
      break;
    case Key::kTab:
    case Key::kShiftTab: {
      auto order = TabOrderControls(form);
      if (order.empty()) break;
      auto at = std::find(order.begin(), order.end(), focused_);
      long i = at == order.end() ? -1 : at - order.begin();
      const long n = static_cast<long>(order.size());
      i = key == Key::kTab ? (i + 1) % n : (i <= 0 ? n - 1 : i - 1);
      focused_ = order[static_cast<size_t>(i)];
      break;
    }
  }
}

void THeadlessView::Resize(int32_t width, int32_t height) {
  RequireOpen();
  TForm& form = Form();
  form.SetBounds(form.Left(), form.Top(), width, height);
}

void THeadlessView::Move(int32_t left, int32_t top) {
  RequireOpen();
  TForm& form = Form();
  form.SetBounds(left, top, form.Width(), form.Height());
}

void THeadlessView::CloseWindow() {
  RequireOpen();
  Form().SetModalResult(kMrCancel);
}

}  // namespace tarvel
