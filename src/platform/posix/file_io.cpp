#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tarvel::platform {

namespace {

class FileSource : public ByteSource {
 public:
  FileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  size_t Read(char* buffer, size_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw EFileError("Cannot read file " + path_);
    }
  }

 private:
  int fd_;
  std::string path_;
};

class FileSink : public ByteSink {
 public:
  FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileSink() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  void Write(const char* data, size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EFileError("Cannot write file " + path_);
      data += n;
      size -= static_cast<size_t>(n);
    }
  }
  void Finish() {
    int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
      ::close(fd);
      throw EFileError("Cannot flush file " + path_);
    }
    if (::close(fd) != 0) throw EFileError("Cannot write file " + path_);
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return nullptr;
    throw EFileError("Cannot open file " + path);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFileError("Cannot open file " + path);
  }
  return std::make_unique<FileSource>(fd, path);
}

void ReplaceFileAtomically(const std::string& path, const std::function<void(ByteSink&)>& write) {
  // One fixed temporary name per file: writers of one file are serialised by
  // the caller, and a leftover from a crash is simply overwritten.
  std::string tmp = path + ".tarvel-tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw EFileError("Cannot create file " + path);
  try {
    FileSink sink(fd, path);
    write(sink);
    sink.Finish();
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw EFileError("Cannot replace file " + path);
  }
}

}  // namespace tarvel::platform
