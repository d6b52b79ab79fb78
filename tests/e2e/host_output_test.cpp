// The stand-in host's output lines, text and JSON, and its reading of the
// log lines' wire form.
#include <gtest/gtest.h>

#include "output.h"

namespace tarvel::host {
namespace {

ShownValue Int(int64_t n) {
  ShownValue v;
  v.kind = ShownValue::Kind::kInteger;
  v.integer = n;
  return v;
}
ShownValue Num(double d) {
  ShownValue v;
  v.kind = ShownValue::Kind::kNumber;
  v.number = d;
  return v;
}
ShownValue Text(std::string t) {
  ShownValue v;
  v.kind = ShownValue::Kind::kText;
  v.text = std::move(t);
  return v;
}
ShownValue Kind(ShownValue::Kind k, bool b = false) {
  ShownValue v;
  v.kind = k;
  v.boolean = b;
  return v;
}

TEST(HostOutputTest, Events) {
  static const struct {
    const char* name;
    ShownEvent event;
    const char* text;
    const char* json;
  } cases[] = {
      {"no parameters",
       {"CLIENT-TIMEOUT", false, {}},
       "+1.234s EVENT CLIENT-TIMEOUT",
       R"({"time":1.234,"type":"event","name":"CLIENT-TIMEOUT","global":false,"params":{}})"},
      {"global",
       {"SHUTDOWN", true, {}},
       "+1.234s EVENT SHUTDOWN [global]",
       R"({"time":1.234,"type":"event","name":"SHUTDOWN","global":true,"params":{}})"},
      {"parameters in order",
       {"T", false, {{"CLIENTID-ITEM", Int(5)}, {"PARSER-ITEM", Text("TEMP")}, {"X", Num(2.5)}}},
       "+1.234s EVENT T CLIENTID-ITEM=5 PARSER-ITEM=\"TEMP\" X=2.5",
       R"({"time":1.234,"type":"event","name":"T","global":false,"params":{"CLIENTID-ITEM":5,"PARSER-ITEM":"TEMP","X":2.5}})"},
      {"text that needs escaping",
       {"T", false, {{"Q", Text("a \"b\"\\\r\n")}}},
       "+1.234s EVENT T Q=\"a \\\"b\\\"\\\\\\r\\n\"",
       R"({"time":1.234,"type":"event","name":"T","global":false,"params":{"Q":"a \"b\"\\\r\n"}})"},
      {"empty, null and booleans",
       {"T",
        false,
        {{"E", Kind(ShownValue::Kind::kEmpty)},
         {"N", Kind(ShownValue::Kind::kNull)},
         {"B", Kind(ShownValue::Kind::kBool, true)}}},
       "+1.234s EVENT T E= N=null B=true",
       R"({"time":1.234,"type":"event","name":"T","global":false,"params":{"E":null,"N":null,"B":true}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatEvent(1.2341, c.event, false), c.text);
    EXPECT_EQ(FormatEvent(1.2341, c.event, true), c.json);
  }
}

TEST(HostOutputTest, LogLines) {
  EXPECT_EQ(FormatLog(0.5, 1, false, "Tarvel. Timeout", LogSource::kCopyData, false),
            "+0.500s LOG 1 Tarvel. Timeout");
  EXPECT_EQ(FormatLog(0.5, 2, true, "x", LogSource::kGetLogEx, false), "+0.500s LOG 2* x");
  EXPECT_EQ(FormatLog(0.5, 1, false, "a\"b", LogSource::kCopyData, true),
            R"({"time":0.500,"type":"log","level":1,"mark":false,"via":"copydata","text":"a\"b"})");
  EXPECT_EQ(FormatLog(0.5, 0, true, "x", LogSource::kGetLogEx, true),
            R"({"time":0.500,"type":"log","level":0,"mark":true,"via":"getlogex","text":"x"})");
}

TEST(HostOutputTest, JsonQuoteEscapesControlCharacters) {
  EXPECT_EQ(JsonQuote(std::string("a\tb\x01\x7F", 5)), R"("a\tb\u0001\u007f")");
  EXPECT_EQ(JsonQuote("\xC3\xA4"), "\"\xC3\xA4\"");  // UTF-8 passes through
}

TEST(HostOutputTest, SplitsTheWireFormOfLogLines) {
  static const struct {
    const char* name;
    std::string wire;
    std::vector<std::string> expected;  // "level mark text"
  } cases[] = {
      {"single line without break", "\x02Probe. one", {"1 0 Probe. one"}},
      {"batch, each line ended by CR LF",
       "\x02"
       "a\r\n\x03"
       "b\r\n\x01"
       "c\r\n",
       {"1 0 a", "2 0 b", "0 0 c"}},
      {"mark bit", "\x82x", {"1 1 x"}},
      {"empty lines are skipped", "\r\n\x02x\r\n\r\n", {"1 0 x"}},
      {"nothing", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> got;
    for (const LogLine& l : SplitLogLines(c.wire))
      got.push_back(std::to_string(l.level) + " " + (l.mark ? "1" : "0") + " " + l.text);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(HostOutputTest, TimeIsRelativeToTheStart) {
  EXPECT_EQ(FormatTime(0), "+0.000s");
  EXPECT_EQ(FormatTime(12.3456), "+12.346s");
}

}  // namespace
}  // namespace tarvel::host
