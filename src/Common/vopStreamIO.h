// vopStreamIO: line-oriented reading and writing of 8-bit text over a byte
// stream, through one caller-supplied buffer (the INI engine passes its
// 1 MiB buffer, so a file is read and written in a few large chunks).
//
// Reading: a line ends at LF or CR LF; a CR not followed by LF is dropped
// from the line; the last line needs no terminator; an empty stream has no
// lines. Writing: WriteLine appends CR LF.
//
// Not thread-safe; one reader or writer per thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace tarvel {

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

class TvopStreamReader {
 public:
  TvopStreamReader(platform::ByteSource& source, std::vector<char>& buffer)
      : source_(source), buffer_(buffer) {}
  // ReadLine stores the next line (without its terminator) and returns
  // true, or returns false at the end of the stream.
  bool ReadLine(std::string& line);

 private:
  bool Fill();
  platform::ByteSource& source_;
  std::vector<char>& buffer_;
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
};

class TvopStreamWriter {
 public:
  TvopStreamWriter(platform::ByteSink& sink, std::vector<char>& buffer)
      : sink_(sink), buffer_(buffer) {}
  // Flush must be called at the end; a writer destroyed without it drops
  // what is buffered (a failed write must not half-complete a file).
  void Write(std::string_view text);
  void WriteLine(std::string_view text) {
    Write(text);
    Write("\r\n");
  }
  void Flush();

 private:
  platform::ByteSink& sink_;
  std::vector<char>& buffer_;
  size_t used_ = 0;
};

}  // namespace tarvel
