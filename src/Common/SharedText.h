// TSharedText: a text that one thread may replace while others read it,
// such as a module message a data call logs while a command translates it.
// Readers get a copy; the text is never seen half-written.
//
//   TSharedText msg = "No data";
//   msg = "Keine Daten";              // any thread
//   std::string now = msg.Get();      // any thread
//
// Threads: every member may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "Common/ThreadSafety.h"

namespace tarvel {

class TSharedText {
 public:
  TSharedText() = default;
  TSharedText(std::string_view text) : text_(text) {}
  TSharedText(const char* text) : text_(text) {}
  TSharedText(const TSharedText& other) : text_(other.Get()) {}
  TSharedText& operator=(const TSharedText& other) {
    if (this != &other) Set(other.Get());
    return *this;
  }
  TSharedText& operator=(std::string_view text) {
    Set(text);
    return *this;
  }
  TSharedText& operator=(const char* text) { return *this = std::string_view(text); }

  std::string Get() const {
    MutexLock lock(mu_);
    return text_;
  }
  void Set(std::string_view text) {
    MutexLock lock(mu_);
    text_.assign(text);
  }
  bool empty() const {
    MutexLock lock(mu_);
    return text_.empty();
  }
  bool operator==(std::string_view text) const {
    MutexLock lock(mu_);
    return text_ == text;
  }

 private:
  mutable Mutex mu_;
  std::string text_ TARVEL_GUARDED_BY(mu_);
};

}  // namespace tarvel
