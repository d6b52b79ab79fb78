// Helpers shared by the test programs.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvel::test {

// TestDataPath returns the path of a file under tests/data.
std::string TestDataPath(const std::string& name);

// TempDir is a fresh directory removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// ModuleBesideTests returns the path of the built module (tarvel.dll or
// libtarvel.so), which sits beside the test programs.
std::string ModuleBesideTests(const std::string& base_name = "tarvel");

// ReadWholeFile returns a file's bytes ("" when it cannot be read);
// WriteWholeFile replaces a file with text.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);

// ProgramDir returns the directory of the running test program.
std::string ProgramDir();

// HangGuard ends the test program with a message when it is still alive
// after `seconds` of real time: threads caught in a deadlock cannot be
// joined, so a test that could hang fails this way instead of waiting for
// the test runner to kill it. Nothing is measured: the limit is far beyond
// what the guarded work takes.
class HangGuard {
 public:
  HangGuard(std::string what, int seconds = 120);
  ~HangGuard();
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;  // guarded by mu_
  std::thread watcher_;
};

}  // namespace tarvel::test
