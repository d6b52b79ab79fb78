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

#include <mutex>
#include <string>
#include <string_view>

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
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }
  void Set(std::string_view text) {
    std::lock_guard<std::mutex> lock(mu_);
    text_.assign(text);
  }
  bool empty() const {
    std::lock_guard<std::mutex> lock(mu_);
    return text_.empty();
  }
  bool operator==(std::string_view text) const {
    std::lock_guard<std::mutex> lock(mu_);
    return text_ == text;
  }

 private:
  mutable std::mutex mu_;
  std::string text_;  // guarded by mu_
};

}  // namespace tarvel
