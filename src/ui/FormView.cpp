#include "ui/FormView.h"

#include <algorithm>

namespace tarvel {

int32_t HelpContextFor(const TControl* control) {
  for (const TControl* c = control; c; c = c->Parent()) {
    if (!c->IsWindowed()) continue;
    if (int32_t topic = static_cast<const TWinControl*>(c)->HelpContext(); topic != 0) return topic;
  }
  return 0;
}

void ShowHelpFor(TForm& form, const TControl* focused) {
  const int32_t topic = HelpContextFor(focused ? focused : &form);
  if (topic != 0) Application().HelpContext(topic);
}

namespace {

bool TakesInput(const TWinControl& c) {
  return !c.InheritsFrom(TGroupBox::StaticClass()) && !c.InheritsFrom(TPanel::StaticClass()) &&
         !c.InheritsFrom(TForm::StaticClass());
}

void Collect(TWinControl& parent, bool usable_only, std::vector<TWinControl*>& out) {
  std::vector<TWinControl*> children;
  for (int i = 0; i < parent.ControlCount(); ++i) {
    TControl* c = parent.Controls(i);
    if (c->IsWindowed() && (!usable_only || (c->Visible() && c->Enabled())))
      children.push_back(static_cast<TWinControl*>(c));
  }
  std::stable_sort(children.begin(), children.end(),
                   [](TWinControl* a, TWinControl* b) { return a->TabOrder() < b->TabOrder(); });
  for (TWinControl* c : children) {
    if (TakesInput(*c)) out.push_back(c);
    Collect(*c, usable_only, out);
  }
}

}  // namespace

std::vector<TWinControl*> TabOrderControls(TForm& form, bool usable_only) {
  std::vector<TWinControl*> out;
  Collect(form, usable_only, out);
  return out;
}

}  // namespace tarvel
