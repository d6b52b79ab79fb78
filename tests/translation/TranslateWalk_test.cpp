// The component walk on small trees of controls: every mark, the events in
// their order, string lists, collections, the wide-string adapter, combo
// box choices, reading order and fonts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/Controls.h"
#include "translation/Adapters.h"
#include "translation/TextResources.h"
#include "translation/Translator.h"
#include "translation/translation_support.h"

namespace tarvel {
namespace {

using test::TranslatorTest;

const char* const kFile =
    "EN:>Save\nDE:>Sichern\n\nEN:>Hint\nDE:>Hinweis\n\nEN:>Timeout\nDE:>Zeitlimit\n\n"
    "EN:>Second\nDE:>Sekunde\n\nEN:>Minute\nDE:>Minute (de)\n\nEN:>Hour\nDE:>Stunde\n\n"
    "EN:>Name\nDE:>Bezeichnung\n\n";

// A component with a column collection and a string list, as other
// controls of a form may have.
class TTestColumn : public TCollectionItem {
 public:
  static const TClassInfo& StaticClass() {
    static const TClassInfo info = [] {
      TClassInfo c{"TTestColumn", &TCollectionItem::StaticClass(), {}};
      TPropInfo caption;
      caption.name = "Caption";
      caption.kind = tkWString;
      caption.get = [](const TObject& o) {
        return OleVariant(std::u16string_view(static_cast<const TTestColumn&>(o).caption));
      };
      caption.set = [](TObject& o, const OleVariant& v) {
        static_cast<TTestColumn&>(o).caption = v.ToWide();
      };
      c.properties = {caption};
      return c;
    }();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::u16string caption;
};

class TTestGrid : public TWinControl {
 public:
  using TWinControl::TWinControl;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info = [] {
      TClassInfo c{"TTestGrid", &TWinControl::StaticClass(), {}};
      TPropInfo columns;
      columns.name = "Columns";
      columns.kind = tkClass;
      columns.get_object = [](const TObject& o) -> TObject* {
        return &const_cast<TTestGrid&>(static_cast<const TTestGrid&>(o)).columns;
      };
      TPropInfo lines = columns;
      lines.name = "Lines";
      lines.get_object = [](const TObject& o) -> TObject* {
        return &const_cast<TTestGrid&>(static_cast<const TTestGrid&>(o)).lines;
      };
      c.properties = {columns, lines};
      return c;
    }();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TCollection columns;
  TStringList lines;
};

template <class T>
T* Make(TComponent* owner, const char* name, int32_t tag = 0) {
  auto* c = new T(owner);
  c->SetName(name);
  c->SetTag(tag);
  return c;
}

class WalkTest : public TranslatorTest {
 protected:
  void SetUp() override { Lng(kFile); }
  bool Pass(TObject* root) { return translator->Translate("DE", root, nullptr, "EN"); }
};

TEST_F(WalkTest, EachMarkOnOwnedComponents) {
  TForm form;
  auto caption = [](TControl* c) {
    if (auto* l = dynamic_cast<TLabel*>(c)) return l->Caption();
    return static_cast<TCaptionedWinControl*>(c)->Caption();
  };
  auto label = [&](TComponent* owner, const char* name, int32_t tag = 0) {
    auto* l = Make<TLabel>(owner, name, tag);
    l->SetCaption(u"Save");
    return l;
  };
  auto box = [&](TComponent* owner, const char* name, int32_t tag = 0) {
    auto* b = Make<TGroupBox>(owner, name, tag);
    b->SetCaption(u"Save");
    return b;
  };
  TControl* plain = label(&form, "lblPlain");
  TGroupBox* g9998 = box(&form, "gb9998", 9998);
  TControl* in9998 = label(g9998, "lblIn9998");
  TGroupBox* g9999 = box(&form, "gb9999", 9999);
  TControl* in9999 = label(g9999, "lblIn9999");
  // Placed in a skipped panel but owned by the form: walked with the form.
  TGroupBox* panel = box(&form, "pnlSkipped", 9999);
  TControl* placed = label(&form, "lblPlaced");
  placed->SetParent(panel);
  TGroupBox* help = box(&form, "gbHelp");
  help->SetHelpContext(9999);
  TControl* in_help = label(help, "lblInHelp");
  TGroupBox* help_minus = box(&form, "gbHelpMinus");
  help_minus->SetHelpContext(-1);
  TControl* label_help = label(&form, "lblHelp");
  label_help->SetHelpContext(9999);  // not windowed: translated
  TGroupBox* under = box(&form, "_gbUnder");
  TControl* in_under = label(under, "lblInUnder");
  TGroupBox* dunder = box(&form, "__gbDunder");
  TControl* in_dunder = label(dunder, "lblInDunder");
  TGroupBox* custom = box(&form, "gbCustom", 9997);
  TControl* in_custom = label(custom, "lblInCustom");
  TControl* tag_other = label(&form, "lblTag5", 5);
  std::vector<std::string> custom_calls;
  translator->OnCustomTranslate = [&](TWtransl&, TObject* c, TWtranslLanguagesList*) {
    if (auto* component = dynamic_cast<TComponent*>(c)) custom_calls.push_back(component->Name());
  };

  ASSERT_TRUE(Pass(&form));
  const struct {
    const char* what;
    TControl* control;
    const char16_t* expected;
  } rows[] = {
      {"a plain label", plain, u"Sichern"},
      {"tag 9998 keeps its own caption", g9998, u"Save"},
      {"... and what it owns is translated", in9998, u"Sichern"},
      {"tag 9999 keeps its caption", g9999, u"Save"},
      {"... and what it owns keeps theirs", in9999, u"Save"},
      {"owned by the form, placed in a skipped panel", placed, u"Sichern"},
      {"windowed with help topic 9999", help, u"Save"},
      {"... and what it owns", in_help, u"Save"},
      {"windowed with help topic -1", help_minus, u"Save"},
      {"a label with help topic 9999", label_help, u"Sichern"},
      {"one underscore: itself translated", under, u"Sichern"},
      {"... what it owns not visited", in_under, u"Save"},
      {"two underscores: untouched", dunder, u"Save"},
      {"... with what it owns", in_dunder, u"Save"},
      {"tag 9997: only reported", custom, u"Save"},
      {"... what it owns is walked", in_custom, u"Sichern"},
      {"other tags have no effect", tag_other, u"Sichern"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(caption(r.control), r.expected);
  }
  EXPECT_NE(std::find(custom_calls.begin(), custom_calls.end(), "gbCustom"), custom_calls.end());
}

TEST_F(WalkTest, TagBitsEditTextsAndTheRootsOwnTag) {
  TForm form;
  form.SetCaption(u"Save");
  struct {
    const char* what;
    int32_t tag;
    const char16_t* caption;
    const char16_t* hint;
  } cases[] = {
      {"tag 10001 keeps the hint", 10001, u"Sichern", u"Hint"},
      {"tag 10002 keeps the caption", 10002, u"Save", u"Hinweis"},
      {"tag 10016 skips nothing", 10016, u"Sichern", u"Hinweis"},
  };
  std::vector<TButton*> buttons;
  for (const auto& c : cases) {
    auto* b = Make<TButton>(&form, "btn", c.tag);
    b->SetCaption(u"Save");
    b->SetHint(u"Hint");
    buttons.push_back(b);
  }
  auto* edit = Make<TEdit>(&form, "edtName");
  edit->SetText(u"Save");
  edit->SetHint(u"Hint");
  auto* spin = Make<TSpinEdit>(&form, "val1");
  spin->SetText(u"Save");
  auto* twin = Make<TLabel>(&form, "lblName");
  twin->SetCaption(u"Save");
  form.SetTag(9998);  // the root: its own texts stay, its components follow
  ASSERT_TRUE(Pass(&form));
  for (size_t i = 0; i < buttons.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    EXPECT_EQ(buttons[i]->Caption(), cases[i].caption);
    EXPECT_EQ(buttons[i]->Hint(), cases[i].hint);
  }
  EXPECT_EQ(edit->Text(), u"Save") << "an edit's text is never translated";
  EXPECT_EQ(edit->Hint(), u"Hinweis");
  EXPECT_EQ(spin->Text(), u"Save");
  EXPECT_EQ(twin->Caption(), u"Sichern");
  EXPECT_EQ(form.Caption(), u"Save");
}

TEST_F(WalkTest, ComboBoxItemsLineByLineAndTheChoiceKept) {
  TForm form;
  auto* units = Make<TComboBox>(&form, "type1");
  units->SetStyle(csDropDownList);
  for (const char16_t* u : {u"Millisecond", u"Second", u"Minute", u"Hour"}) units->Items().Add(u);
  units->SetItemIndex(1);
  auto* kept = Make<TComboBox>(&form, "type2", 9997);
  kept->Items().Add(u"Second");
  auto* ex = Make<TComboBoxEx>(&form, "cbx");
  ex->AddItem(u"Second");
  ex->SetItemIndex(0);
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(units->Items().Lines(),
            (std::vector<std::u16string>{u"Millisecond", u"Sekunde", u"Minute (de)", u"Stunde"}));
  EXPECT_EQ(units->ItemIndex(), 1);
  EXPECT_EQ(units->Text(), u"Sekunde");
  EXPECT_EQ(kept->Items().Strings(0), u"Second") << "tag 9997: its items are not translated";
  EXPECT_EQ(ex->ItemIndex(), 0);
}

TEST_F(WalkTest, ListsAndCollectionsNamedInThePropertyList) {
  TForm form;
  auto* grid = Make<TTestGrid>(&form, "grid");
  grid->columns.Add<TTestColumn>().caption = u"Name";
  grid->columns.Add<TTestColumn>().caption = u"Unknown";
  grid->lines.Add("Timeout");
  grid->lines.Add("Nothing");
  translator->AddComponentProperty("COLUMNS");
  translator->AddComponentProperty("lines");
  int before_items = 0, custom_items = 0;
  translator->OnBeforeTranslateComponent = [&](TWtransl&, TObject* c, TWtranslLanguagesList*,
                                               bool&) {
    before_items += c->InheritsFrom(TTestColumn::StaticClass());
  };
  translator->OnCustomTranslate = [&](TWtransl&, TObject* c, TWtranslLanguagesList*) {
    custom_items += c->InheritsFrom(TTestColumn::StaticClass());
  };
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(static_cast<TTestColumn*>(grid->columns.Items(0))->caption, u"Bezeichnung");
  EXPECT_EQ(static_cast<TTestColumn*>(grid->columns.Items(1))->caption, u"Unknown");
  EXPECT_EQ(grid->lines.Lines(), (std::vector<std::string>{"Zeitlimit", "Nothing"}));
  EXPECT_EQ(before_items, 2);
  EXPECT_EQ(custom_items, 2);
}

TEST_F(WalkTest, EventsInTheirOrderAndAVetoedComponent) {
  TForm form;
  auto* panel = Make<TPanel>(&form, "pnl");
  panel->SetCaption(u"Save");
  auto* inside = Make<TLabel>(panel, "lbl");
  inside->SetCaption(u"Timeout");
  inside->SetHint(u"Hint");
  std::vector<std::string> journal;
  auto name = [](TObject* o) {
    auto* c = dynamic_cast<TComponent*>(o);
    return c ? c->Name() : std::string("?");
  };
  translator->OnBeforeTranslateComponent = [&](TWtransl&, TObject* c, TWtranslLanguagesList*,
                                               bool& allow) {
    journal.push_back("before " + name(c));
    if (name(c) == "pnl") allow = false;
  };
  translator->OnPropertyTranslate = [&](TWtransl&, TObject* o, const TPropInfo* pi,
                                        const std::u16string&, std::u16string&, bool found,
                                        bool& do_default) {
    journal.push_back(name(o) + "." + pi->name + (found ? " found" : ""));
    EXPECT_TRUE(do_default);
  };
  translator->OnCustomTranslate = [&](TWtransl&, TObject* c, TWtranslLanguagesList*) {
    journal.push_back("custom " + name(c));
  };
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(journal, (std::vector<std::string>{"before ", ".Caption", ".Hint", "custom ",
                                               "before pnl", "before lbl", "lbl.Caption found",
                                               "lbl.Hint found", "custom lbl"}));
  EXPECT_EQ(panel->Caption(), u"Save") << "vetoed";
  EXPECT_EQ(inside->Caption(), u"Zeitlimit") << "what it owns is still walked";
}

TEST_F(WalkTest, PropertyTranslateMayChangeOrRefuseATranslation) {
  TLabel label;
  label.SetCaption(u"Save");
  label.SetHint(u"Hint");
  translator->OnPropertyTranslate = [](TWtransl&, TObject*, const TPropInfo* pi,
                                       const std::u16string&, std::u16string& text, bool,
                                       bool& do_default) {
    if (pi->name == "Caption") text += u"!";
    if (pi->name == "Hint") do_default = false;
  };
  ASSERT_TRUE(Pass(&label));
  EXPECT_EQ(label.Caption(), u"Sichern!");
  EXPECT_EQ(label.Hint(), u"Hint");
}

TEST_F(WalkTest, ReadingOrderAndFontsOfTheLanguage) {
  Lng("BiDiMode=righttoleft\nCharset=windows-1251\n" + std::string(kFile));
  TForm form;
  auto* label = Make<TLabel>(&form, "lbl");
  auto* symbols = Make<TLabel>(&form, "lblSymbols");
  symbols->Font().SetCharset(kSymbolCharset);
  symbols->Font().HandleNeeded();
  label->SetCaption(u"Save");
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(form.BiDiMode(), bdRightToLeft);
  EXPECT_EQ(form.Font().Charset(), 204);
  EXPECT_EQ(label->BiDiMode(), bdRightToLeft);
  EXPECT_TRUE(label->Font().HandleAllocated()) << "realised on the way";
  EXPECT_EQ(label->Font().Charset(), 204);
  EXPECT_EQ(symbols->Font().Charset(), kSymbolCharset);
  // Back to left to right: the form follows, a control keeps what it got.
  Lng(kFile);
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(form.BiDiMode(), bdLeftToRight);
  EXPECT_EQ(label->BiDiMode(), bdRightToLeft);
}

TEST_F(WalkTest, TextResourcesAreTranslatedByTheirAdapterFromTheirSource) {
  class TTexts : public TCustomTextResources {
   public:
    TTexts() {
      AddText("Timeout");
      AddText("Nothing to do");
    }
  } texts;
  int changes = 0;
  texts.OnChange = [&](TObject&) { ++changes; };
  ASSERT_TRUE(Pass(&texts));
  EXPECT_EQ(texts.Text(0), "Zeitlimit");
  EXPECT_EQ(texts.Text(1), "Nothing to do");
  EXPECT_EQ(changes, 1);
  // Another language starts again from the English source text.
  Lng("Encoding=utf-8\nEN:>Timeout\nFR:>D\xC3\xA9lai d\xC3\xA9pass\xC3\xA9\n\n");
  ASSERT_TRUE(translator->Translate("FR", &texts, nullptr, "EN"));
  EXPECT_EQ(texts.Text(0), "D\xE9lai d\xE9pass\xE9");
  EXPECT_EQ(texts.SourceText(0), "Timeout");
}

// A component adapter registered without a class is asked for every
// component the walk translates (after the adapters before it); a property
// adapter for a class of its own translates what a property holds. Both
// stay registered for the rest of the process, so they only count.
class TTally : public TObject {
 public:
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTally", &TObject::StaticClass(), {}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  int handled = 0;
};

class TTallyHolder : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const TClassInfo info = [] {
      TClassInfo c{"TTallyHolder", &TComponent::StaticClass(), {}};
      TPropInfo p;
      p.name = "Captions";
      p.kind = tkClass;
      p.get_object = [](const TObject& o) -> TObject* {
        return &const_cast<TTallyHolder&>(static_cast<const TTallyHolder&>(o)).tally;
      };
      c.properties = {p};
      return c;
    }();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TTally tally;
};

std::vector<std::string> g_asked;  // names of components the catch-all adapter saw

class TCatchAll : public TWtranslatorCustom {
 public:
  bool Translate(TWtransl&, TObject* comp, TObject*, const TPropInfo*,
                 TWtranslLanguagesList*) override {
    if (auto* c = dynamic_cast<TComponent*>(comp)) g_asked.push_back(c->Name());
    return true;
  }
};

class TTallyAdapter : public TWtranslatorCustom {
 public:
  bool Translate(TWtransl&, TObject*, TObject* obj, const TPropInfo*,
                 TWtranslLanguagesList*) override {
    ++static_cast<TTally*>(obj)->handled;
    return true;
  }
};

TEST_F(WalkTest, RegisteredAdaptersAreAskedByTheirKind) {
  static const bool registered =
      RegisterTranslatorCustom(nullptr, "ALL", std::make_unique<TCatchAll>()) &&
      RegisterTranslatorCustom(&TTally::StaticClass(), "", std::make_unique<TTallyAdapter>());
  ASSERT_TRUE(registered);
  g_asked.clear();
  TForm form;
  form.SetName("frm");
  auto* holder = Make<TTallyHolder>(&form, "holder");
  Make<TLabel>(&form, "lbl");
  class TTexts : public TCustomTextResources {
   public:
    using TCustomTextResources::TCustomTextResources;
  };
  auto* texts = new TTexts(&form);
  texts->SetName("texts");
  texts->SetTag(0);  // walked like any component: its own adapter comes first
  ASSERT_TRUE(Pass(&form));
  EXPECT_EQ(g_asked, (std::vector<std::string>{"frm", "holder", "lbl"}));
  EXPECT_EQ(holder->tally.handled, 1);
}

}  // namespace
}  // namespace tarvel
