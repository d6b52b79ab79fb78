#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarvel::test {

namespace fs = std::filesystem;

std::string TestDataPath(const std::string& name) {
  return (fs::path(TARVEL_TEST_DATA_DIR) / name).string();
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  for (;;) {
    fs::path p = fs::temp_directory_path() /
                 ("tarvel-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ProgramDir() {
#ifdef _WIN32
  char buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return fs::path(std::string(buf, n)).parent_path().string();
#else
  return fs::read_symlink("/proc/self/exe").parent_path().string();
#endif
}

std::string ModuleBesideTests(const std::string& base_name) {
#ifdef _WIN32
  return (fs::path(ProgramDir()) / (base_name + ".dll")).string();
#else
  return (fs::path(ProgramDir()) / ("lib" + base_name + ".so")).string();
#endif
}

HangGuard::HangGuard(std::string what, int seconds) {
  watcher_ = std::thread([this, what = std::move(what), seconds] {
    std::unique_lock<std::mutex> lock(mu_);
    if (cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
    std::fprintf(stderr, "HANG: %s did not end within %d s\n", what.c_str(), seconds);
    std::fflush(stderr);
    std::abort();
  });
}

HangGuard::~HangGuard() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    done_ = true;
  }
  cv_.notify_all();
  watcher_.join();
}

}  // namespace tarvel::test

namespace tarvel::test {

bool UnderI386Emulation() {
#ifdef _WIN32
  const char* mode = std::getenv("TARVEL_WINE_MODE");
  return mode && std::string(mode) == "emulated" && sizeof(void*) == 4;
#else
  return false;
#endif
}

}  // namespace tarvel::test
