#include "settings/ValueEncoding.h"

#include <gtest/gtest.h>

#include "components/Components.h"

namespace tarvel {
namespace {

TEST(Escape, Examples) {
  static const struct {
    const char* name;
    std::string text;
    std::string stored;
  } cases[] = {
      {"edge spaces", " a b ", "+a b+"},
      {"inner spaces stay", "a  b", "a  b"},
      {"trailing run", "a   ", "a+++"},
      {"only spaces", "   ", "+++"},
      {"percent", "100%", "100%%"},
      {"plus", "1+1", "1%2B1"},
      {"string list", "x\r\ny\r\n", "x%0D%0Ay%0D%0A"},
      {"tab", "a\tb", "a%09b"},
      {"high bytes unchanged", "\xE9\xFF", "\xE9\xFF"},
      {"ends at NUL", std::string("ab\0cd", 5), "ab"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EscapeText(c.text), c.stored);
  }
}

TEST(Unescape, Examples) {
  static const struct {
    const char* name;
    std::string stored;
    std::string text;
  } cases[] = {
      {"hex", "%41", "A"},
      {"lower hex", "%0d%0a", "\r\n"},
      {"not hex stays", "%zz", "%zz"},
      {"plus is space", "a+b", "a b"},
      {"short tail", "x%4", "x%4"},
      {"lone percent", "%", "%"},
      {"double percent", "%%41", "%41"},
      {"ends at NUL", std::string("a\0%41", 5), "a"},
      {"percent then one hex", "%4g", "%4g"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UnescapeText(c.stored), c.text);
  }
}

TEST(Escape, RoundTripsEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  for (const std::string& text : {all, " " + all + "  ", std::string("  ")}) {
    std::string stored = EscapeText(text);
    EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(stored.front(), ' ');
    EXPECT_NE(stored.back(), ' ');
    EXPECT_LE(stored.size(), text.size() * 3);
    EXPECT_EQ(UnescapeText(stored), text);
  }
}

TEST(ComponentPath, WritesAndFindsPaths) {
  auto* form = new TComponent(&Application());
  form->SetName("PathTestForm");
  auto* panel = new TComponent(form);
  panel->SetName("Panel");
  auto* button = new TComponent(panel);
  button->SetName("Button");
  TComponent loose;
  loose.SetName("Loose");

  EXPECT_EQ(ComponentPath(*form), "Application.PathTestForm");
  EXPECT_EQ(ComponentPath(*button), "Application.PathTestForm.Panel.Button");
  EXPECT_EQ(ComponentPath(Application()), "Application");
  EXPECT_EQ(ComponentPath(loose), "Loose");

  EXPECT_EQ(FindComponentByPath("Application.PathTestForm.Panel.Button", &loose), button);
  EXPECT_EQ(FindComponentByPath("application.pathtestform.panel", nullptr), panel);
  EXPECT_EQ(FindComponentByPath("Panel.Button", form), button);
  EXPECT_EQ(FindComponentByPath("PathTestForm.Panel", &loose), panel)
      << "falls back to the application object";
  EXPECT_EQ(FindComponentByPath("Application.Nothing", form), nullptr);
  EXPECT_EQ(FindComponentByPath("Panel.Nothing.Button", form), nullptr);
  delete form;
  EXPECT_EQ(Application().FindComponent("PathTestForm"), nullptr);
}

}  // namespace
}  // namespace tarvel
