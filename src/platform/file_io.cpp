// FileFaults: one process-wide set, read under a lock only while set.
#include "platform/file_io.h"

#include <atomic>

#include "Common/ThreadSafety.h"
#include "platform/file_io_faults.h"

namespace tarvel::platform {

namespace {

struct Installed {
  Mutex mutex;
  std::atomic<bool> active{false};
  FileFaults faults TARVEL_GUARDED_BY(mutex);
};

Installed& Faults() {
  static Installed installed;
  return installed;
}

// Normal gives a path in the form faults are compared in: Windows names are
// compared ignoring ASCII case and either slash.
std::string Normal(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
#else
  while (path.size() > 1 && path.back() == '/') path.pop_back();
#endif
  return path;
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const size_t cut = path.find_last_of("\\/");
#else
  const size_t cut = path.rfind('/');
#endif
  return cut == std::string::npos ? "." : cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

bool Listed(const std::vector<std::string>& list, const std::string& path) {
  const std::string wanted = Normal(path);
  for (const std::string& entry : list)
    if (Normal(entry) == wanted) return true;
  return false;
}

}  // namespace

void SetFileFaults(const FileFaults& faults) {
  Installed& f = Faults();
  MutexLock hold(f.mutex);
  f.faults = faults;
  f.active = true;
}

void ClearFileFaults() {
  Installed& f = Faults();
  MutexLock hold(f.mutex);
  f.faults = FileFaults{};
  f.active = false;
}

namespace file_faults {

bool RefusesEntry(const std::string& path) {
  Installed& f = Faults();
  if (!f.active) return false;
  MutexLock hold(f.mutex);
  return Listed(f.faults.read_only_folders, FolderOf(path));
}

bool RefusesWriting(const std::string& path) {
  Installed& f = Faults();
  if (!f.active) return false;
  MutexLock hold(f.mutex);
  return Listed(f.faults.read_only_files, path);
}

bool LimitsSpace() {
  Installed& f = Faults();
  if (!f.active) return false;
  MutexLock hold(f.mutex);
  return f.faults.free_bytes.has_value();
}

bool TakeSpace(uint64_t bytes) {
  Installed& f = Faults();
  if (!f.active) return true;
  MutexLock hold(f.mutex);
  if (!f.faults.free_bytes) return true;
  if (*f.faults.free_bytes < bytes) return false;
  *f.faults.free_bytes -= bytes;
  return true;
}

}  // namespace file_faults

}  // namespace tarvel::platform
