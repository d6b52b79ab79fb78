// The toolkit-free controls: what the options form and the translator's
// walk rely on — property tables by designer name, wide texts through the
// property layer, anchors and alignment on resize, the notifications.
#include "components/Controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

TEST(ControlsTest, PublishedPropertiesAreFoundByDesignerName) {
  struct Case {
    const char* what;
    const TClassInfo& cls;
    std::vector<const char*> names;
  } cases[] = {
      {"form",
       TForm::StaticClass(),
       {"Caption", "HelpFile", "HelpContext", "ModalResult", "Font", "BiDiMode", "Constraints",
        "Left", "Top", "Width", "Height", "Hint", "Enabled", "Visible", "ActiveControl"}},
      {"label", TLabel::StaticClass(), {"Caption", "Hint", "Font", "BiDiMode", "WordWrap"}},
      {"group box", TGroupBox::StaticClass(), {"Caption", "TabOrder", "HelpContext", "Anchors"}},
      {"panel", TPanel::StaticClass(), {"Caption", "Align", "HelpContext"}},
      {"bevel", TBevel::StaticClass(), {"Shape", "Align"}},
      {"button", TButton::StaticClass(), {"Caption", "ModalResult", "Default", "Cancel"}},
      {"check box", TCheckBox::StaticClass(), {"Caption", "Checked", "TabOrder"}},
      {"edit", TEdit::StaticClass(), {"Text", "Hint"}},
      {"spin edit", TSpinEdit::StaticClass(), {"Text", "Value", "Decimals"}},
      {"combo box", TComboBox::StaticClass(), {"Items", "ItemIndex", "Text", "Style"}},
      {"extended combo box", TComboBoxEx::StaticClass(), {"ItemsEx", "ItemIndex"}},
      {"extended item", TComboExItem::StaticClass(), {"Caption", "ImageIndex"}},
      {"font", TFont::StaticClass(), {"Name", "Height", "Size", "Charset"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : c.names) EXPECT_NE(c.cls.FindProperty(name), nullptr) << name;
  }
  // Edits are edit controls, combo boxes are not; labels are not windowed.
  EXPECT_TRUE(TSpinEdit::StaticClass().InheritsFrom(TCustomEdit::StaticClass()));
  EXPECT_FALSE(TComboBox::StaticClass().InheritsFrom(TCustomEdit::StaticClass()));
  EXPECT_TRUE(IsComboBox(nullptr) == false);
  TLabel label;
  TGroupBox box;
  EXPECT_FALSE(label.IsWindowed());
  EXPECT_TRUE(box.IsWindowed());
}

TEST(ControlsTest, WideTextsTravelThroughThePropertyLayer) {
  TLabel label;
  const std::u16string cyrillic = u"\u0421\u043e\u0431\u044b\u0442\u0438\u0435";
  WritePropertyValue(label, "caption", OleVariant(std::u16string_view(cyrillic)));
  EXPECT_EQ(label.Caption(), cyrillic);
  EXPECT_EQ(ReadPropertyValue(label, "Caption").ToWide(), cyrillic);
  EXPECT_EQ(LookupProperty(label, "Caption")->kind, tkWString);
  // The settings engine writes ANSI text.
  TEdit edit;
  WritePropertyValue(edit, "Text", OleVariant::AnsiString("CLIENTID"));
  EXPECT_EQ(edit.Text(), u"CLIENTID");
  EXPECT_EQ(ReadPropertyValue(edit, "Text").ToAnsi(), "CLIENTID");
}

TEST(ControlsTest, AnchorsAndAlignFollowAWiderForm) {
  TForm form;
  form.SetBounds(0, 0, 541, 402);
  form.SetFrameSize(8, 44);
  auto* top = new TGroupBox(&form);
  top->SetParent(&form);
  top->SetHeight(165);
  top->SetAlign(alTop);
  auto* bottom = new TPanel(&form);
  bottom->SetParent(&form);
  bottom->SetHeight(45);
  bottom->SetAlign(alBottom);
  auto* stretch = new TComboBox(&form);
  stretch->SetParent(top);
  stretch->SetBounds(10, 48, 150, 21);
  stretch->SetAnchors(akLeft | akTop | akRight);
  auto* right = new TEdit(&form);
  right->SetParent(top);
  right->SetBounds(374, 48, 135, 21);
  right->SetAnchors(akTop | akRight);
  auto* fixed = new TCheckBox(&form);
  fixed->SetParent(&form);
  fixed->SetBounds(0, 168, 400, 17);

  EXPECT_EQ(top->Width(), 533);
  EXPECT_EQ(bottom->Top(), 358 - 45);

  int resized = 0;
  top->OnResize = [&](TObject&) { ++resized; };
  form.SetWidth(641);
  struct Case {
    const char* what;
    const TControl* control;
    int32_t left, width;
  } cases[] = {
      {"aligned top fills the width", top, 0, 633},
      {"left and right anchors stretch", stretch, 10, 250},
      {"right anchor moves", right, 474, 135},
      {"left anchor stays", fixed, 0, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.control->Left(), c.left);
    EXPECT_EQ(c.control->Width(), c.width);
  }
  EXPECT_EQ(resized, 1);
  // The height is held by the constraints.
  form.Constraints().MinHeight = form.Constraints().MaxHeight = 402;
  form.SetHeight(500);
  EXPECT_EQ(form.Height(), 402);
}

TEST(ControlsTest, ButtonsCloseTheFormTheyArePlacedOn) {
  TForm form;
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* ok = new TButton(&form);
  ok->SetParent(panel);
  ok->SetModalResult(kMrOk);
  int clicks = 0;
  ok->OnClick = [&](TObject& sender) {
    EXPECT_EQ(&sender, ok);
    EXPECT_EQ(form.ModalResult(), kMrOk);  // set before the handler runs
    ++clicks;
  };
  ok->Click();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(form.ModalResult(), kMrOk);
}

TEST(ControlsTest, NotificationsComeOnceAndOnlyForChanges) {
  TCheckBox check;
  int clicks = 0;
  check.OnClick = [&](TObject&) { ++clicks; };
  std::vector<std::string> changes;
  check.OnModelChange = [&](TControl&, std::string_view p) { changes.emplace_back(p); };
  check.SetChecked(false);
  check.SetChecked(true);
  check.Click();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(changes, (std::vector<std::string>{"Checked", "Checked"}));

  TSpinEdit spin;
  spin.SetDecimals(6);
  int spin_changes = 0;
  spin.OnChange = [&](TObject&) { ++spin_changes; };
  spin.SetText(u"-2.5");
  EXPECT_EQ(spin.Value(), -2.5);
  spin.SetValue(0);
  EXPECT_EQ(spin.Text(), u"0.000000");
  spin.SetText(u"-");  // typing: kept, the value stays
  EXPECT_EQ(spin.Value(), 0);
  EXPECT_EQ(spin_changes, 3);

  TWideStrings lines;
  int line_changes = 0;
  lines.OnChange = [&](TObject&) { ++line_changes; };
  lines.BeginUpdate();
  lines.Add(u"Second");
  lines.Add(u"Minute");
  lines.SetStrings(0, u"Sekunde");
  lines.EndUpdate();
  EXPECT_EQ(line_changes, 1);
}

TEST(ControlsTest, ComboBoxTextFollowsItsChoiceAndItsItems) {
  TComboBox units;
  units.SetStyle(csDropDownList);
  for (const char16_t* u : {u"Millisecond", u"Second", u"Minute", u"Hour"}) units.Items().Add(u);
  units.SetItemIndex(2);
  EXPECT_EQ(units.Text(), u"Minute");
  units.Items().SetStrings(2, u"Minute (de)");  // a translated item shows at once
  EXPECT_EQ(units.Text(), u"Minute (de)");
  units.SetText(u"Hour");
  EXPECT_EQ(units.ItemIndex(), 3);
  units.SetText(u"Day");  // not an item: a list-only box keeps its choice
  EXPECT_EQ(units.ItemIndex(), 3);
  units.SetItemIndex(7);
  EXPECT_EQ(units.ItemIndex(), -1);
  EXPECT_EQ(units.Text(), u"");

  TComboBox vars;  // editable
  vars.Items().Add(u"temp");
  vars.SetItemIndex(0);
  vars.SetText(u"press");
  EXPECT_EQ(vars.ItemIndex(), -1);
  EXPECT_EQ(vars.Text(), u"press");
  EXPECT_EQ(ReadPropertyValue(vars, "ItemIndex").AsInt64(), -1);
}

TEST(ControlsTest, ChildrenOutliveOrLeaveTheirParent) {
  // Placement and ownership differ: a control owned by the form but placed
  // on a panel survives the panel's destruction.
  TForm form;
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* label = new TLabel(&form);
  label->SetParent(panel);
  delete panel;
  EXPECT_EQ(label->Parent(), nullptr);
  EXPECT_EQ(form.ComponentCount(), 1);
  EXPECT_EQ(form.ControlCount(), 0);
}

}  // namespace
}  // namespace tarvel
