// Whole-file input, and the write-back of files the module rewrites (INI
// files) in a way that never loses what the file held before.
//
// Paths are 8-bit strings in the system code page. All functions are
// thread-safe; serialising writers of one file is the caller's business.
//
// Example:
//   platform::RewriteFile(path, [&](platform::ByteSink& sink) {
//     sink.Write(text.data(), text.size());
//   });  // raises EFileError; the file then keeps its old content
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::platform {

// EFileError is raised when a file exists but cannot be read, or cannot be
// written back.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ByteSource delivers a stream of bytes in chunks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Read fills up to size bytes and returns how many; 0 at the end.
  // Raises EFileError on a read failure.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// ByteSink receives a stream of bytes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Write writes all size bytes or raises EFileError.
  virtual void Write(const char* data, size_t size) = 0;
};

// FileExists reports whether a regular file (not a directory) is there.
bool FileExists(const std::string& path);

// CreateNewFile creates an empty file at path unless something of that name
// is there already, in one step (O_EXCL, CREATE_NEW): of several threads or
// processes creating one name, exactly one gets it. The caller then owns
// the file and may open it for writing.
enum class NewFile { kCreated, kExists, kFailed };
NewFile CreateNewFile(const std::string& path);

// OpenFileForReading opens a file with shared read access that keeps
// writers out while it is open. Returns null when the file does not exist;
// raises EFileError when it exists but cannot be opened.
std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path);

// RewriteFile gives path the content that write() produces.
//
//  - Where it can, the replace is atomic: write() fills a temporary file
//    beside path (path + ".tarvel-tmp"), which is flushed to disk, given the
//    old file's permissions (POSIX: mode and owner; Windows: attributes and
//    access rights) and renamed over path (Windows: ReplaceFile). Readers
//    see the old content or the new, never a mix.
//  - Where that cannot be had, the file is written in place: its folder
//    takes no new file, the file has further hard links (a rename would
//    cut them off), or (POSIX) its owner cannot be kept. The space the new
//    content needs is reserved first, so a full disk fails before anything
//    changes; should a write still fail, the old content is put back.
//  - A path that is a symbolic link (POSIX) is written through: the link stays.
//  - A file that exists but cannot be opened for writing (write-protected,
//    on a read-only volume, locked by another program) is never replaced.
//
// When write() or any step fails: EFileError (or write()'s own error), the
// file keeps its old content (a missing file stays missing) and no
// temporary file is left behind.
void RewriteFile(const std::string& path, const std::function<void(ByteSink&)>& write);

// FileFaults: failures put in front of the system's file calls, so tests
// can meet a full disk and write-protected files and folders on machines
// that will not produce them (a process of the superuser and Wine ignore
// write protection; a disk rarely fills on demand). The real calls run
// whenever no fault applies; a fault makes a call fail with the error the
// system gives in that case, and the code above runs as it would then.
struct FileFaults {
  // Folders in which no entry can be made, renamed or removed (EACCES /
  // ERROR_ACCESS_DENIED).
  std::vector<std::string> read_only_folders;
  // Files that cannot be opened for writing, replaced or removed (EACCES /
  // ERROR_ACCESS_DENIED).
  std::vector<std::string> read_only_files;
  // Bytes the disk still takes: a write or reservation that would make files
  // grow beyond them fails (ENOSPC / ERROR_DISK_FULL); growth that succeeds
  // uses them up. nullopt: no limit.
  std::optional<uint64_t> free_bytes;
};

// SetFileFaults installs faults for the whole process until ClearFileFaults.
void SetFileFaults(const FileFaults& faults);
void ClearFileFaults();

}  // namespace tarvel::platform
