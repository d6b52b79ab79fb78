// The shared text helpers: what trimming drops, how malformed UTF-8 comes
// out, and hexadecimal digits both ways.
#include "Common/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvel {
namespace {

TEST(Text, TrimControlsDropsCodesUpToTheSpaceFromBothEnds) {
  static const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"nothing to drop", "a b", "a b"},
      {"spaces and line ends", " \t a b \r\n", "a b"},
      {"NUL and other controls", std::string("\0\x01x\x1F", 4), "x"},
      {"only controls", " \x07\r\n", ""},
      {"code 33 stays", "!x!", "!x!"},
      {"bytes above 127 stay", "\xA0x\xFF", "\xA0x\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(std::string(TrimControls(std::string_view(c.in))), c.out);
  }
  EXPECT_EQ(TrimControls(std::u16string_view(u"\u0001 \u00E4x\r\n")), u"\u00E4x");
  EXPECT_EQ(TrimControls(std::u16string_view(u"\u00A0x")), u"\u00A0x");
}

TEST(Text, Utf8ToWideReplacesEachByteOfAMalformedSequence) {
  static const struct {
    const char* what;
    std::string in;
    std::u16string out;
  } cases[] = {
      {"ASCII", "ab", u"ab"},
      {"two, three and four bytes", "\xC3\xA4\xE2\x98\x83\xF0\x9F\x98\x80",
       u"\u00E4\u2603\U0001F600"},
      {"a lone continuation byte", "a\x80z", u"a\uFFFDz"},
      {"overlong two-byte lead", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"a surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lead bytes F5 and above start nothing", "\xF5\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"cut short at the end", "x\xE2\x98", u"x\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Utf8ToWide(c.in), c.out);
  }
}

TEST(Text, HexDigitsBothWays) {
  for (unsigned v = 0; v < 16; ++v) {
    SCOPED_TRACE(v);
    const char digit = UpperHexDigit(v);
    EXPECT_EQ(HexDigitValue(static_cast<char32_t>(digit)), static_cast<int>(v));
    EXPECT_EQ(HexDigitValue(static_cast<char32_t>(std::tolower(digit))), static_cast<int>(v));
  }
  EXPECT_EQ(UpperHexDigit(10), 'A');
  for (char32_t c : {U'g', U'G', U'/', U':', U'@', U'`', U'\u0661'})
    EXPECT_EQ(HexDigitValue(c), -1);
}

}  // namespace
}  // namespace tarvel
