// The stand-in host's feed parser, from strings: values, portions, timing,
// CSV, and malformed lines reported by number and skipped.
#include <gtest/gtest.h>

#include <string>

#include "feed.h"

namespace tarvel::host {
namespace {

std::string Describe(const FeedValue& v) {
  switch (v.kind) {
    case FeedValue::Kind::kInteger:
      return std::string("i").append(std::to_string(v.integer));
    case FeedValue::Kind::kNumber: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "n%g", v.number);
      return buf;
    }
    case FeedValue::Kind::kText:
      return "'" + v.text + "'";
  }
  return "?";
}

// Describe renders portions compactly: "+MS{NAME=VALUE ...|next row}" or
// "@MS{...}" (a language change as "+MS[LANG]"), portions separated by a
// blank.
std::string Describe(const std::vector<FeedPortion>& portions) {
  std::string out;
  for (const FeedPortion& p : portions) {
    if (!out.empty()) out += ' ';
    out += p.timing == FeedPortion::Timing::kAt ? "@" : "+";
    out += std::to_string(p.ms);
    if (p.language) {
      out += "[" + *p.language + "]";
      continue;
    }
    out += "{";
    for (size_t r = 0; r < p.rows.size(); ++r) {
      if (r) out += '|';
      for (size_t i = 0; i < p.rows[r].size(); ++i) {
        if (i) out += ' ';
        out += p.rows[r][i].name + "=" + Describe(p.rows[r][i].value);
      }
    }
    out += "}";
  }
  return out;
}

TEST(HostFeedTest, ClassifiesValues) {
  static const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"42", "i42"},
      {"-7", "i-7"},
      {"+5", "i5"},
      {"0", "i0"},
      {"007", "i7"},
      {"2147483647", "i2147483647"},
      {"-2147483648", "i-2147483648"},
      {"2147483648", "n2.14748e+09"},  // beyond 32 bits: a double
      {"21.5", "n21.5"},
      {"-0.25", "n-0.25"},
      {"1e3", "n1000"},
      {"2.5E-1", "n0.25"},
      {".5", "n0.5"},
      {"5.", "n5"},
      {"abc", "'abc'"},
      {"", "''"},
      {"1,5", "'1,5'"},  // only '.' separates decimals in a feed
      {"0x10", "'0x10'"},
      {"inf", "'inf'"},
      {"nan", "'nan'"},
      {"1e", "'1e'"},
      {"1e999", "'1e999'"},  // not a finite double
      {"--1", "'--1'"},
      {"+", "'+'"},
      {"12abc", "'12abc'"},
      {"1.2.3", "'1.2.3'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Describe(ClassifyValue(c.text)), c.expected);
  }
}

TEST(HostFeedTest, BuildsPortionsAndTiming) {
  static const struct {
    const char* name;
    const char* feed;
    const char* expected;
  } cases[] = {
      {"one row", "A=1", "+0{A=i1}"},
      {"rows of one portion", "A=1 B=x\nC=2.5\n", "+0{A=i1 B='x'|C=n2.5}"},
      {"blank line ends a portion", "A=1\n\nB=2", "+0{A=i1} +0{B=i2}"},
      {"marker ends a portion", "A=1\n---\nB=2", "+0{A=i1} +0{B=i2}"},
      {"runs of blank lines end one portion", "A=1\n\n\n---\n\nB=2", "+0{A=i1} +0{B=i2}"},
      {"delay before the next portion", "A=1\n+250\nB=2", "+0{A=i1} +250{B=i2}"},
      {"delay line ends the open portion", "A=1\n+250\nB=2\nC=3", "+0{A=i1} +250{B=i2|C=i3}"},
      {"delays add up", "+100\n@delay 50\nA=1", "+150{A=i1}"},
      {"milliseconds suffix", "+20ms\n@delay 30 ms\nA=1", "+50{A=i1}"},
      {"absolute time", "A=1\n@at 1000\nB=2", "+0{A=i1} @1000{B=i2}"},
      {"delay after an absolute time", "@at 1000\n+5\nA=1", "@1005{A=i1}"},
      {"trailing delay is a wait", "A=1\n+500", "+0{A=i1} +500{}"},
      {"comments and blanks around", "# head\n  A=1\t\n# tail\n", "+0{A=i1}"},
      {"CR LF line ends", "A=1\r\nB=2\r\n\r\nC=3\r\n", "+0{A=i1|B=i2} +0{C=i3}"},
      {"quoted values are text", "A=\"x y\" B=\"\" C=\"12\" D=\"q\\\"b\\\\\"",
       "+0{A='x y' B='' C='12' D='q\"b\\'}"},
      {"empty value is text", "A= B=1", "+0{A='' B=i1}"},
      {"names keep their form", "client.Id=1 x-Y_z=2", "+0{client.Id=i1 x-Y_z=i2}"},
      {"a value may hold '='", "EXPR=a=b", "+0{EXPR='a=b'}"},
      {"no rows, no portions", "# nothing\n\n---\n", ""},
      {"CSV: a portion per line", "@csv\nID,T\n1,2.5\n2,x\n", "+0{ID=i1 T=n2.5} +0{ID=i2 T='x'}"},
      {"CSV: quoted and empty cells", "@csv\nID,NOTE,T\n1,\"a, \"\"b\"\"\",\n3,,\"4\"",
       "+0{ID=i1 NOTE='a, \"b\"'} +0{ID=i3 T='4'}"},
      {"CSV: short lines leave items out", "@csv\nA,B,C\n1\n", "+0{A=i1}"},
      {"CSV: delay column", "@csv\n@delay,ID\n0,1\n100,2", "+0{ID=i1} +100{ID=i2}"},
      {"CSV: time column", "@csv\nID,@at\n1,0\n2,1500", "@0{ID=i1} @1500{ID=i2}"},
      {"CSV: delay lines between rows", "@csv\nID\n1\n+40\n2", "+0{ID=i1} +40{ID=i2}"},
      {"CSV then pairs", "@csv\nA\n1\n@pairs\nB=2", "+0{A=i1} +0{B=i2}"},
      {"pairs portion ends at @csv", "A=1\n@csv\nB\n2", "+0{A=i1} +0{B=i2}"},
      {"a language change at its time", "A=1\n@at 1500\n@language FR\n+10\nB=2",
       "+0{A=i1} @1500[FR] +10{B=i2}"},
      {"an empty language", "@language\nA=1", "+0[] +0{A=i1}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedFeed parsed = ParseFeed(c.feed);
    EXPECT_EQ(Describe(parsed.portions), c.expected);
    for (const FeedError& e : parsed.errors)
      ADD_FAILURE() << "line " << e.line << ": " << e.message;
  }
}

TEST(HostFeedTest, CsvFromTheFirstLine) {
  ParsedFeed parsed = ParseFeed("ID,TEMP\n7,21.5\n8,19\n", true);
  EXPECT_EQ(Describe(parsed.portions), "+0{ID=i7 TEMP=n21.5} +0{ID=i8 TEMP=i19}");
  EXPECT_TRUE(parsed.errors.empty());
}

TEST(HostFeedTest, PortionsKnowTheLineOfTheirFirstRow) {
  ParsedFeed parsed = ParseFeed("# head\nA=1\nB=2\n\n+10\nC=3\n@csv\nD\n4\n");
  ASSERT_EQ(parsed.portions.size(), 3u);
  EXPECT_EQ(parsed.portions[0].line, 2);
  EXPECT_EQ(parsed.portions[1].line, 6);
  EXPECT_EQ(parsed.portions[2].line, 9);
}

TEST(HostFeedTest, MalformedLinesAreReportedByNumberAndSkipped) {
  static const struct {
    const char* name;
    const char* feed;
    std::vector<int> error_lines;
    const char* expected;
  } cases[] = {
      {"word without '='", "A=1\nfoo\nB=2", {2}, "+0{A=i1|B=i2}"},
      {"one bad pair spoils its line", "A=1\nB=2 oops C=3\nD=4", {2}, "+0{A=i1|D=i4}"},
      {"empty name", "=5\nA=1", {1}, "+0{A=i1}"},
      {"unterminated quote", "A=\"x\nB=1", {1}, "+0{B=i1}"},
      {"text right after a quote", "A=\"x\"y\nB=1", {1}, "+0{B=i1}"},
      {"unknown directive", "A=1\n@wait 5\n\nB=2", {2}, "+0{A=i1} +0{B=i2}"},
      {"directive with a stray word", "@csv now\nA=1", {1}, "+0{A=i1}"},
      {"delay that is no number", "@delay soon\n+12x\nA=1", {1, 2}, "+0{A=i1}"},
      {"negative delay", "@delay -5\nA=1", {1}, "+0{A=i1}"},
      {"delay out of range", "+99999999999\nA=1", {1}, "+0{A=i1}"},
      {"CSV line longer than the header", "@csv\nA\n1,2\n3", {3}, "+0{A=i3}"},
      {"CSV bad delay cell", "@csv\n@delay,A\nx,1\n5,2", {3}, "+5{A=i2}"},
      {"CSV empty column name", "@csv\nA,,B\nA\n1", {2}, "+0{A=i1}"},
      {"CSV unterminated quote", "@csv\nA\n\"x\n2", {3}, "+0{A=i2}"},
      {"CSV line without values", "@csv\nA,B\n,\n1,2", {3}, "+0{A=i1 B=i2}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedFeed parsed = ParseFeed(c.feed);
    std::vector<int> lines;
    for (const FeedError& e : parsed.errors) {
      lines.push_back(e.line);
      EXPECT_FALSE(e.message.empty());
    }
    EXPECT_EQ(lines, c.error_lines);
    EXPECT_EQ(Describe(parsed.portions), c.expected);
  }
}

TEST(HostFeedTest, LineByLineHandsOutPortionsAsTheyComplete) {
  // A live feed: a portion is handed on when its end is seen, not at the end.
  FeedParser parser;
  std::vector<FeedPortion> portions;
  std::vector<FeedError> errors;
  parser.Line("A=1", portions, errors);
  EXPECT_TRUE(portions.empty());
  parser.Line("", portions, errors);
  ASSERT_EQ(portions.size(), 1u);
  parser.Line("+30", portions, errors);
  parser.Line("B=2", portions, errors);
  EXPECT_EQ(portions.size(), 1u);
  parser.Finish(portions);
  EXPECT_EQ(Describe(portions), "+0{A=i1} +30{B=i2}");
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(parser.LineNumber(), 4);
}

}  // namespace
}  // namespace tarvel::host
