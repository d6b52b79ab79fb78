#include "platform/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_io_faults.h"

namespace tarvel::platform {

namespace {

// The system calls that FileFaults can fail, each checking them first.
namespace sys {

int OpenExisting(const std::string& path, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY && file_faults::RefusesWriting(path)) {
    errno = EACCES;
    return -1;
  }
  return ::open(path.c_str(), flags | O_CLOEXEC);
}

int Create(const std::string& path, mode_t mode) {
  if (file_faults::RefusesEntry(path)) {
    errno = EACCES;
    return -1;
  }
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
}

// HasSpace: whether the file fd may grow to end bytes.
bool HasSpace(int fd, off_t end) {
  if (!file_faults::LimitsSpace()) return true;
  struct stat st;
  if (::fstat(fd, &st) != 0 || end <= st.st_size) return true;
  return file_faults::TakeSpace(static_cast<uint64_t>(end - st.st_size));
}

ssize_t Write(int fd, const char* data, size_t size, off_t offset) {
  const off_t at = offset >= 0 ? offset : ::lseek(fd, 0, SEEK_CUR);
  if (!HasSpace(fd, at + static_cast<off_t>(size))) {
    errno = ENOSPC;
    return -1;
  }
  return offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
}

// Reserve makes room for size bytes; 0 or an error number.
int Reserve(int fd, off_t size) {
  if (!HasSpace(fd, size)) return ENOSPC;
  return ::posix_fallocate(fd, 0, size);
}

int Rename(const std::string& from, const std::string& to) {
  if (file_faults::RefusesEntry(from) || file_faults::RefusesEntry(to)) {
    errno = EACCES;
    return -1;
  }
  return ::rename(from.c_str(), to.c_str());
}

int Unlink(const std::string& path) {
  if (file_faults::RefusesEntry(path)) {
    errno = EACCES;
    return -1;
  }
  return ::unlink(path.c_str());
}

}  // namespace sys

std::string Failure(const char* what, const std::string& path, int err) {
  return std::string(what) + " " + path + ": " + std::strerror(err);
}

// Fd owns one file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Close closes now and reports whether the last writes reached the file.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

class FileSource : public ByteSource {
 public:
  FileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  size_t Read(char* buffer, size_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_.Get(), buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw EFileError(Failure("Cannot read file", path_, errno));
    }
  }

 private:
  Fd fd_;
  std::string path_;
};

// WriteAll writes size bytes at offset (at the file position when offset is
// negative); false with errno set when the system refuses.
bool WriteAll(int fd, const char* data, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = sys::Write(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
    if (offset >= 0) offset += n;
  }
  return true;
}

class FileSink : public ByteSink {
 public:
  FileSink(Fd& fd, const std::string& path) : fd_(fd), path_(path) {}
  void Write(const char* data, size_t size) override {
    if (!WriteAll(fd_.Get(), data, size, -1))
      throw EFileError(Failure("Cannot write file", path_, errno));
  }

 private:
  Fd& fd_;
  const std::string& path_;
};

class MemorySink : public ByteSink {
 public:
  void Write(const char* data, size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

// Target: where the content goes; a symbolic link is followed so that it
// stays a link to the rewritten file.
std::string Target(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
}

// SyncFolder makes a rename durable; where the folder cannot be synced the
// rename still stands.
void SyncFolder(const std::string& path) {
  Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
}

bool ReadAll(int fd, std::string& out) {
  char chunk[65536];
  off_t at = 0;
  for (;;) {
    ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk, static_cast<size_t>(n));
    at += n;
  }
}

// WriteInPlace overwrites target with the content write() produces, the
// space reserved before anything changes; on a failure midway the old
// content goes back.
void WriteInPlace(const std::string& path, const std::string& target,
                  const std::function<void(ByteSink&)>& write) {
  MemorySink content;
  write(content);
  Fd fd(sys::OpenExisting(target, O_RDWR));
  if (!fd.Valid()) throw EFileError(Failure("Cannot write file", path, errno));
  std::string old;
  if (!ReadAll(fd.Get(), old)) throw EFileError(Failure("Cannot read file", path, errno));
  const auto new_size = static_cast<off_t>(content.bytes.size());
  const auto old_size = static_cast<off_t>(old.size());
  if (new_size > old_size) {
    int err = sys::Reserve(fd.Get(), new_size);
    // Where the file system cannot reserve, the write below finds out.
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
      if (::ftruncate(fd.Get(), old_size) != 0) {
        // The size was not changed by the failed reservation.
      }
      throw EFileError(Failure("Cannot write file", path, err));
    }
  }
  if (WriteAll(fd.Get(), content.bytes.data(), content.bytes.size(), 0) &&
      ::ftruncate(fd.Get(), new_size) == 0 && ::fsync(fd.Get()) == 0)
    return;
  const int err = errno;
  // Put the old content back; what fit before fits again.
  if (WriteAll(fd.Get(), old.data(), old.size(), 0) && ::ftruncate(fd.Get(), old_size) == 0)
    ::fsync(fd.Get());
  throw EFileError(Failure("Cannot write file", path, err));
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

NewFile CreateNewFile(const std::string& path) {
  if (file_faults::RefusesEntry(path)) return NewFile::kFailed;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? NewFile::kExists : NewFile::kFailed;
  ::close(fd);
  return NewFile::kCreated;
}

std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return nullptr;
    throw EFileError(Failure("Cannot open file", path, errno));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFileError("Cannot open file " + path);
  }
  return std::make_unique<FileSource>(fd, path);
}

void RewriteFile(const std::string& path, const std::function<void(ByteSink&)>& write) {
  const std::string target = Target(path);
  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) throw EFileError("Cannot write file " + path + ": a folder");
    // A file that cannot be written is not replaced behind its back.
    Fd probe(sys::OpenExisting(target, O_WRONLY));
    if (!probe.Valid()) throw EFileError(Failure("Cannot write file", path, errno));
  }
  // A rename would cut further hard links off the new content.
  if (exists && st.st_nlink > 1) return WriteInPlace(path, target, write);

  // One fixed temporary name per file: writers of one file are serialised by
  // the caller, and a leftover from a crash is simply overwritten.
  const std::string tmp = target + ".tarvel-tmp";
  Fd fd(sys::Create(tmp, exists ? st.st_mode & 07777 : 0666));
  if (!fd.Valid()) {
    const int err = errno;
    // The folder takes no new file; the file itself may still be written.
    if (exists && (err == EACCES || err == EPERM)) return WriteInPlace(path, target, write);
    throw EFileError(Failure("Cannot create file", path, err));
  }
  if (exists) {
    // The mode given to open() passed through the umask; the owner is ours.
    const bool kept = ::fchmod(fd.Get(), st.st_mode & 07777) == 0 &&
                      ((st.st_uid == ::geteuid() && st.st_gid == ::getegid()) ||
                       ::fchown(fd.Get(), st.st_uid, st.st_gid) == 0);
    if (!kept) {
      fd.Reset();
      sys::Unlink(tmp);
      return WriteInPlace(path, target, write);
    }
  }
  try {
    FileSink sink(fd, path);
    write(sink);
    if (::fsync(fd.Get()) != 0) throw EFileError(Failure("Cannot write file", path, errno));
    if (!fd.Close()) throw EFileError(Failure("Cannot write file", path, errno));
  } catch (...) {
    fd.Reset();
    sys::Unlink(tmp);
    throw;
  }
  if (sys::Rename(tmp, target) != 0) {
    const int err = errno;
    sys::Unlink(tmp);
    // A file that is a mount point, or a folder that lets a file be made but
    // not renamed, still takes the content in place.
    if (exists && (err == EACCES || err == EPERM || err == EBUSY || err == EXDEV))
      return WriteInPlace(path, target, write);
    throw EFileError(Failure("Cannot replace file", path, err));
  }
  SyncFolder(target);
}

}  // namespace tarvel::platform
