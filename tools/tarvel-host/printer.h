// The stand-in host's output: whole lines to standard output or, with the
// program's name in front, to standard error; times count from its start.
// Lines are written under a lock, so the main thread and the feed reader
// may both print.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/ThreadSafety.h"
#include "platform/text.h"

namespace tarvel::host {

// Printer writes whole lines; the feed thread reports errors through it too.
class Printer {
 public:
  explicit Printer(bool json) : json_(json), start_(std::chrono::steady_clock::now()) {}

  bool json() const { return json_; }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  int64_t Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
  }
  void Out(const std::string& line) { Write(stdout, line); }
  void Err(const std::string& line) { Write(stderr, "tarvel-host: " + line); }

  // Shown converts module text (ANSI) for output: UTF-8 for JSON and on
  // POSIX terminals; a Windows console shows the ANSI text as it is.
  std::string Shown(const std::string& ansi) const {
#ifdef _WIN32
    if (!json_) return ansi;
#endif
    std::string out;
    for (char16_t c : platform::AnsiToWide(ansi)) {
      // The code page has no surrogate pairs, so each unit is a character.
      auto u = static_cast<uint32_t>(c);
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      }
    }
    return out;
  }

 private:
  void Write(FILE* f, const std::string& line) {
    MutexLock lock(mu_);
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fflush(f);
  }
  const bool json_;
  const std::chrono::steady_clock::time_point start_;
  Mutex mu_;
};

}  // namespace tarvel::host
