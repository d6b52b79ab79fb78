// End to end: the stand-in host program, run as a separate process, drives
// the framework's probe module through its exports with real window
// messages (real windows under Wine in the win32 build), and its output is
// checked. The probe turns feed rows into events and log lines (see
// tests/modules/probe_module.cpp).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/host_harness.h"
#include "support/process.h"
#include "support/test_support.h"

namespace tarvel::test {
namespace {

// One line of the host's JSON output, with the fields the tests look at.
struct OutLine {
  std::string type;  // "event" or "log"
  std::string name;  // event name
  std::string via;   // log source
  std::string text;  // log text
  std::string raw;
};

std::string Field(const std::string& line, const char* key) {
  std::smatch m;
  std::regex re(std::string("\"") + key + R"(":"((?:[^"\\]|\\.)*)\")");
  return std::regex_search(line, m, re) ? m[1].str() : std::string();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::vector<OutLine> ParseJsonOutput(const std::string& out) {
  std::vector<OutLine> lines;
  for (const std::string& l : Lines(out)) {
    OutLine o;
    o.raw = l;
    o.type = Field(l, "type");
    o.name = Field(l, "name");
    o.via = Field(l, "via");
    o.text = Field(l, "text");
    lines.push_back(o);
  }
  return lines;
}

std::vector<std::string> EventNames(const std::vector<OutLine>& lines) {
  std::vector<std::string> names;
  for (const OutLine& l : lines)
    if (l.type == "event") names.push_back(l.name);
  return names;
}

// "via:text" of every log line, in order.
std::vector<std::string> LogLines(const std::vector<OutLine>& lines) {
  std::vector<std::string> logs;
  for (const OutLine& l : lines)
    if (l.type == "log") logs.push_back(l.via + ":" + l.text);
  return logs;
}

class HostE2eTest : public ::testing::Test {
 protected:
  // RunHost runs the host on the probe module with a feed on standard input.
  ProgramResult RunHost(const std::string& feed, std::vector<std::string> args = {}) {
    std::vector<std::string> all = {"--module", ProbeModulePath()};
    all.insert(all.end(), args.begin(), args.end());
    ProgramResult r = RunProgram(host_, all, feed);
    EXPECT_FALSE(r.timed_out) << "stderr: " << r.err;
    return r;
  }

  const std::string host_ = ProgramBesideTests("tarvel-host");
};

TEST_F(HostE2eTest, EventsArriveOnceEachAndInOrder) {
  // Forty events over ten portions; some portions follow at once, some after
  // a pause, so collections happen both between and after data calls.
  std::string feed;
  std::vector<std::string> expected;
  for (int p = 0; p < 10; ++p) {
    for (int r = 0; r < 4; ++r) {
      int n = p * 4 + r;
      // Appended piece by piece: "literal" + std::string trips a false
      // -Wrestrict of the mingw g++ 12 in release builds.
      feed.append("CLIENTID=").append(std::to_string(p));
      feed.append(" PROBE-EVENT=ev-").append(std::to_string(n));
      feed.append(" SEQ=").append(std::to_string(n)).append("\n");
      expected.push_back("EV-" + std::to_string(n));
    }
    feed += p % 2 ? "\n" : "+20\n";
  }
  ProgramResult r = RunHost(feed, {"--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<OutLine> lines = ParseJsonOutput(r.out);
  EXPECT_EQ(EventNames(lines), expected) << r.out;
  for (const OutLine& l : lines) {
    if (l.type != "event") continue;
    // Each event carries its row's other items, the sequence number as an integer.
    std::string seq = l.name.substr(3);
    EXPECT_NE(l.raw.find("\"SEQ\":" + seq + "}"), std::string::npos) << l.raw;
  }
}

TEST_F(HostE2eTest, TextOutputShowsOneLinePerEventAndLogLine) {
  ProgramResult r = RunHost(
      "PROBE-EVENT=first A=1 B=\"x y\" C=2.5\n"
      "PROBE-GLOBAL-EVENT=everyone\n"
      "PROBE-LOG=hello\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  static const char* const patterns[] = {
      R"(\+\d+\.\d{3}s LOG 1 Probe\. hello)",
      R"(\+\d+\.\d{3}s EVENT FIRST A=1 B="x y" C=2\.5)",
      R"(\+\d+\.\d{3}s EVENT EVERYONE \[global\])",
  };
  ASSERT_EQ(lines.size(), std::size(patterns)) << r.out;
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(patterns[i])))
        << lines[i] << " !~ " << patterns[i];
}

TEST_F(HostE2eTest, LogLinesArriveByCopyDataOrByGetLogEx) {
  // PROBE-LOG is sent while the host answers its window: WM_COPYDATA.
  // PROBE-LOG-ASIDE is sent from another thread while the host is inside the
  // data call and cannot answer: the send times out, the line is queued, and
  // the host fetches it with GetLogEx after message 1809.
  static const struct {
    const char* name;
    const char* feed;
    std::vector<std::string> expected;
  } cases[] = {
      {"host answers",
       "PROBE-LOG=one\nPROBE-LOG=two\n",
       {"copydata:Probe. one", "copydata:Probe. two"}},
      {"host busy", "PROBE-LOG-ASIDE=late\n", {"getlogex:Probe. late"}},
      {"busy, then answering again",
       "PROBE-LOG-ASIDE=late\n\nPROBE-LOG=after\n",
       {"getlogex:Probe. late", "copydata:Probe. after"}},
      {"both in one portion",
       "PROBE-LOG=before\nPROBE-LOG-ASIDE=late\n",
       {"copydata:Probe. before", "getlogex:Probe. late"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult r = RunHost(c.feed, {"--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(LogLines(ParseJsonOutput(r.out)), c.expected) << r.out;
  }
}

TEST_F(HostE2eTest, HostWindowZeroSilencesEventsAndLog) {
  const std::string feed =
      "PROBE-EVENT=now X=1\nPROBE-LOG=said\nPROBE-LOG-ASIDE=aside\n"
      "PROBE-LATER=later PROBE-AFTER=20\n";
  // With its window the host shows all four; without, nothing at all.
  ProgramResult with = RunHost(feed, {"--json", "--linger", "500"});
  ASSERT_EQ(with.exit_code, 0) << with.err;
  std::vector<OutLine> lines = ParseJsonOutput(with.out);
  EXPECT_EQ(EventNames(lines), (std::vector<std::string>{"NOW", "LATER"})) << with.out;
  EXPECT_EQ(LogLines(lines),
            (std::vector<std::string>{"copydata:Probe. said", "getlogex:Probe. aside"}))
      << with.out;

  ProgramResult without = RunHost(feed, {"--json", "--linger", "500", "--no-window"});
  EXPECT_EQ(without.exit_code, 0) << without.err;
  EXPECT_EQ(without.out, "");
}

TEST_F(HostE2eTest, LoadHandsOverSettingsPlaceLanguageAndItems) {
  ProgramResult r = RunHost("CLIENTID=5 TEMP=20.5\n\nPROBE-REPORT=report\n",
                            {"--json", "--ini", "settings.ini", "--registry-path",
                             "Software\\Test\\Tarvel", "--language", "de"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<OutLine> lines = ParseJsonOutput(r.out);
  ASSERT_EQ(EventNames(lines), std::vector<std::string>{"REPORT"}) << r.out;
  const std::string& e = lines[0].raw;
  EXPECT_NE(e.find(R"("INI-FILE":"settings.ini")"), std::string::npos) << e;
  EXPECT_NE(e.find(R"("REGISTRY-PATH":"Software\\Test\\Tarvel")"), std::string::npos) << e;
  EXPECT_NE(e.find(R"("LANGUAGE":"de")"), std::string::npos) << e;
  EXPECT_NE(e.find(R"("HAS-HOST-WINDOW":true)"), std::string::npos) << e;
  // SET-ITEMS named every variable seen so far, in the order of appearance.
  EXPECT_NE(e.find(R"("ITEMS":"feed|CLIENTID||\r\nfeed|TEMP||\r\nfeed|PROBE-REPORT||")"),
            std::string::npos)
      << e;
}

TEST_F(HostE2eTest, ModuleTimersFireWhileTheHostLingersOrWaits) {
  // The probe's timer lives on the host's main thread, so it fires only
  // while the host pumps: during --linger, or during a trailing delay.
  static const struct {
    const char* name;
    const char* feed;
    std::vector<std::string> args;
  } cases[] = {
      {"linger", "PROBE-LATER=late X=7 PROBE-AFTER=50\n", {"--json", "--linger", "3000"}},
      {"trailing delay", "PROBE-LATER=late X=7 PROBE-AFTER=50\n+3000\n", {"--json"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult r = RunHost(c.feed, c.args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<OutLine> lines = ParseJsonOutput(r.out);
    ASSERT_EQ(EventNames(lines), std::vector<std::string>{"LATE"}) << r.out;
    EXPECT_NE(lines[0].raw.find(R"("params":{"X":7})"), std::string::npos) << lines[0].raw;
  }
}

TEST_F(HostE2eTest, MalformedFeedLinesAreReportedWithTheirNumberAndSkipped) {
  ProgramResult r = RunHost(
      "PROBE-EVENT=a\n"           // 1
      "\n"                        // 2
      "oops\n"                    // 3: no NAME=VALUE
      "PROBE-EVENT=b\n"           // 4
      "@bogus 1\n"                // 5: unknown directive
      "\n"                        // 6
      "PROBE-EVENT=c X=\"open\n"  // 7: unterminated quote
      "PROBE-EVENT=d\n",          // 8
      {"--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(EventNames(ParseJsonOutput(r.out)), (std::vector<std::string>{"A", "B", "D"})) << r.out;
  for (int line : {3, 5, 7})
    EXPECT_NE(r.err.find("feed line " + std::to_string(line) + ":"), std::string::npos)
        << "line " << line << " in: " << r.err;
  for (int line : {1, 2, 4, 6, 8})
    EXPECT_EQ(r.err.find("feed line " + std::to_string(line) + ":"), std::string::npos)
        << "line " << line << " in: " << r.err;
}

TEST_F(HostE2eTest, FeedFromAFileInCsv) {
  TempDir dir;
  const std::string path = dir.File("feed.csv");
  {
    std::ofstream f(path, std::ios::binary);
    f << "PROBE-EVENT,CLIENTID,TEMP\r\n"
         "one,1,20.5\r\n"
         "two,2,\"warm\"\r\n"
         "+10\r\n"
         "three,3,\r\n";
  }
  ProgramResult r = RunHost("", {"--json", "--csv", "--feed", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<OutLine> lines = ParseJsonOutput(r.out);
  ASSERT_EQ(EventNames(lines), (std::vector<std::string>{"ONE", "TWO", "THREE"})) << r.out;
  EXPECT_NE(lines[0].raw.find(R"("params":{"CLIENTID":1,"TEMP":20.5})"), std::string::npos);
  EXPECT_NE(lines[1].raw.find(R"("params":{"CLIENTID":2,"TEMP":"warm"})"), std::string::npos);
  EXPECT_NE(lines[2].raw.find(R"("params":{"CLIENTID":3})"), std::string::npos);
}

TEST_F(HostE2eTest, AModuleThatCannotServeEndsTheHostWithCode2) {
  TempDir dir;
  const std::string not_a_module = dir.File("not-a-module.dll");
  std::ofstream(not_a_module) << "just text\n";
#ifdef _WIN32
  const std::string system_library = "kernel32.dll";
#else
  const std::string system_library = "libm.so.6";
#endif
  static const char* const kAllExports[] = {"GetPluginIntfVersion",
                                            "GetAppMinVersion",
                                            "GetModuleDescription",
                                            "GetModuleType",
                                            "GetCustomCommands",
                                            "GetLogEx",
                                            "ShowOptionsDialog",
                                            "ExecutePluginCommand",
                                            "GetData",
                                            "GetEvents",
                                            "ProcessData",
                                            "MultiThreadSupport"};
  const struct {
    const char* name;
    std::string module;
    const char* message;
  } cases[] = {
      {"missing file", dir.File("absent.dll"), "cannot load module"},
      {"not a module", not_a_module, "cannot load module"},
      {"library without the exports", system_library, "lacks the export(s)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult r = RunProgram(host_, {"--module", c.module}, "PROBE-EVENT=x\n");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.module), std::string::npos) << r.err;
    if (std::string(c.message) == "lacks the export(s)") {
      for (const char* name : kAllExports) EXPECT_NE(r.err.find(name), std::string::npos) << name;
    }
  }
}

TEST_F(HostE2eTest, OptionsAndHelp) {
  static const struct {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* in_out;
    const char* in_err;
  } cases[] = {
      {"help", {"--help"}, 0, "--linger MS", ""},
      {"unknown option", {"--fast"}, 2, "", "unknown option --fast"},
      {"option without its value", {"--feed"}, 2, "", "--feed needs a value"},
      {"linger that is no number", {"--linger", "soon"}, 2, "", "--linger wants milliseconds"},
      {"feed that cannot be opened", {"--feed", "no-such-feed.txt"}, 2, "", "cannot open feed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--module", ProbeModulePath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramResult r = RunProgram(host_, args, "");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    // An empty expectation means the stream stays empty.
    if (*c.in_out)
      EXPECT_NE(r.out.find(c.in_out), std::string::npos) << r.out;
    else
      EXPECT_EQ(r.out, "");
    if (*c.in_err)
      EXPECT_NE(r.err.find(c.in_err), std::string::npos) << r.err;
    else
      EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace tarvel::test
