// The stand-in host's output: one line per event and per log line, as text
// for people or as one JSON object per line for programs.
//
//   +1.234s EVENT CLIENT-TIMEOUT CLIENTID-ITEM=5 PARSER-ITEM="TEMP"
//   +1.234s EVENT SHUTDOWN [global]
//   +1.240s LOG 1 Tarvel. Timeout
//   {"time":1.234,"type":"event","name":"CLIENT-TIMEOUT","global":false,"params":{"CLIENTID-ITEM":5}}
//   {"time":1.240,"type":"log","level":1,"mark":false,"via":"copydata","text":"Tarvel. Timeout"}
//
// Text values are written in double quotes (a quote or backslash inside is
// escaped with a backslash, CR, LF and tab as \r, \n, \t), numbers bare,
// so a value reads as in a feed and every event stays on one line.
// These functions only format: they take text as it should appear (UTF-8
// for JSON) and keep no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvel::host {

struct ShownValue {
  enum class Kind { kEmpty, kNull, kBool, kInteger, kNumber, kText };
  Kind kind = Kind::kEmpty;
  bool boolean = false;
  int64_t integer = 0;
  double number = 0;
  std::string text;
};

struct ShownEvent {
  std::string name;
  bool global = false;
  std::vector<std::pair<std::string, ShownValue>> params;
};

// Where a log line came from: WM_COPYDATA (batch or single line) or GetLogEx.
enum class LogSource { kCopyData, kGetLogEx };

// FormatTime renders seconds since the host started: "+1.234s".
std::string FormatTime(double seconds);

std::string FormatEvent(double seconds, const ShownEvent& event, bool json);
std::string FormatLog(double seconds, int level, bool mark, std::string_view text, LogSource source,
                      bool json);

// JsonQuote makes a JSON string literal of UTF-8 text.
std::string JsonQuote(std::string_view text);

// SplitLogLines splits log text as the module delivers it (lines ended by
// CR LF; a single line may come without one) into (level, mark, text):
// the first byte of a line is level + 1, bit 0x80 the mark flag.
struct LogLine {
  int level = 0;
  bool mark = false;
  std::string text;
};
std::vector<LogLine> SplitLogLines(std::string_view wire);

}  // namespace tarvel::host
