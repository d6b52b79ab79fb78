// Helpers shared by the test programs.
#pragma once

#include <string>

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

}  // namespace tarvel::test
