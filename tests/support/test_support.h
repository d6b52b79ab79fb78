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

// UnderI386Emulation: a Windows test program that the 32-bit Wine runs
// under an i386 emulator (cmake/wine-env.sh says so in TARVEL_WINE_MODE).
// There a page fault reaches Wine as an illegal instruction, so a test that
// makes the CPU fault on purpose cannot run; it skips with the reason
// below and runs in the 64-bit build instead. Such tests live in
// tests/faults, the program the 64-bit build runs.
bool UnderI386Emulation();
inline constexpr const char* kNeedsRealCpu =
    "faults on purpose, which needs a real CPU: under the i386 emulator a page fault reaches "
    "Wine as an illegal instruction; the 64-bit build runs this test under wine64";
#define TARVEL_SKIP_WITHOUT_REAL_CPU() \
  if (::tarvel::test::UnderI386Emulation()) GTEST_SKIP() << ::tarvel::test::kNeedsRealCpu

}  // namespace tarvel::test
