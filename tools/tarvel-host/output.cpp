#include "output.h"

#include <cmath>
#include <cstdio>

namespace tarvel::host {
namespace {

std::string Number(double d) {
  if (!std::isfinite(d)) return "null";  // JSON has no infinities
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// TextLiteral quotes text for the text output; control characters are
// escaped so that every event stays on one line.
std::string TextLiteral(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out + "\"";
}

std::string Render(const ShownValue& v, bool json) {
  switch (v.kind) {
    case ShownValue::Kind::kEmpty:
      return json ? "null" : "";
    case ShownValue::Kind::kNull:
      return "null";
    case ShownValue::Kind::kBool:
      return v.boolean ? "true" : "false";
    case ShownValue::Kind::kInteger:
      return std::to_string(v.integer);
    case ShownValue::Kind::kNumber:
      return Number(v.number);
    case ShownValue::Kind::kText:
      return json ? JsonQuote(v.text) : TextLiteral(v.text);
  }
  return {};
}

std::string JsonTime(double seconds) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  return buf;
}

}  // namespace

std::string FormatTime(double seconds) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "+%.3fs", seconds);
  return buf;
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string FormatEvent(double seconds, const ShownEvent& event, bool json) {
  std::string out;
  if (json) {
    out = "{\"time\":" + JsonTime(seconds) +
          ",\"type\":\"event\",\"name\":" + JsonQuote(event.name) +
          ",\"global\":" + (event.global ? "true" : "false") + ",\"params\":{";
    bool first = true;
    for (const auto& [name, value] : event.params) {
      if (!first) out += ',';
      first = false;
      out += JsonQuote(name) + ":" + Render(value, true);
    }
    return out + "}}";
  }
  out = FormatTime(seconds) + " EVENT " + event.name;
  if (event.global) out += " [global]";
  for (const auto& [name, value] : event.params) out += " " + name + "=" + Render(value, false);
  return out;
}

std::string FormatLog(double seconds, int level, bool mark, std::string_view text, LogSource source,
                      bool json) {
  if (json) {
    return "{\"time\":" + JsonTime(seconds) +
           ",\"type\":\"log\",\"level\":" + std::to_string(level) +
           ",\"mark\":" + (mark ? "true" : "false") +
           ",\"via\":" + (source == LogSource::kCopyData ? "\"copydata\"" : "\"getlogex\"") +
           ",\"text\":" + JsonQuote(text) + "}";
  }
  return FormatTime(seconds) + " LOG " + std::to_string(level) + (mark ? "*" : "") + " " +
         std::string(text);
}

std::vector<LogLine> SplitLogLines(std::string_view wire) {
  std::vector<LogLine> lines;
  while (!wire.empty()) {
    size_t end = wire.find("\r\n");
    std::string_view line = wire.substr(0, end);
    wire = end == std::string_view::npos ? std::string_view() : wire.substr(end + 2);
    if (line.empty()) continue;
    auto first = static_cast<unsigned char>(line.front());
    LogLine l;
    l.mark = (first & 0x80) != 0;
    l.level = static_cast<int>(first & 0x7F) - 1;
    l.text = std::string(line.substr(1));
    lines.push_back(std::move(l));
  }
  return lines;
}

}  // namespace tarvel::host
