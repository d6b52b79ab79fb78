// The character set a form's font asks for, by the script of its texts.
#include "ui/FontCharset.h"

#include <gtest/gtest.h>

#include "components/Controls.h"

namespace tarvel {
namespace {

TEST(FontCharset, TheFirstLetterOutsideLatin1DecidesTheSet) {
  static const struct {
    const char* name;
    const char16_t* text;
    uint8_t charset;
  } cases[] = {
      {"ASCII", u"Timeout", kDefaultCharset},
      {"Latin-1 (German, French, Spanish)", u"Zeitüberschreitung, événement, año", kDefaultCharset},
      {"Cyrillic", u"Тайм-аут", 204},
      {"Latin text, then Cyrillic", u"ID клиента", 204},
      {"Greek", u"Χρόνος", 161},
      {"Central European", u"Zdarzenie łącza", 238},
      {"Hebrew", u"אירוע", 177},
      {"Arabic", u"حدث", 178},
      {"Thai", u"เหตุการณ์", 222},
      {"a script without a set of its own", u"イベント", kDefaultCharset},
      {"empty", u"", kDefaultCharset},
  };
  for (const auto& c : cases) EXPECT_EQ(CharsetForText(c.text), c.charset) << c.name;
}

TEST(FontCharset, AControlDeepInTheFormDecides) {
  TForm form(nullptr);
  form.SetCaption(u"Tarvel");
  auto* box = new TGroupBox(&form);
  box->SetParent(&form);
  box->SetCaption(u"Parser variables");
  auto* label = new TLabel(&form);
  label->SetParent(box);
  label->SetCaption(u"Timeout");
  EXPECT_EQ(CharsetForControls(form), kDefaultCharset);
  label->SetCaption(u"Тайм-аут");
  EXPECT_EQ(CharsetForControls(form), 204);
}

}  // namespace
}  // namespace tarvel
