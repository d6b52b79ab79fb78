#include "Common/vopStreamIO.h"

#include <algorithm>
#include <cstring>

namespace tarvel {

size_t StringSource::Read(char* buffer, size_t size) {
  size_t n = std::min(size, text_.size());
  std::memcpy(buffer, text_.data(), n);
  text_.remove_prefix(n);
  return n;
}

bool TvopStreamReader::Fill() {
  if (eof_) return false;
  if (buffer_.empty()) buffer_.resize(1 << 20);
  pos_ = 0;
  end_ = source_.Read(buffer_.data(), buffer_.size());
  if (end_ == 0) eof_ = true;
  return end_ > 0;
}

bool TvopStreamReader::ReadLine(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (pos_ >= end_ && !Fill()) return any;
    any = true;
    const char* start = buffer_.data() + pos_;
    const char* stop = buffer_.data() + end_;
    const char* lf =
        static_cast<const char*>(std::memchr(start, '\n', static_cast<size_t>(stop - start)));
    const char* chunk_end = lf ? lf : stop;
    // CRs inside a line are dropped; the CR of CR LF with them.
    for (const char* p = start; p < chunk_end;) {
      const char* cr =
          static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(chunk_end - p)));
      const char* piece_end = cr ? cr : chunk_end;
      line.append(p, static_cast<size_t>(piece_end - p));
      p = cr ? cr + 1 : chunk_end;
    }
    if (lf) {
      pos_ = static_cast<size_t>(lf - buffer_.data()) + 1;
      return true;
    }
    pos_ = end_;
  }
}

void TvopStreamWriter::Write(std::string_view text) {
  if (buffer_.empty()) buffer_.resize(1 << 20);
  while (!text.empty()) {
    if (used_ == buffer_.size()) Flush();
    size_t n = std::min(text.size(), buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

void TvopStreamWriter::Flush() {
  if (used_ > 0) {
    size_t n = used_;
    used_ = 0;
    sink_.Write(buffer_.data(), n);
  }
}

}  // namespace tarvel
