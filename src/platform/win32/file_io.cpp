#include "platform/file_io.h"

#include <windows.h>

#include <string>

#include "platform/file_io_faults.h"

namespace tarvel::platform {

namespace {

// The system calls that FileFaults can fail, each checking them first.
namespace sys {

HANDLE Create(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  const bool makes_entry =
      disposition == CREATE_ALWAYS || disposition == CREATE_NEW || disposition == OPEN_ALWAYS;
  if ((makes_entry && file_faults::RefusesEntry(path)) ||
      ((access & GENERIC_WRITE) && file_faults::RefusesWriting(path))) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// HasSpace: whether the file h may grow to end bytes.
bool HasSpace(HANDLE h, uint64_t end) {
  if (!file_faults::LimitsSpace()) return true;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h, &size) || end <= static_cast<uint64_t>(size.QuadPart)) return true;
  return file_faults::TakeSpace(end - static_cast<uint64_t>(size.QuadPart));
}

BOOL Write(HANDLE h, const char* data, DWORD size, DWORD* put) {
  LARGE_INTEGER zero{}, at{};
  ::SetFilePointerEx(h, zero, &at, FILE_CURRENT);
  if (!HasSpace(h, static_cast<uint64_t>(at.QuadPart) + size)) {
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return ::WriteFile(h, data, size, put, nullptr);
}

// SetSize moves the end of the file to size (growing takes disk space).
BOOL SetSize(HANDLE h, uint64_t size) {
  if (!HasSpace(h, size)) {
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
}

BOOL Replace(const std::string& path, const std::string& replacement, const std::string& backup) {
  if (file_faults::RefusesEntry(path) || file_faults::RefusesWriting(path)) {
    ::SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
    return FALSE;
  }
  return ::ReplaceFileA(path.c_str(), replacement.c_str(), backup.c_str(),
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

BOOL Move(const std::string& from, const std::string& to) {
  if (file_faults::RefusesEntry(from) || file_faults::RefusesEntry(to) ||
      file_faults::RefusesWriting(to)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

BOOL Delete(const std::string& path) {
  if (file_faults::RefusesEntry(path)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return ::DeleteFileA(path.c_str());
}

}  // namespace sys

std::string Failure(const char* what, const std::string& path, DWORD err) {
  return std::string(what) + " " + path + " (error " + std::to_string(err) + ")";
}

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

// DWORD is 32-bit; chunks above 1 GiB are never asked for.
DWORD Chunk(size_t size) {
  return size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
}

class FileSource : public ByteSource {
 public:
  FileSource(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  size_t Read(char* buffer, size_t size) override {
    DWORD got = 0;
    if (!::ReadFile(h_.Get(), buffer, Chunk(size), &got, nullptr))
      throw EFileError(Failure("Cannot read file", path_, ::GetLastError()));
    return got;
  }

 private:
  Handle h_;
  std::string path_;
};

// WriteAll writes size bytes at the file position; false with the last
// error set when the system refuses.
bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    DWORD put = 0;
    if (!sys::Write(h, data, Chunk(size), &put)) return false;
    if (put == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    data += put;
    size -= put;
  }
  return true;
}

class FileSink : public ByteSink {
 public:
  FileSink(HANDLE h, const std::string& path) : h_(h), path_(path) {}
  void Write(const char* data, size_t size) override {
    if (!WriteAll(h_, data, size))
      throw EFileError(Failure("Cannot write file", path_, ::GetLastError()));
  }

 private:
  HANDLE h_;
  const std::string& path_;
};

class MemorySink : public ByteSink {
 public:
  void Write(const char* data, size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

// KeepLooks gives the new file the old one's attributes and access rights
// (ReplaceFile does so on Windows itself, not everywhere else); what
// cannot be copied stays as the folder gives it.
void KeepLooks(const std::string& from, const std::string& to) {
  const DWORD attrs = ::GetFileAttributesA(from.c_str());
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & kKept))
    ::SetFileAttributesA(to.c_str(), attrs & kKept);
  DWORD size = 0;
  ::GetFileSecurityA(from.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  if (size == 0) return;
  std::string descriptor(size, '\0');
  if (::GetFileSecurityA(from.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
    ::SetFileSecurityA(to.c_str(), DACL_SECURITY_INFORMATION, descriptor.data());
}

bool Rewind(HANDLE h) {
  LARGE_INTEGER zero{};
  return ::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
}

bool ReadAll(HANDLE h, std::string& out) {
  if (!Rewind(h)) return false;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, chunk, sizeof chunk, &got, nullptr)) return false;
    if (got == 0) return true;
    out.append(chunk, got);
  }
}

// WriteInPlace overwrites path with the content write() produces, the
// space reserved before anything changes; on a failure midway the old
// content goes back.
void WriteInPlace(const std::string& path, const std::function<void(ByteSink&)>& write) {
  MemorySink content;
  write(content);
  Handle h(sys::Create(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) throw EFileError(Failure("Cannot write file", path, ::GetLastError()));
  std::string old;
  if (!ReadAll(h.Get(), old)) throw EFileError(Failure("Cannot read file", path, ::GetLastError()));
  const uint64_t new_size = content.bytes.size(), old_size = old.size();
  if (new_size > old_size && !sys::SetSize(h.Get(), new_size)) {
    const DWORD err = ::GetLastError();
    sys::SetSize(h.Get(), old_size);
    throw EFileError(Failure("Cannot write file", path, err));
  }
  if (Rewind(h.Get()) && WriteAll(h.Get(), content.bytes.data(), content.bytes.size()) &&
      sys::SetSize(h.Get(), new_size) && ::FlushFileBuffers(h.Get()))
    return;
  const DWORD err = ::GetLastError();
  // Put the old content back; what fit before fits again.
  if (Rewind(h.Get()) && WriteAll(h.Get(), old.data(), old.size()) &&
      sys::SetSize(h.Get(), old_size))
    ::FlushFileBuffers(h.Get());
  throw EFileError(Failure("Cannot write file", path, err));
}

}  // namespace

bool FileExists(const std::string& path) {
  DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

NewFile CreateNewFile(const std::string& path) {
  HANDLE h = sys::Create(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    return err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS ? NewFile::kExists
                                                                   : NewFile::kFailed;
  }
  ::CloseHandle(h);
  return NewFile::kCreated;
}

std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = ::GetLastError();
    if ((err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) &&
        ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
      return nullptr;
    throw EFileError(Failure("Cannot open file", path, err));
  }
  return std::make_unique<FileSource>(h, path);
}

void RewriteFile(const std::string& path, const std::function<void(ByteSink&)>& write) {
  const DWORD attrs = ::GetFileAttributesA(path.c_str());
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
  if (exists) {
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
      throw EFileError("Cannot write file " + path + ": a folder");
    // A file that cannot be written (read-only, locked by another program)
    // is not replaced behind its back.
    Handle probe(sys::Create(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL));
    if (!probe.Valid()) throw EFileError(Failure("Cannot write file", path, ::GetLastError()));
    BY_HANDLE_FILE_INFORMATION info;
    // A replace would cut further hard links off the new content.
    if (::GetFileInformationByHandle(probe.Get(), &info) && info.nNumberOfLinks > 1) {
      probe.Reset();
      return WriteInPlace(path, write);
    }
  }

  // One fixed temporary name per file: writers of one file are serialised by
  // the caller, and a leftover from a crash is simply overwritten.
  const std::string tmp = path + ".tarvel-tmp";
  Handle h(sys::Create(tmp, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) {
    const DWORD err = ::GetLastError();
    // The folder takes no new file; the file itself may still be written.
    if (exists && err == ERROR_ACCESS_DENIED) return WriteInPlace(path, write);
    throw EFileError(Failure("Cannot create file", path, err));
  }
  try {
    FileSink sink(h.Get(), path);
    write(sink);
    if (!::FlushFileBuffers(h.Get()))
      throw EFileError(Failure("Cannot write file", path, ::GetLastError()));
    h.Reset();
  } catch (...) {
    h.Reset();
    sys::Delete(tmp);
    throw;
  }
  if (!exists) {
    if (!sys::Move(tmp, path)) {
      const DWORD err = ::GetLastError();
      sys::Delete(tmp);
      throw EFileError(Failure("Cannot create file", path, err));
    }
    return;
  }
  KeepLooks(path, tmp);
  // With a backup name, every failure of ReplaceFile leaves each file under
  // a known name.
  const std::string backup = path + ".tarvel-bak";
  if (sys::Replace(path, tmp, backup)) {
    sys::Delete(backup);
    return;
  }
  const DWORD err = ::GetLastError();
  if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The old file went to the backup name and the new one could not take
    // its place: the old one goes back.
    sys::Move(backup, path);
  }
  sys::Delete(tmp);
  if (err == ERROR_UNABLE_TO_REMOVE_REPLACED || err == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
      err == ERROR_ACCESS_DENIED)
    return WriteInPlace(path, write);
  throw EFileError(Failure("Cannot replace file", path, err));
}

}  // namespace tarvel::platform
