// The component walk of a translation pass: the properties named in
// ComponentProperties on a component and on every component it owns,
// string lists, collections and adapter-served objects held by those
// properties, and the reading order and font character set of the
// language. Marks on components say what to leave alone:
//   tag 9999, a windowed control with help topic -1 or 9999, a name
//     beginning "__": not visited, nor anything it owns;
//   tag 9998: not translated itself, what it owns is;
//   tag 9997: only OnCustomTranslate for it, what it owns is walked;
//   a name beginning "_": translated itself, what it owns is not;
//   tag 10000..10015: bits 1 hint, 2 caption, 4 items, 8 strings skipped.
// The walk follows ownership, not placement.
//
// Threads: runs on the thread of the pass, with the translator's lock held.
#include "components/Controls.h"
#include "platform/text.h"
#include "translation/Adapters.h"
#include "translation/Translator.h"

namespace tarvel {

namespace {

constexpr int32_t kTagSkip = 9999;
constexpr int32_t kTagChildrenOnly = 9998;
constexpr int32_t kTagCustom = 9997;
constexpr int32_t kTagSkipBits = 10000;

bool IsTextKind(TTypeKind kind) {
  return kind == tkChar || kind == tkString || kind == tkWChar || kind == tkLString ||
         kind == tkWString || kind == tkVariant;
}

bool IsNarrowKind(TTypeKind kind) {
  return kind == tkChar || kind == tkString || kind == tkLString;
}

bool SkippedByBits(int32_t bits, std::string_view name) {
  static const char* const kNames[] = {"hint", "caption", "items", "strings"};
  for (int b = 0; b < 4; ++b)
    if ((bits & (1 << b)) && SameTextAscii(name, kNames[b])) return true;
  return false;
}

bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void TWtransl::TranslateComponent(TObject* c) {
  if (!c) return;
  bool allow = true;
  if (OnBeforeTranslateComponent) OnBeforeTranslateComponent(*this, c, dictionary_.get(), allow);
  if (!allow) return;
  ApplyReadingOrderAndFonts(c);

  auto* combo = dynamic_cast<TCustomComboBox*>(c);
  const int32_t index = combo ? combo->ItemIndex() : -1;
  int32_t skip_bits = 0;
  if (auto* component = dynamic_cast<TComponent*>(c);
      component && component->Tag() >= kTagSkipBits && component->Tag() <= kTagSkipBits + 15)
    skip_bits = component->Tag() - kTagSkipBits;
  const bool is_edit = c->InheritsFrom(TCustomEdit::StaticClass());

  const std::vector<std::string> names = component_properties_;
  for (const std::string& name : names) {
    try {
      if (SkippedByBits(skip_bits, name)) continue;
      // What the user typed into an edit control is never translated.
      if (is_edit && SameTextAscii(name, "text")) continue;
      TranslateProperty(c, name);
    } catch (...) {
      // One property's failure leaves it; the next name follows.
    }
  }
  TranslateByComponentAdapter(*this, c, dictionary_.get());
  if (combo && combo->ItemIndex() != index) combo->SetItemIndex(index);
  if (OnCustomTranslate) OnCustomTranslate(*this, c, dictionary_.get());
}

void TWtransl::TranslateChildren(TComponent* parent) {
  if (!parent) return;
  if (auto* form = dynamic_cast<TForm*>(parent)) {
    form->Font().SetCharset(font_charset_);
    form->SetBiDiMode(static_cast<TBiDiMode>(bidi_mode_));
  }
  // By index: a handler may add or free components on the way.
  for (int i = 0; i < parent->ComponentCount(); ++i) {
    TComponent* x = parent->Components(i);
    if (x->Tag() == kTagSkip || StartsWith(x->Name(), "__")) continue;
    if (auto* windowed = dynamic_cast<TWinControl*>(x);
        windowed && (windowed->HelpContext() == -1 || windowed->HelpContext() == kTagSkip))
      continue;
    if (x->Tag() == kTagCustom) {
      if (OnCustomTranslate) OnCustomTranslate(*this, x, dictionary_.get());
    } else if (x->Tag() != kTagChildrenOnly) {
      TranslateComponent(x);
    }
    if (StartsWith(x->Name(), "_")) continue;
    if (x->ComponentCount() > 0) TranslateChildren(x);
    if (x->Tag() != kTagCustom && x->InheritsFrom(TComboBox::StaticClass()))
      TranslateProperty(x, "Items");
  }
}

void TWtransl::TranslateProperty(TObject* o, std::string_view name) {
  if (!o) return;
  const TPropInfo* pi = o->ClassInfo().FindProperty(name);
  if (!pi) return;
  if (IsTextKind(pi->kind)) {
    if (!pi->get) return;
    const std::u16string value = pi->get(*o).ToWide();
    TTranslated r = TranslateText(value, o, pi);
    if (!r.do_default || r.text == value) return;
    // An 8-bit property keeps its text when the code page cannot hold the
    // translation.
    if (IsNarrowKind(pi->kind) && !TextFitsAnsi(r.text, nullptr)) return;
    WritePropertyValue(*o, pi->name, OleVariant(std::u16string_view(r.text)));
    return;
  }
  if (pi->kind != tkClass || !pi->get_object) return;
  TObject* x = pi->get_object(*o);
  if (auto* collection = dynamic_cast<TCollection*>(x)) {
    TranslateCollection(collection);
  } else if (auto* list = dynamic_cast<TStringList*>(x)) {
    for (std::string& line : list->Lines()) {
      const std::u16string old = platform::AnsiToWide(line);
      TTranslated r = TranslateText(old, o, pi);
      std::string ansi;
      if (r.do_default && r.text != old && TextFitsAnsi(r.text, &ansi)) line = ansi;
    }
  } else if (!TranslateByPropertyAdapter(*this, o, x, pi, dictionary_.get())) {
    if (OnCustomObjectPropertyTranslate)
      OnCustomObjectPropertyTranslate(*this, pi->name, x, dictionary_.get());
  }
}

void TWtransl::TranslateCollection(TCollection* collection) {
  if (!collection) return;
  for (int i = 0; i < collection->Count(); ++i) TranslateComponent(collection->Items(i));
}

void TWtransl::ApplyReadingOrderAndFonts(TObject* c) {
  if (!c) return;
  if (bidi_mode_ != 0 && LookupProperty(*c, "BiDiMode")) {
    try {
      WritePropertyValue(*c, "BiDiMode", OleVariant(static_cast<int32_t>(bidi_mode_)));
    } catch (...) {
    }
  }
  for (const char* name : {"FocusFont", "Font"}) {
    try {
      auto* font = dynamic_cast<TFont*>(ReadPropertyObject(*c, name));
      if (!font) continue;
      if (!font->HandleAllocated() && font->ClassInfo().name != "TUniFont") font->HandleNeeded();
      if (font->HandleAllocated() && font->Charset() != kSymbolCharset)
        font->SetCharset(font_charset_);
    } catch (...) {
    }
  }
}

}  // namespace tarvel
