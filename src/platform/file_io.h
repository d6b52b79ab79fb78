// Whole-file input and atomic replacement, for files the module rewrites
// (INI files): readers see either the old content or the new, never a mix,
// and a failed write leaves the old file untouched.
//
// Paths are 8-bit strings in the system code page. All functions are
// thread-safe; serialising writers of one file is the caller's business.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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

// OpenFileForReading opens a file with shared read access that keeps
// writers out while it is open. Returns null when the file does not exist;
// raises EFileError when it exists but cannot be opened.
std::unique_ptr<ByteSource> OpenFileForReading(const std::string& path);

// ReplaceFileAtomically writes a new content for path: write() fills a temporary file
// beside it, which is flushed to disk and then renamed over path. When
// write() or any step raises, the temporary file is removed, path keeps its
// old content and EFileError (or write()'s own error) propagates.
void ReplaceFileAtomically(const std::string& path, const std::function<void(ByteSink&)>& write);

}  // namespace tarvel::platform
