// Consistency checks. A failed check raises EAssertionFailed, whose message
// reads "Assertion failure (<source>, line <n>)"; the exports turn it into a
// result code like any other exception.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvel {

class EAssertionFailed : public std::logic_error {
 public:
  EAssertionFailed(const char* source, int line)
      : EAssertionFailed("Assertion failure", source, line) {}
  EAssertionFailed(const std::string& message, const char* source, int line)
      : std::logic_error(message + " (" + std::string(source) + ", line " + std::to_string(line) +
                         ")"),
        source_(source),
        line_(line) {}
  const char* Source() const { return source_; }
  int Line() const { return line_; }

 private:
  const char* source_;
  int line_;
};

[[noreturn]] inline void AssertionFailure(const char* source, int line) {
  throw EAssertionFailed(source, line);
}
[[noreturn]] inline void AssertionFailure(const std::string& message, const char* source,
                                          int line) {
  throw EAssertionFailed(message, source, line);
}

}  // namespace tarvel
