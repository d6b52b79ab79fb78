// The collection modes and the side files they leave when the translator
// goes: what each mode records, how the file is named, opened and sorted.
#include <gtest/gtest.h>

#include <string>

#include "components/Controls.h"
#include "platform/file_io.h"
#include "translation/Translator.h"
#include "translation/translation_support.h"

namespace tarvel {
namespace {

using test::ReadWholeFile;
using test::TranslatorTest;
using test::WriteWholeFile;

const char* const kPairs =
    "EN:>Timeout\nDE:>Zeitlimit\n\nEN:>Generating event\nDE:>Erzeuge Ereignis\n\n";

const char* const kHeader = "[Languages]\r\n$EN = #1\r\n$DE = #2 (Default)\r\nDefault = DE\r\n\r\n";

class CollectTest : public TranslatorTest {
 protected:
  // A small dialog: texts with and without translations, one twice, and
  // texts that have no letter.
  void Dialog(TForm& form) {
    form.SetName("frmOption");
    const char16_t* captions[] = {u"Timeout", u"Zebra", u"apple",
                                  u"Zebra",   u"12:30", u"Line1\r\nLine2"};
    int i = 0;
    for (const char16_t* c : captions) {
      auto* label = new TLabel(&form);
      label->SetName("Label" + std::to_string(++i));
      label->SetCaption(c);
    }
  }
  // Run translates a fresh dialog `passes` times and destroys the
  // translator, which writes the side file.
  void Run(const std::string& directives, int passes = 1) {
    Lng(directives + kPairs);
    for (int p = 0; p < passes; ++p) {
      TForm form;
      Dialog(form);
      EXPECT_TRUE(translator->Translate("DE", &form, nullptr, "EN"));
      if (!directives.empty()) {
        EXPECT_EQ(static_cast<TLabel*>(form.Components(0))->Caption(), u"Timeout")
            << "a collection pass changes no text";
      }
    }
    translator.reset();
  }
};

TEST_F(CollectTest, EachModeRecordsItsTexts) {
  struct {
    const char* what;
    const char* directive;
    int passes;
    const char* side_file;
    std::string body;  // after the header
  } cases[] = {
      {"//saveuntr: untranslated texts with a letter, once, sorted", "//saveuntr\n", 2,
       "tarvel.lng.new",
       "EN:>apple\r\nDE:>\r\n\r\nEN:>Line1%0D%0ALine2\r\nDE:>\r\n\r\n"
       "EN:>Zebra\r\nDE:>\r\n\r\n\r\n"},
      {"//saveuntrobj: with their places, for every place and pass", "//saveuntrobj\n", 2,
       "tarvel.lng.new",
       "EN:>[TForm]frmOption -> [TLabel]Label2.Caption=Zebra\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label2.Caption=Zebra\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label3.Caption=apple\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label3.Caption=apple\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label4.Caption=Zebra\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label4.Caption=Zebra\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label6.Caption=Line1%0D%0ALine2\r\nDE:>\r\n\r\n"
       "EN:>[TForm]frmOption -> [TLabel]Label6.Caption=Line1%0D%0ALine2\r\nDE:>\r\n\r\n\r\n"},
      {"//saveunused: translations no pass needed", "//saveunused\n", 1, "tarvel.lng.unused",
       "EN:>Generating event\r\nDE:>\r\n\r\n\r\n"},
      {"//saveall: every text once, with the translation the file has", "//saveall\n", 2,
       "tarvel.lng.new",
       "EN:>apple\r\nDE:>\r\n\r\nEN:>Line1%0D%0ALine2\r\nDE:>\r\n\r\n"
       "EN:>Timeout\r\nDE:>Zeitlimit\r\n\r\nEN:>Zebra\r\nDE:>\r\n\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Run(c.directive, c.passes);
    EXPECT_EQ(ReadWholeFile(dir.File(c.side_file)), kHeader + c.body);
    std::remove(dir.File(c.side_file).c_str());
  }
}

TEST_F(CollectTest, ATextUsedOnceIsNeverListedUnusedAlsoAcrossAReleaseOfTheDictionary) {
  // Passes before and after the dictionary was released and read again;
  // each pass translates one text.
  struct {
    const char* what;
    const char16_t* before;
    const char16_t* after;
  } cases[] = {
      {"used before the release", u"Timeout", u"Zebra"},
      {"used after the release", u"Zebra", u"Timeout"},
      {"used on both sides", u"Timeout", u"Timeout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Lng(std::string("//saveunused\n") + kPairs);
    TLabel label;
    label.SetCaption(c.before);
    EXPECT_TRUE(translator->Translate("DE", &label, nullptr, "EN"));
    ReleaseTimeGoesBy();
    ASSERT_FALSE(translator->HasDictionary());
    label.SetCaption(c.after);
    EXPECT_TRUE(translator->Translate("DE", &label, nullptr, "EN"));
    translator.reset();
    EXPECT_EQ(ReadWholeFile(dir.File("tarvel.lng.unused")),
              std::string(kHeader) + "EN:>Generating event\r\nDE:>\r\n\r\n\r\n");
    std::remove(dir.File("tarvel.lng.unused").c_str());
  }
}

TEST_F(CollectTest, WithoutAModeNothingIsWritten) {
  Run("");
  EXPECT_FALSE(platform::FileExists(dir.File("tarvel.lng.new")));
}

TEST_F(CollectTest, FileModes) {
  const std::string side = dir.File("tarvel.lng.new");
  // //filenew takes the first free name.
  WriteWholeFile(side, "old\r\n");
  WriteWholeFile(dir.File("tarvel.lng.1.new"), "old\r\n");
  Run("//saveuntr\n//filenew\n");
  EXPECT_EQ(ReadWholeFile(side), "old\r\n");
  EXPECT_NE(ReadWholeFile(dir.File("tarvel.lng.2.new")).find("EN:>Zebra"), std::string::npos);

  // //filerewrite empties the existing file and writes no header.
  Run("//saveuntr\n//filerewrite\n");
  EXPECT_EQ(ReadWholeFile(side).substr(0, 9), "EN:>apple");

  // //fileappend adds after the old content, without a second header.
  WriteWholeFile(side, "old\r\n");
  Run("//saveuntr\n//fileappend\n");
  const std::string appended = ReadWholeFile(side);
  EXPECT_EQ(appended.substr(0, 14), "old\r\nEN:>apple");
  EXPECT_EQ(appended.find("[Languages]"), std::string::npos);

  // //fileappend without a file creates it with its header.
  std::remove(side.c_str());
  Run("//saveuntr\n//fileappend\n");
  EXPECT_EQ(ReadWholeFile(side).substr(0, 11), "[Languages]");
}

TEST_F(CollectTest, CollectedTextsAreFoundByTheLoaderOnceTranslated) {
  Run("//saveuntr\n");
  // A translator fills the target lines; the texts are then found.
  std::string text = ReadWholeFile(dir.File("tarvel.lng.new"));
  for (auto [from, to] : {std::pair{"DE:>\r\n\r\nEN:>Line", "DE:>Apfel\r\n\r\nEN:>Line"},
                          std::pair{"Line2\r\nDE:>\r\n", "Line2\r\nDE:>Zeile1%0D%0AZeile2\r\n"}})
    text.replace(text.find(from), std::string(from).size(), to);
  Lng(text);
  TLabel multi;
  multi.SetCaption(u"Line1\r\nLine2");
  EXPECT_TRUE(translator->Translate("DE", &multi, nullptr, "EN"));
  EXPECT_EQ(multi.Caption(), u"Zeile1\r\nZeile2");
}

}  // namespace
}  // namespace tarvel
