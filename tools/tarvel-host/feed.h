// The stand-in host's data feed: a small line format that says which rows
// the host hands to the module, grouped into data portions (one ProcessData
// call each), and when. The format is described for users in README.md.
//
//   # a comment                       ignored, as are leading/trailing blanks
//   CLIENTID=7 TEMP=21.5 NOTE="a b"   one row of NAME=VALUE pairs
//   CLIENTID=8 TEMP=19                another row of the same portion
//                                     a blank line (or "---") ends the portion
//   +1500                             wait 1500 ms before the next portion
//   @delay 1500                       the same
//   @at 4000                          send the next portion 4000 ms after the start
//   @csv                              the next line is a CSV header; each
//   CLIENTID,TEMP                     CSV line after it is a portion of one row
//   7,21.5                            (columns "@delay" / "@at" time the row)
//   @pairs                            back to NAME=VALUE lines
//   @language FR                      from here on the host's language is FR;
//                                     it tells the module with a command at
//                                     once (@language alone: an empty text)
//
// Values that read as a 32-bit integer are passed as integers, other decimal
// numbers as doubles, everything else (and every quoted value) as text.
//
// The parser is fed line by line, so a live feed is handed on as it comes;
// ParseFeed runs it over a whole text. It does no I/O and keeps no global
// state; one parser belongs to one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::host {

// FeedValue is one value as the host passes it: VT_I4, VT_R8 or an OLE string.
struct FeedValue {
  enum class Kind { kInteger, kNumber, kText };
  Kind kind = Kind::kText;
  int32_t integer = 0;
  double number = 0;
  std::string text;  // the value as written (unquoted)

  static FeedValue Text(std::string_view t);
  bool operator==(const FeedValue&) const = default;
};

// ClassifyValue reads an unquoted value: an optional sign and digits that fit
// 32 bits give an integer; a decimal number ('.' as separator, optional
// exponent) gives a double; anything else is text.
FeedValue ClassifyValue(std::string_view text);

struct FeedItem {
  std::string name;
  FeedValue value;
  bool operator==(const FeedItem&) const = default;
};
using FeedRow = std::vector<FeedItem>;

// FeedPortion is one data portion and when to send it. A portion without
// rows only waits (a trailing delay of the feed).
struct FeedPortion {
  enum class Timing { kAfter, kAt };
  Timing timing = Timing::kAfter;
  // kAfter: milliseconds after the previous portion was due (0: at once).
  // kAt: milliseconds after the feed started.
  uint32_t ms = 0;
  std::vector<FeedRow> rows;
  int line = 0;  // line number of the portion's first row
  // A language change due at this portion's time (a portion of its own,
  // without rows).
  std::optional<std::string> language;
};

struct FeedError {
  int line = 0;
  std::string message;
};

class FeedParser {
 public:
  // csv: the feed starts in CSV mode (its first line is the header).
  explicit FeedParser(bool csv = false);

  // Line takes the next line (a trailing CR is ignored) and appends what it
  // completes: portions to `portions`, a malformed line (skipped whole) to
  // `errors`.
  void Line(std::string_view line, std::vector<FeedPortion>& portions,
            std::vector<FeedError>& errors);
  // Finish ends the feed: the open portion and a pending delay are handed out.
  void Finish(std::vector<FeedPortion>& portions);

  int LineNumber() const { return line_no_; }

 private:
  void EndPortion(std::vector<FeedPortion>& portions);
  void AddDelay(uint32_t ms);
  bool Directive(std::string_view line, std::vector<FeedPortion>& portions, std::string& error);
  bool PairsRow(std::string_view line, FeedRow& row, std::string& error) const;
  bool CsvRow(std::string_view line, FeedPortion& portion, std::string& error) const;

  enum class Mode { kPairs, kCsvHeader, kCsv };
  Mode mode_;
  std::vector<std::string> header_;
  int line_no_ = 0;
  FeedPortion open_;
  bool timing_pending_ = false;
};

struct ParsedFeed {
  std::vector<FeedPortion> portions;
  std::vector<FeedError> errors;
};

// ParseFeed parses a whole feed held in a string (lines end at LF or CR LF).
ParsedFeed ParseFeed(std::string_view text, bool csv = false);

// SplitCsvLine splits one CSV line: cells separated by commas, a cell in
// double quotes may hold commas and "" for a quote. quoted[i] tells whether
// cell i was quoted. False for an unterminated quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& cells,
                  std::vector<bool>& quoted);

}  // namespace tarvel::host
