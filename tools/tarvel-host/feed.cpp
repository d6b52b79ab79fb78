#include "feed.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tarvel::host {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

// ReadMs reads a count of milliseconds; delays beyond 24 days are surely a
// typing error, and they would not fit the tick arithmetic either.
bool ReadMs(std::string_view s, uint32_t& ms, std::string& error) {
  s = Trim(s);
  if (s.size() > 2 && s.substr(s.size() - 2) == "ms") s = Trim(s.substr(0, s.size() - 2));
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (!AllDigits(s) || ec != std::errc() || end != s.data() + s.size()) {
    error = "expected a number of milliseconds, got \"" + std::string(s) + "\"";
    return false;
  }
  if (value > 0x7FFFFFFFu) {
    error = "delay out of range: " + std::string(s);
    return false;
  }
  ms = static_cast<uint32_t>(value);
  return true;
}

// LooksLikeNumber accepts [sign] digits [. digits] [e [sign] digits] with at
// least one mantissa digit; from_chars alone would also take "inf" or "nan".
bool LooksLikeNumber(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

FeedValue FeedValue::Text(std::string_view t) {
  FeedValue v;
  v.kind = Kind::kText;
  v.text = std::string(t);
  return v;
}

FeedValue ClassifyValue(std::string_view text) {
  FeedValue v = FeedValue::Text(text);
  if (!LooksLikeNumber(text)) return v;
  // from_chars takes no leading '+'.
  std::string_view body = text;
  bool negative = false;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (AllDigits(body)) {
    int64_t n = 0;
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), n);
    if (ec == std::errc() && end == body.data() + body.size()) {
      if (negative) n = -n;
      if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max()) {
        v.kind = FeedValue::Kind::kInteger;
        v.integer = static_cast<int32_t>(n);
        return v;
      }
    }
  }
  double d = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), d);
  if (ec != std::errc() || end != body.data() + body.size() || !std::isfinite(d)) return v;
  v.kind = FeedValue::Kind::kNumber;
  v.number = negative ? -d : d;
  return v;
}

bool SplitCsvLine(std::string_view line, std::vector<std::string>& cells,
                  std::vector<bool>& quoted) {
  cells.clear();
  quoted.clear();
  size_t i = 0;
  for (;;) {
    std::string cell;
    bool was_quoted = false;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size() && line[i] == '"') {
      was_quoted = true;
      ++i;
      for (;;) {
        if (i >= line.size()) return false;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell += line[i++];
      }
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i < line.size() && line[i] != ',') return false;
    } else {
      size_t start = i;
      while (i < line.size() && line[i] != ',') ++i;
      cell = std::string(Trim(line.substr(start, i - start)));
    }
    cells.push_back(std::move(cell));
    quoted.push_back(was_quoted);
    if (i >= line.size()) return true;
    ++i;  // the comma
  }
}

FeedParser::FeedParser(bool csv) : mode_(csv ? Mode::kCsvHeader : Mode::kPairs) {}

void FeedParser::EndPortion(std::vector<FeedPortion>& portions) {
  if (open_.rows.empty()) return;
  portions.push_back(std::move(open_));
  open_ = FeedPortion{};
  timing_pending_ = false;
}

void FeedParser::AddDelay(uint32_t ms) {
  uint64_t sum = uint64_t{open_.ms} + ms;
  open_.ms = sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
  timing_pending_ = true;
}

bool FeedParser::Directive(std::string_view line, std::vector<FeedPortion>& portions,
                           std::string& error) {
  if (line.front() == '+') {
    uint32_t ms = 0;
    if (!ReadMs(line.substr(1), ms, error)) return false;
    EndPortion(portions);
    AddDelay(ms);
    return true;
  }
  // line starts with '@'
  size_t space = line.find_first_of(" \t");
  std::string_view word = line.substr(0, space);
  std::string_view rest = space == std::string_view::npos ? "" : Trim(line.substr(space));
  if (word == "@delay" || word == "@at") {
    uint32_t ms = 0;
    if (!ReadMs(rest, ms, error)) return false;
    EndPortion(portions);
    if (word == "@at") {
      open_.timing = FeedPortion::Timing::kAt;
      open_.ms = ms;
      timing_pending_ = true;
    } else {
      AddDelay(ms);
    }
    return true;
  }
  if (word == "@language") {
    EndPortion(portions);
    open_.language = std::string(rest);
    open_.line = line_no_;
    portions.push_back(std::move(open_));
    open_ = FeedPortion{};
    timing_pending_ = false;
    return true;
  }
  if ((word == "@csv" || word == "@pairs") && rest.empty()) {
    EndPortion(portions);
    mode_ = word == "@csv" ? Mode::kCsvHeader : Mode::kPairs;
    return true;
  }
  error = "unknown directive \"" + std::string(line) + "\"";
  return false;
}

bool FeedParser::PairsRow(std::string_view line, FeedRow& row, std::string& error) const {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != '=' && !IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] != '=') {
      error = "expected NAME=VALUE, got \"" + std::string(line.substr(start, i - start)) + "\"";
      return false;
    }
    FeedItem item;
    item.name = std::string(line.substr(start, i - start));
    if (item.name.empty()) {
      error = "empty name before '='";
      return false;
    }
    ++i;  // '='
    if (i < line.size() && line[i] == '"') {
      std::string text;
      ++i;
      for (;;) {
        if (i >= line.size()) {
          error = "unterminated quote in the value of " + item.name;
          return false;
        }
        char c = line[i++];
        if (c == '"') break;
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) c = line[i++];
        text += c;
      }
      if (i < line.size() && !IsBlank(line[i])) {
        error = "a blank must follow the quoted value of " + item.name;
        return false;
      }
      item.value = FeedValue::Text(text);
    } else {
      size_t value_start = i;
      while (i < line.size() && !IsBlank(line[i])) ++i;
      item.value = ClassifyValue(line.substr(value_start, i - value_start));
    }
    row.push_back(std::move(item));
  }
  return true;
}

bool FeedParser::CsvRow(std::string_view line, FeedPortion& portion, std::string& error) const {
  std::vector<std::string> cells;
  std::vector<bool> quoted;
  if (!SplitCsvLine(line, cells, quoted)) {
    error = "malformed CSV line (unterminated quote or text after a quoted cell)";
    return false;
  }
  if (cells.size() > header_.size()) {
    error = "CSV line has " + std::to_string(cells.size()) + " cells, the header names " +
            std::to_string(header_.size());
    return false;
  }
  FeedRow row;
  for (size_t c = 0; c < cells.size(); ++c) {
    if (cells[c].empty() && !quoted[c]) continue;  // no value: the item is left out
    if (header_[c] == "@delay" || header_[c] == "@at") {
      uint32_t ms = 0;
      if (!ReadMs(cells[c], ms, error)) return false;
      portion.timing = header_[c] == "@at" ? FeedPortion::Timing::kAt : FeedPortion::Timing::kAfter;
      portion.ms = ms;
      continue;
    }
    row.push_back({header_[c], quoted[c] ? FeedValue::Text(cells[c]) : ClassifyValue(cells[c])});
  }
  if (row.empty()) {
    error = "CSV line without values";
    return false;
  }
  portion.rows.push_back(std::move(row));
  return true;
}

void FeedParser::Line(std::string_view raw, std::vector<FeedPortion>& portions,
                      std::vector<FeedError>& errors) {
  ++line_no_;
  std::string_view line = Trim(raw);
  if (!line.empty() && line.front() == '#') return;
  std::string error;
  auto fail = [&] { errors.push_back({line_no_, error}); };

  if (line.empty() || line == "---") {
    EndPortion(portions);
    return;
  }
  // In CSV mode a line with a comma is a header or a row, even when its
  // first column is "@delay" or "@at".
  const bool csv_line = mode_ != Mode::kPairs && line.find(',') != std::string_view::npos;
  if ((line.front() == '@' && !csv_line) ||
      (line.front() == '+' && line.size() > 1 && IsDigit(line[1]) &&
       line.find_first_of(",=") == std::string_view::npos)) {
    if (!Directive(line, portions, error)) fail();
    return;
  }
  switch (mode_) {
    case Mode::kPairs: {
      FeedRow row;
      if (!PairsRow(line, row, error)) return fail();
      if (open_.rows.empty()) open_.line = line_no_;
      open_.rows.push_back(std::move(row));
      return;
    }
    case Mode::kCsvHeader: {
      std::vector<std::string> cells;
      std::vector<bool> quoted;
      if (!SplitCsvLine(line, cells, quoted)) {
        error = "malformed CSV header";
        return fail();
      }
      for (const std::string& name : cells) {
        if (name.empty()) {
          error = "empty column name in the CSV header";
          return fail();
        }
      }
      header_ = std::move(cells);
      mode_ = Mode::kCsv;
      return;
    }
    case Mode::kCsv: {
      // Each CSV line is a portion of its own; a pending delay applies to it.
      FeedPortion portion = open_;
      portion.rows.clear();
      portion.line = line_no_;
      if (!CsvRow(line, portion, error)) return fail();
      open_ = std::move(portion);
      EndPortion(portions);
      return;
    }
  }
}

void FeedParser::Finish(std::vector<FeedPortion>& portions) {
  EndPortion(portions);
  if (timing_pending_) {
    portions.push_back(std::move(open_));
    open_ = FeedPortion{};
    timing_pending_ = false;
  }
}

ParsedFeed ParseFeed(std::string_view text, bool csv) {
  ParsedFeed out;
  FeedParser parser(csv);
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    parser.Line(line, out.portions, out.errors);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  parser.Finish(out.portions);
  return out;
}

}  // namespace tarvel::host
