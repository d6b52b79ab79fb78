#include "platform/file_io.h"

#include <windows.h>

#include <string>

namespace tarvel::platform {

namespace {

// Handle owns one kernel file handle.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void Reset() {
    if (Valid()) ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

class FileSource : public ByteSource {
 public:
  FileSource(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  size_t Read(char* buffer, size_t size) override {
    DWORD got = 0;
    // DWORD is 32-bit; chunks above 1 GiB are never asked for.
    DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    if (!::ReadFile(h_.Get(), buffer, want, &got, nullptr))
      throw EFileError("Cannot read file " + path_);
    return got;
  }

 private:
  Handle h_;
  std::string path_;
};

class FileSink : public ByteSink {
 public:
  FileSink(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  void Write(const char* data, size_t size) override {
    while (size > 0) {
      DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD put = 0;
      if (!::WriteFile(h_.Get(), data, chunk, &put, nullptr) || put == 0)
        throw EFileError("Cannot write file " + path_);
      data += put;
      size -= put;
    }
  }
  void Finish() {
    if (!::FlushFileBuffers(h_.Get())) throw EFileError("Cannot flush file " + path_);
    h_.Reset();
  }
  void Abandon() { h_.Reset(); }

 private:
  Handle h_;
  std::string path_;
};

}  // namespace

bool FileExists(const std::string& path) {
  DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = ::GetLastError();
    if ((err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) &&
        ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
      return nullptr;
    throw EFileError("Cannot open file " + path);
  }
  return std::make_unique<FileSource>(h, path);
}

void ReplaceFileAtomically(const std::string& path, const std::function<void(ByteSink&)>& write) {
  // One fixed temporary name per file: writers of one file are serialised by
  // the caller, and a leftover from a crash is simply overwritten.
  std::string tmp = path + ".tarvel-tmp";
  HANDLE h = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EFileError("Cannot create file " + path);
  FileSink sink(h, path);
  try {
    write(sink);
    sink.Finish();
  } catch (...) {
    sink.Abandon();
    ::DeleteFileA(tmp.c_str());
    throw;
  }
  if (!::MoveFileExA(tmp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileA(tmp.c_str());
    throw EFileError("Cannot replace file " + path);
  }
}

}  // namespace tarvel::platform
