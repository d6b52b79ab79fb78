// The translator: how one text is found and rebuilt, when a pass runs and
// when the file is read, the languages the file names, and what a file
// that cannot be read leaves.
#include "translation/Translator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "Common/OleVariant.h"
#include "components/Controls.h"
#include "platform/text.h"
#include "translation/translation_support.h"

namespace tarvel {
namespace {

using test::kGermanFile;
using test::TranslatorTest;

// A label whose caption the pass translates: the text travels wide.
std::u16string ThroughLabel(TWtransl& t, std::u16string_view text, const char* to = "DE") {
  TLabel label;
  label.SetCaption(text);
  t.Translate(to, &label, nullptr, "EN");
  return label.Caption();
}

TEST_F(TranslatorTest, OneTextIsFoundInItsExactEscapedOrLowerForm) {
  TWtransl& t = Lng(kGermanFile);
  struct {
    const char* what;
    std::u16string text, expected;
  } cases[] = {
      {"exact; the & goes since the text has none", u"Save", u"Speichern"},
      {"&Save is found without its & and keeps one", u"&Save", u"&Speichern"},
      {"a lower-case text is found through the lower-cased table", u"save file",
       u"Datei speichern"},
      {"a source already in lower case is only found exactly", u"Save All", u"Save All"},
      {"CR LF is looked up as %0D%0A and comes back", u"Line1\r\nLine2", u"Zeile1\r\nZeile2"},
      {"without control characters every % stays", u"100% sure", u"100% sicher %41"},
      {"blanks around the text are dropped with it", u" Save ", u"Speichern"},
      {"controls around the text too", u"Timeout\t", u"Zeitlimit"},
      {"no pair: unchanged", u"Unknown", u"Unknown"},
      {"blanks only: unchanged", u"   ", u"   "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ThroughLabel(t, c.text), c.expected);
  }
}

TEST_F(TranslatorTest, EncodingDecidesHowTranslationsAreRead) {
  const std::string pairs =
      "EN:>Close\nDE:>Schlie\xC3\x9F"
      "en\n\nEN:>Event\nRU:>\xD0\xA1\xD0\xBE\xD0\xB1\xD1\x8B\xD1\x82\xD0\xB8\xD0\xB5\n\n";
  struct {
    const char* what;
    std::string header;
    const char* to;
    std::u16string text, wide;
    std::string narrow;  // through an 8-bit text
  } cases[] = {
      {"UTF-8 decoded", "Encoding=utf-8\n", "DE", u"Close", u"Schlie\u00DFen",
       "Schlie\xDF"
       "en"},
      {"bytes as ANSI without the directive", "", "DE", u"Close", u"Schlie\u00C3\u0178en",
       "Schlie\xC3\x9F"
       "en"},
      {"Cyrillic reaches wide texts; 8-bit texts keep the source", "Encoding=utf-8\n", "RU",
       u"Event", u"\u0421\u043E\u0431\u044B\u0442\u0438\u0435", "Event"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TWtransl& t = Lng(c.header + pairs);
    EXPECT_EQ(ThroughLabel(t, c.text, c.to), c.wide);
    std::string narrow = platform::WideToAnsi(c.text);
    EXPECT_TRUE(t.Translate(c.to, nullptr, &narrow, "EN"));
    EXPECT_EQ(narrow, c.narrow);
  }
}

TEST_F(TranslatorTest, APassRunsOnlyWithPairsAndReadsTheFileOncePerPair) {
  TWtransl& t = Lng(kGermanFile);
  int before = 0, after = 0;
  t.OnBeforeTranslate = [&](TWtransl&, TWtranslLanguagesList* d) {
    EXPECT_NE(d, nullptr);
    ++before;
  };
  t.OnAfterTranslate = [&](TWtransl&, TWtranslLanguagesList*) { ++after; };
  std::string text = "Timeout";
  EXPECT_FALSE(t.Translate("EN", nullptr, &text, "EN")) << "source and target equal";
  EXPECT_EQ(t.EntryCount(), 0);
  EXPECT_EQ(before + after, 0);

  EXPECT_TRUE(t.Translate("DE", nullptr, &text, "EN"));
  EXPECT_EQ(text, "Zeitlimit");
  EXPECT_EQ(t.EntryCount(), 8);
  EXPECT_EQ(t.LoadedKey(), "ENDE");
  EXPECT_EQ(t.TargetLanguage(), "DE");
  EXPECT_EQ(t.SourceLanguage(), "EN");
  EXPECT_EQ(t.CurrentLanguage(), "EN") << "a text pass leaves the current language";
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);

  // The same pair again does not read the changed file ...
  test::WriteWholeFile(file, "EN:>Timeout\nDE:>Frist\n\n");
  text = "Timeout";
  t.Translate("DE", nullptr, &text, "");  // "": from the current language
  EXPECT_EQ(text, "Zeitlimit");
  // ... until the dictionary was released after a quiet interval.
  ReleaseTimeGoesBy();
  EXPECT_FALSE(t.HasDictionary());
  EXPECT_EQ(t.LoadedKey(), "");
  text = "Timeout";
  t.Translate("DE", nullptr, &text, "EN");
  EXPECT_EQ(text, "Frist");
}

TEST_F(TranslatorTest, APassOnAnotherThreadStillLetsTheDictionaryGoAndAnEditedFileBeRead) {
  TWtransl& t = Lng(kGermanFile);
  std::string text = "Timeout";
  t.Translate("DE", nullptr, &text, "EN");  // the timer runs, on this thread
  // A pass on a host thread: it stops the timer and starts it again, both
  // by request to this thread, which has handled neither yet.
  std::thread([&] {
    std::string again = "Timeout";
    t.Translate("DE", nullptr, &again, "EN");
  }).join();
  platform::ProcessPendingMessages();
  EXPECT_TRUE(t.ReleaseTimer()->Enabled());
  test::WriteWholeFile(file, "EN:>Timeout\nDE:>Frist\n\n");
  ReleaseTimeGoesBy();
  EXPECT_FALSE(t.HasDictionary());
  text = "Timeout";
  t.Translate("DE", nullptr, &text, "EN");
  EXPECT_EQ(text, "Frist");
}

// "Locale=" makes the module write numbers, dates and times in that
// locale's formats from the load on.
TEST_F(TranslatorTest, ALocaleDirectiveSetsTheFormatsOfNumbersAndDates) {
  struct UserFormatsAfter {
    ~UserFormatsAfter() { platform::UseFormatsOf(0); }
  } restore;
  TWtransl& t = Lng(std::string("// Locale=1031\r\n") + kGermanFile);
  std::string text = "Timeout";
  EXPECT_TRUE(t.Translate("DE", nullptr, &text, "EN"));
  EXPECT_EQ(t.Locale(), 1031u);
  EXPECT_EQ(platform::DecimalSeparator(), ',');
  EXPECT_EQ(OleVariant(2.5).ToAnsi(), "2,5");
  // German: the day before the month, a 24-hour clock (the exact short
  // date is the system's: Windows writes 15.03.2023, Wine 15.3.2023).
  const std::string date = platform::DateTimeText(45000.5);
  EXPECT_EQ(date.substr(0, 3), "15.") << date;
  EXPECT_NE(date.find("2023 12:00:00"), std::string::npos) << date;
}

TEST_F(TranslatorTest, MissingAndUnreadableFiles) {
  TWtransl& t = Lng(kGermanFile);
  std::string text = "Timeout";
  t.SetLanguageFile(dir.File("none.lng"));
  t.ReleaseDictionary();
  EXPECT_FALSE(t.Translate("DE", nullptr, &text, "EN"));
  EXPECT_EQ(t.EntryCount(), -1);
  EXPECT_EQ(t.LoadError(), "") << "no file is no error";

  const std::string folder = dir.File("folder.lng");
  std::filesystem::create_directory(folder);
  t.SetLanguageFile(folder);
  EXPECT_FALSE(t.Translate("FR", nullptr, &text, "EN"));
  EXPECT_EQ(t.EntryCount(), -1);
  EXPECT_NE(t.LoadError().find("folder.lng"), std::string::npos) << t.LoadError();
  EXPECT_EQ(text, "Timeout");
  std::vector<std::string> languages{"stale"};
  EXPECT_EQ(t.GetLanguages(&languages), "");
  EXPECT_TRUE(languages.empty());
}

TEST_F(TranslatorTest, GetLanguagesListsTheLanguagesSection) {
  TWtransl& t =
      Lng("\xEF\xBB\xBF[Languages]\r\n$EN=English\r\n$DE=Deutsch\r\n$XX=\r\nDefault=DE\r\n"
          "Other=1\r\n\r\nEN:>Save\r\nDE:>Sichern\r\n\r\n");
  std::vector<std::string> languages;
  EXPECT_EQ(t.GetLanguages(&languages), "DE");
  EXPECT_EQ(languages, (std::vector<std::string>{"EN,English", "DE,Deutsch"}));
  EXPECT_EQ(t.DefaultLanguage(), "DE");
  EXPECT_EQ(t.GetLanguages(nullptr), "DE");
}

TEST_F(TranslatorTest, DirectivesAreResetAtEveryLoad) {
  TWtransl& t =
      Lng("Encoding=utf-8\nBiDiMode=righttoleft\nCharset=windows-1251\nLocale=1049\n\n"
          "EN:>Save\nRU:>x\n\nEN:>Save\nDE:>y\n\n");
  const uint32_t start_locale = platform::ThreadLocaleId();
  std::string text = "Save";
  t.Translate("RU", nullptr, &text, "EN");
  EXPECT_EQ(t.Encoding(), 1);
  EXPECT_EQ(t.BiDiMode(), 1);
  EXPECT_EQ(t.FontCharset(), 204);
  EXPECT_EQ(t.Locale(), 1049u);
  EXPECT_EQ(platform::ThreadLocaleId(), 1049u);
  test::WriteWholeFile(file, "EN:>Save\nDE:>y\n\n");
  t.Translate("DE", nullptr, &text, "EN");
  EXPECT_EQ(t.Encoding(), 0);
  EXPECT_EQ(t.BiDiMode(), 0);
  EXPECT_EQ(t.FontCharset(), 1);
  EXPECT_EQ(t.Locale(), start_locale);
  EXPECT_EQ(platform::ThreadLocaleId(), start_locale);
}

TEST_F(TranslatorTest, AllFormsPassTranslatesTheApplicationsForms) {
  TWtransl& t = Lng(kGermanFile);
  auto* shown = new TForm(&Application());
  shown->SetCaption(u"Save");
  auto* skipped = new TForm(&Application());
  skipped->SetTag(9999);
  skipped->SetCaption(u"Save");
  auto* children_only = new TForm(&Application());
  children_only->SetTag(9998);
  children_only->SetCaption(u"Save");
  auto* label = new TLabel(children_only);
  label->SetCaption(u"Timeout");
  EXPECT_TRUE(t.Translate("DE", nullptr, nullptr, "EN"));
  EXPECT_EQ(shown->Caption(), u"Speichern");
  EXPECT_EQ(skipped->Caption(), u"Save");
  EXPECT_EQ(children_only->Caption(), u"Save");
  EXPECT_EQ(label->Caption(), u"Zeitlimit");
  EXPECT_EQ(t.CurrentLanguage(), "DE");
  delete shown;
  delete skipped;
  delete children_only;
}

TEST_F(TranslatorTest, AnExceptionFromAnEventLeavesTheLockAndRestartsTheTimer) {
  TWtransl& t = Lng(kGermanFile);
  t.OnAfterTranslate = [](TWtransl&, TWtranslLanguagesList*) {
    throw std::runtime_error("handler failed");
  };
  std::string text = "Save";
  EXPECT_THROW(t.Translate("DE", nullptr, &text, "EN"), std::runtime_error);
  EXPECT_TRUE(t.ReleaseTimer()->Enabled());
  std::thread([&] { EXPECT_EQ(t.EntryCount(), 8); }).join();  // the lock is free
}

}  // namespace
}  // namespace tarvel
