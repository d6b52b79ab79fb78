// vopStreamIO: line-oriented reading and writing of text over a byte
// stream, through one caller-supplied buffer (the INI engine passes its
// 1 MiB buffer, so a file is read and written in a few large chunks).
//
// The text the module works in is 8-bit, in the system code page. Files
// may hold it as such (no byte-order mark) or, as Windows tools write them,
// as UTF-8 after its byte-order mark or as UTF-16 of either byte order
// after its mark. The reader takes the mark at the start of the stream,
// converts each line to 8-bit text and also hands out the line's own bytes,
// so a writer can put back exactly what it did not change (characters the
// code page cannot hold included). The writer converts 8-bit text to the
// encoding it was given.
//
// Reading: a line ends at LF, at CR LF, or at a CR on its own; the last
// line needs no terminator; an empty stream has no lines. Terminators are
// found in code units (two bytes each in UTF-16), never inside a character.
//
// Not thread-safe; one reader or writer per thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace tarvel {

// TextEncoding: how a stream stores its text.
enum class TextEncoding : uint8_t {
  kAnsi,     // 8-bit system code page, no mark
  kUtf8,     // EF BB BF, then UTF-8
  kUtf16LE,  // FF FE, then UTF-16 little-endian
  kUtf16BE,  // FE FF, then UTF-16 big-endian
};

// LineEnd: what ended a line.
enum class LineEnd : uint8_t { kNone, kLf, kCrLf, kCr };

// ByteOrderMark: the bytes that open a stream of this encoding ("" for kAnsi).
std::string_view ByteOrderMark(TextEncoding encoding);
// EncodeText converts 8-bit text to the encoding's bytes; DecodeText the
// other way (characters the code page cannot hold become '?', bytes that
// are not valid UTF-8 likewise; a lone odd byte of UTF-16 is left out).
std::string EncodeText(TextEncoding encoding, std::string_view text);
std::string DecodeText(TextEncoding encoding, std::string_view bytes);
// LineEndBytes: a terminator in the encoding's bytes.
std::string_view LineEndBytes(TextEncoding encoding, LineEnd end);
// EndsWithLineEnd: whether bytes of this encoding end with CR or LF.
bool EndsWithLineEnd(TextEncoding encoding, std::string_view bytes);

// StringSource reads from text in memory (for parsing from a string).
class StringSource : public platform::ByteSource {
 public:
  explicit StringSource(std::string_view text) : text_(text) {}
  size_t Read(char* buffer, size_t size) override;

 private:
  std::string_view text_;
};

// StringSink collects the bytes written into a string.
class StringSink : public platform::ByteSink {
 public:
  void Write(const char* data, size_t size) override { text_.append(data, size); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// TextLine: one line as read.
struct TextLine {
  std::string text;  // 8-bit text, without its terminator
  std::string raw;   // the line's bytes in the stream without its terminator;
                     // left empty for kAnsi, where they are text itself
  LineEnd end = LineEnd::kNone;

  // Bytes gives the line's bytes in the stream, terminator included.
  std::string Bytes(TextEncoding encoding) const;
};

class TvopStreamReader {
 public:
  TvopStreamReader(platform::ByteSource& source, std::vector<char>& buffer)
      : source_(source), buffer_(buffer) {}
  // ReadLine stores the next line and returns true, or returns false at
  // the end of the stream. The first call takes the byte-order mark.
  bool ReadLine(TextLine& line);
  // ReadLine (text only) for callers that need no bytes.
  bool ReadLine(std::string& line);
  // Encoding: what the byte-order mark said (kAnsi until the first ReadLine).
  TextEncoding Encoding() const { return encoding_; }
  // Stray: a last byte of UTF-16 that makes no code unit (not text; known
  // once ReadLine has returned false).
  const std::string& Stray() const { return stray_; }

 private:
  bool Fill();
  void TakeByteOrderMark();
  // Unit gives the code unit at the read position (CR and LF are what count).
  char16_t Unit() const;
  platform::ByteSource& source_;
  std::vector<char>& buffer_;
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  bool started_ = false;
  TextEncoding encoding_ = TextEncoding::kAnsi;
  size_t unit_ = 1;  // bytes per code unit
  std::string stray_;
};

class TvopStreamWriter {
 public:
  TvopStreamWriter(platform::ByteSink& sink, std::vector<char>& buffer,
                   TextEncoding encoding = TextEncoding::kAnsi)
      : sink_(sink), buffer_(buffer), encoding_(encoding) {}
  // Flush must be called at the end; a writer destroyed without it drops
  // what is buffered (a failed write must not half-complete a file).
  // Write converts 8-bit text to the writer's encoding; WriteLine adds CR LF.
  void Write(std::string_view text);
  void WriteLine(std::string_view text) {
    Write(text);
    WriteBytes(LineEndBytes(encoding_, LineEnd::kCrLf));
  }
  // WriteBytes writes bytes as they stand (already in the encoding).
  void WriteBytes(std::string_view bytes);
  void Flush();

 private:
  platform::ByteSink& sink_;
  std::vector<char>& buffer_;
  TextEncoding encoding_;
  size_t used_ = 0;
};

}  // namespace tarvel
