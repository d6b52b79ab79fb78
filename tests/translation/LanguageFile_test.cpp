// The language-file reader on texts: which blocks give pairs, how lines
// end and are trimmed, and which lines are directives.
#include "translation/LanguageFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

struct Parsed {
  int32_t count;
  TWtranslLanguagesList dictionary;
  TLanguageFileSettings settings;
};

std::unique_ptr<Parsed> Parse(std::string_view text, const char* source = "EN",
                              const char* target = "DE") {
  auto p = std::make_unique<Parsed>();
  p->count = ParseLanguageFile(text, source, target, p->dictionary, p->settings);
  return p;
}

TEST(LanguageFileTest, WhichBlocksGivePairs) {
  struct {
    const char* what;
    std::string text;
    int32_t count;
    const char* key;
    const char* translation;  // "" when the key has none
  } cases[] = {
      {"a block closed by an empty line", "EN:>Timeout\nDE:>Zeitlimit\n\n", 1, "Timeout",
       "Zeitlimit"},
      {"the last block without an empty line after it", "EN:>Timeout\nDE:>Zeitlimit\n", 0,
       "Timeout", ""},
      {"CR LF line ends", "EN:>Timeout\r\nDE:>Zeitlimit\r\n\r\n", 1, "Timeout", "Zeitlimit"},
      {"a lone CR stays in the line", "EN:>A\rB\nDE:>C\n\n", 1, "A\rB", "C"},
      {"blanks around lines go, blanks after :> stay", "  EN:>  Save  \n DE:> Sichern\n \n", 1,
       "  Save", " Sichern"},
      {"a line of blanks ends the block", "EN:>a\n   \nDE:>b\n\n", 0, "a", ""},
      {"a // line neither adds nor ends", "EN:>Save\n// note\nDE:>Sichern\n\n", 1, "Save",
       "Sichern"},
      {"a later line of a language wins", "EN:>Save\nDE:>x\nDE:>Sichern\n\n", 1, "Save", "Sichern"},
      {"two blocks with one source: the later wins, both count",
       "EN:>Save\nDE:>x\n\nEN:>Save\nDE:>Sichern\n\n", 2, "Save", "Sichern"},
      {"other languages and foreign lines are ignored",
       "[Languages]\n$DE=Deutsch\n\nEN:>Save\nFR:>Enregistrer\nDE:>Sichern\nnote\n\n", 1, "Save",
       "Sichern"},
      {"a block without the target gives nothing", "EN:>Save\nFR:>Enregistrer\n\n", 0, "Save", ""},
      {"a UTF-8 byte-order mark is skipped",
       "\xEF\xBB\xBF"
       "EN:>Save\nDE:>Sichern\n\n",
       1, "Save", "Sichern"},
      {"lower-case codes are other languages", "en:>Save\nde:>Sichern\n\n", 0, "Save", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = Parse(c.text);
    EXPECT_EQ(p->count, c.count);
    EXPECT_EQ(p->dictionary.ExactTexts.FindString(c.key), c.translation);
  }
}

TEST(LanguageFileTest, SourceAndTargetEqualGiveNoPair) {
  EXPECT_EQ(Parse("EN:>Save\nDE:>Sichern\n\n", "EN", "EN")->count, 0);
}

TEST(LanguageFileTest, LowerCasedSourcesAreKeptOnlyWhereTheyDiffer) {
  auto p = Parse("EN:>Save File\nDE:>Datei sichern\n\nEN:>save all\nDE:>Alles sichern\n\n");
  EXPECT_EQ(p->dictionary.LowerTexts.FindString("save file"), "Datei sichern");
  EXPECT_FALSE(p->dictionary.LowerTexts.Contains("save all"));
  EXPECT_EQ(p->dictionary.ExactTexts.FindString("save all"), "Alles sichern");
}

TEST(LanguageFileTest, DirectivesInTheFirstNineteenLines) {
  struct {
    const char* what;
    std::string line;
    uint8_t encoding, charset, bidi;
    uint32_t locale;
    int collect, file_mode;  // -1: not set
    bool used_up;
  } cases[] = {
      {"Encoding", "Encoding=UTF-8", 1, 1, 0, 0, -1, -1, true},
      {"Encoding behind a comment, blanks around", "// Encoding=  utf-8 ", 1, 1, 0, 0, -1, -1,
       true},
      {"a blank before = is no keyword", "// Encoding = utf-8", 0, 1, 0, 0, -1, -1, false},
      {"utf-16 is only recognised", "Encoding=utf-16", 2, 1, 0, 0, -1, -1, true},
      {"an unknown encoding changes nothing", "Encoding=latin-1", 0, 1, 0, 0, -1, -1, true},
      {"BiDiMode", "BiDiMode=RightToLeftReadingOnly", 0, 1, 3, 0, -1, -1, true},
      {"Charset", "Charset=windows-1251", 0, 204, 0, 0, -1, -1, true},
      {"Charset 1252 is 0", "Charset=Windows-1252", 0, 0, 0, 0, -1, -1, true},
      {"Locale decimal", "Locale=1031", 0, 1, 0, 1031, -1, -1, true},
      {"Locale 0x", "Locale=0x419", 0, 1, 0, 0x419, -1, -1, true},
      {"Locale $", "Locale=$40C", 0, 1, 0, 0x40C, -1, -1, true},
      {"Locale 0 changes nothing", "Locale=0", 0, 1, 0, 0, -1, -1, true},
      {"the head's first = gives the value", "//a=b Encoding=utf-8", 0, 1, 0, 0, -1, -1, true},
      {"Encoding= is tested before Charset=", "Charset=windows-1251 Encoding=utf-8", 0, 1, 0, 0, -1,
       -1, true},
      {"a keyword past 50 characters is not seen", "//" + std::string(50, '-') + "Encoding=utf-8",
       0, 1, 0, 0, -1, -1, false},
      {"//saveuntr", "//saveuntr", 0, 1, 0, 0, 1, -1, false},
      {"//saveuntrobj", " //saveuntrobj ", 0, 1, 0, 0, 4, -1, false},
      {"//saveunused", "//saveunused", 0, 1, 0, 0, 3, -1, false},
      {"//saveall", "//saveall", 0, 1, 0, 0, 2, -1, false},
      {"collection keywords compare with case", "//SaveUntr", 0, 1, 0, 0, -1, -1, false},
      {"//filenew", "//filenew", 0, 1, 0, 0, -1, 0, false},
      {"//filerewrite", "//filerewrite", 0, 1, 0, 0, -1, 1, false},
      {"//fileappend", "//fileappend", 0, 1, 0, 0, -1, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLanguageFileSettings s;
    EXPECT_EQ(ApplyDirective(c.line, s), c.used_up);
    EXPECT_EQ(s.encoding, c.encoding);
    EXPECT_EQ(s.font_charset, c.charset);
    EXPECT_EQ(s.bidi_mode, c.bidi);
    EXPECT_EQ(s.locale, c.locale);
    EXPECT_EQ(s.collect_mode ? int(*s.collect_mode) : -1, c.collect);
    EXPECT_EQ(s.collect_file_mode ? int(*s.collect_file_mode) : -1, c.file_mode);
  }
}

TEST(LanguageFileTest, FromLineTwentyDirectivesAreOrdinaryLines) {
  std::string text;
  for (int i = 1; i <= 18; ++i) text += "// line " + std::to_string(i) + "\n";
  auto within = Parse(text + "Encoding=utf-8\n");  // line 19
  EXPECT_EQ(within->settings.encoding, 1);
  text += "// line 19\n";
  // Line 20 is part of the block now, and ignored there.
  auto beyond = Parse(text + "EN:>Save\nEncoding=utf-8\nDE:>Sichern\n//saveuntr\n\n");
  EXPECT_EQ(beyond->settings.encoding, 0);
  EXPECT_FALSE(beyond->settings.collect_mode.has_value());
  EXPECT_EQ(beyond->dictionary.ExactTexts.FindString("Save"), "Sichern");
  // A value directive in the first lines is used up: it does not join a block.
  auto used = Parse("EN:>Save\nEncoding=utf-8\nDE:>Sichern\n\n");
  EXPECT_EQ(used->count, 1);
}

}  // namespace
}  // namespace tarvel
