#include "Common/vopStreamIO.h"

#include <algorithm>
#include <cstring>

#include "Common/Text.h"
#include "platform/text.h"

namespace tarvel {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsUtf16(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16LE || encoding == TextEncoding::kUtf16BE;
}

std::string WideToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

char16_t Utf16Unit(TextEncoding encoding, const char* p) {
  const auto lo = static_cast<unsigned char>(p[encoding == TextEncoding::kUtf16LE ? 0 : 1]);
  const auto hi = static_cast<unsigned char>(p[encoding == TextEncoding::kUtf16LE ? 1 : 0]);
  return static_cast<char16_t>(lo | (hi << 8));
}

std::string WideToUtf16(TextEncoding encoding, std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char16_t w : s) {
    const char lo = static_cast<char>(w & 0xFF), hi = static_cast<char>(w >> 8);
    if (encoding == TextEncoding::kUtf16LE) {
      out += lo;
      out += hi;
    } else {
      out += hi;
      out += lo;
    }
  }
  return out;
}

}  // namespace

std::string_view ByteOrderMark(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return "\xEF\xBB\xBF";
    case TextEncoding::kUtf16LE:
      return "\xFF\xFE";
    case TextEncoding::kUtf16BE:
      return "\xFE\xFF";
    case TextEncoding::kAnsi:
      break;
  }
  return {};
}

std::string EncodeText(TextEncoding encoding, std::string_view text) {
  switch (encoding) {
    case TextEncoding::kAnsi:
      break;
    case TextEncoding::kUtf8:
      return WideToUtf8(platform::AnsiToWide(text));
    case TextEncoding::kUtf16LE:
    case TextEncoding::kUtf16BE:
      return WideToUtf16(encoding, platform::AnsiToWide(text));
  }
  return std::string(text);
}

std::string DecodeText(TextEncoding encoding, std::string_view bytes) {
  switch (encoding) {
    case TextEncoding::kAnsi:
      break;
    case TextEncoding::kUtf8:
      return platform::WideToAnsi(Utf8ToWide(bytes));
    case TextEncoding::kUtf16LE:
    case TextEncoding::kUtf16BE: {
      std::u16string wide;
      wide.reserve(bytes.size() / 2);
      for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide += Utf16Unit(encoding, bytes.data() + i);
      return platform::WideToAnsi(wide);
    }
  }
  return std::string(bytes);
}

std::string_view LineEndBytes(TextEncoding encoding, LineEnd end) {
  // By line end (none, LF, CR LF, CR), for 8-bit, UTF-16LE and UTF-16BE.
  static constexpr std::string_view kEnds[3][4] = {
      {"", "\n", "\r\n", "\r"},
      {"", {"\n\0", 2}, {"\r\0\n\0", 4}, {"\r\0", 2}},
      {"", {"\0\n", 2}, {"\0\r\0\n", 4}, {"\0\r", 2}},
  };
  const int row = encoding == TextEncoding::kUtf16LE   ? 1
                  : encoding == TextEncoding::kUtf16BE ? 2
                                                       : 0;
  return kEnds[row][static_cast<int>(end)];
}

bool EndsWithLineEnd(TextEncoding encoding, std::string_view bytes) {
  if (!IsUtf16(encoding)) return !bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n');
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const char16_t last = Utf16Unit(encoding, bytes.data() + bytes.size() - 2);
  return last == u'\r' || last == u'\n';
}

std::string TextLine::Bytes(TextEncoding encoding) const {
  std::string out = encoding == TextEncoding::kAnsi ? text : raw;
  out += LineEndBytes(encoding, end);
  return out;
}

size_t StringSource::Read(char* buffer, size_t size) {
  size_t n = std::min(size, text_.size());
  std::memcpy(buffer, text_.data(), n);
  text_.remove_prefix(n);
  return n;
}

bool TvopStreamReader::Fill() {
  if (eof_) return false;
  // A few bytes are the least that holds a byte-order mark and a CR LF pair.
  if (buffer_.size() < 4) buffer_.resize(buffer_.empty() ? size_t{1} << 20 : 4);
  // Bytes not taken yet (part of one code unit) move to the front.
  const size_t keep = end_ - pos_;
  std::memmove(buffer_.data(), buffer_.data() + pos_, keep);
  pos_ = 0;
  end_ = keep;
  const size_t n = source_.Read(buffer_.data() + end_, buffer_.size() - end_);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += n;
  return true;
}

void TvopStreamReader::TakeByteOrderMark() {
  while (end_ - pos_ < 3 && Fill()) {
  }
  const std::string_view head(buffer_.data() + pos_, end_ - pos_);
  for (TextEncoding e : {TextEncoding::kUtf8, TextEncoding::kUtf16LE, TextEncoding::kUtf16BE}) {
    if (head.substr(0, ByteOrderMark(e).size()) == ByteOrderMark(e)) {
      encoding_ = e;
      pos_ += ByteOrderMark(e).size();
      unit_ = IsUtf16(e) ? 2 : 1;
      return;
    }
  }
}

char16_t TvopStreamReader::Unit() const {
  const char* p = buffer_.data() + pos_;
  return unit_ == 1 ? static_cast<char16_t>(static_cast<unsigned char>(*p))
                    : Utf16Unit(encoding_, p);
}

bool TvopStreamReader::ReadLine(TextLine& line) {
  line.text.clear();
  line.raw.clear();
  line.end = LineEnd::kNone;
  if (!started_) {
    started_ = true;
    TakeByteOrderMark();
  }
  std::string& out = encoding_ == TextEncoding::kAnsi ? line.text : line.raw;
  bool any = false;
  for (;;) {
    if (end_ - pos_ < unit_) {
      if (Fill()) continue;
      // A stray odd byte at the end of UTF-16 is kept apart.
      if (pos_ < end_) stray_.assign(buffer_.data() + pos_, end_ - pos_);
      pos_ = end_;
      break;
    }
    any = true;
    const char* b = buffer_.data();
    size_t p = pos_;
    if (unit_ == 1) {
      // Most lines end in LF or CR LF: find the LF, then a CR before it.
      const void* lf = std::memchr(b + p, '\n', end_ - p);
      const size_t stop = lf ? static_cast<size_t>(static_cast<const char*>(lf) - b) : end_;
      const void* cr = std::memchr(b + p, '\r', stop - p);
      p = cr ? static_cast<size_t>(static_cast<const char*>(cr) - b) : stop;
    } else {
      for (; p + 2 <= end_; p += 2) {
        const char16_t u = Utf16Unit(encoding_, b + p);
        if (u == u'\n' || u == u'\r') break;
      }
    }
    out.append(b + pos_, p - pos_);
    pos_ = p;
    if (end_ - pos_ < unit_) continue;  // no terminator in this chunk
    const char16_t u = Unit();
    pos_ += unit_;
    if (u == u'\n') {
      line.end = LineEnd::kLf;
      break;
    }
    // A CR ends the line; an LF right after it (perhaps in the next chunk)
    // belongs to the same terminator.
    line.end = LineEnd::kCr;
    while (end_ - pos_ < unit_ && Fill()) {
    }
    if (end_ - pos_ >= unit_ && Unit() == u'\n') {
      pos_ += unit_;
      line.end = LineEnd::kCrLf;
    }
    break;
  }
  if (!any) return false;
  if (encoding_ != TextEncoding::kAnsi) line.text = DecodeText(encoding_, line.raw);
  return true;
}

bool TvopStreamReader::ReadLine(std::string& line) {
  TextLine full;
  if (!ReadLine(full)) return false;
  line = std::move(full.text);
  return true;
}

void TvopStreamWriter::WriteBytes(std::string_view bytes) {
  if (buffer_.empty()) buffer_.resize(size_t{1} << 20);
  while (!bytes.empty()) {
    if (used_ == buffer_.size()) Flush();
    size_t n = std::min(bytes.size(), buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, bytes.data(), n);
    used_ += n;
    bytes.remove_prefix(n);
  }
}

void TvopStreamWriter::Write(std::string_view text) {
  if (encoding_ == TextEncoding::kAnsi)
    WriteBytes(text);
  else
    WriteBytes(EncodeText(encoding_, text));
}

void TvopStreamWriter::Flush() {
  if (used_ > 0) {
    size_t n = used_;
    used_ = 0;
    sink_.Write(buffer_.data(), n);
  }
}

}  // namespace tarvel
