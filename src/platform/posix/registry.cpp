// File-backed registry. Each key is a directory; its values live in one file
// ".values" inside it, replaced atomically (write a temporary file, rename)
// under an flock on ".lock" so that concurrent writers in several processes
// never lose each other's values. Key names become directory names folded to
// lower case (keys compare case-insensitively) with every byte outside
// [a-z0-9_-] written as %XX, so no name can escape its parent or clash with
// the two bookkeeping files.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"

namespace tarvel::platform {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'T', 'R', 'V', 'R', 'E', 'G', '1', '\n'};

std::string BaseDir() {
  if (const char* dir = std::getenv("TARVEL_REGISTRY_DIR"); dir && *dir) return dir;
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.tarvel-registry";
  return "/tmp/tarvel-registry-" + std::to_string(::getuid());
}

bool RootIsReadOnly(RegistryRootKey root) {
  const char* list = std::getenv("TARVEL_REGISTRY_READONLY");
  if (!list) return false;
  std::string_view rest(list), name(RegistryRootName(root));
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (AnsiUpperCase(item) == name) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

std::string EscapeName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string lower = AnsiLowerCase(name), out;
  for (unsigned char c : lower) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// KeyDir maps root and path to the key's directory.
std::string KeyDir(RegistryRootKey root, std::string_view path) {
  std::string dir = BaseDir() + "/" + RegistryRootName(root);
  while (!path.empty()) {
    size_t sep = path.find('\\');
    std::string_view part = path.substr(0, sep);
    if (!part.empty()) {
      dir += '/';
      dir += EscapeName(part);
    }
    if (sep == std::string_view::npos) break;
    path.remove_prefix(sep + 1);
  }
  return dir;
}

struct Entry {
  std::string name;
  uint32_t type;
  std::string data;
};

bool ReadAll(const std::string& file, std::string* out) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool GetU32(std::string_view& in, uint32_t* v) {
  if (in.size() < 4) return false;
  std::memcpy(v, in.data(), 4);
  in.remove_prefix(4);
  return true;
}

bool GetBytes(std::string_view& in, uint32_t n, std::string* out) {
  if (in.size() < n) return false;
  out->assign(in.data(), n);
  in.remove_prefix(n);
  return true;
}

// LoadEntries reads a key's values; a damaged tail is dropped, so a
// truncated file still yields every whole record before the damage.
bool LoadEntries(const std::string& dir, std::vector<Entry>* entries) {
  std::string raw;
  entries->clear();
  if (!ReadAll(dir + "/.values", &raw)) return false;
  std::string_view in(raw);
  if (in.size() < sizeof kMagic || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0) return true;
  in.remove_prefix(sizeof kMagic);
  for (;;) {
    Entry e;
    uint32_t len = 0;
    if (!GetU32(in, &len) || !GetBytes(in, len, &e.name) || !GetU32(in, &e.type) ||
        !GetU32(in, &len) || !GetBytes(in, len, &e.data))
      break;
    entries->push_back(std::move(e));
  }
  return true;
}

void PutU32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

bool StoreEntries(const std::string& dir, const std::vector<Entry>& entries) {
  std::string raw(kMagic, sizeof kMagic);
  for (const Entry& e : entries) {
    PutU32(raw, static_cast<uint32_t>(e.name.size()));
    raw += e.name;
    PutU32(raw, e.type);
    PutU32(raw, static_cast<uint32_t>(e.data.size()));
    raw += e.data;
  }
  std::string tmp = dir + "/.values.tmp", file = dir + "/.values";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < raw.size()) {
    ssize_t n = ::write(fd, raw.data() + done, raw.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  // No fsync: like the Windows registry, changes reach the disk lazily; the
  // rename alone keeps a crash of this process from leaving a torn file.
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), file.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

// KeyLock holds the key's change lock for one read-modify-write.
class KeyLock {
 public:
  explicit KeyLock(const std::string& dir) {
    fd_ = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~KeyLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the flock
  }
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiLowerCase(a) == AnsiLowerCase(b);
}

}  // namespace

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : dir_(std::move(other.dir_)) {
  other.dir_.clear();
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    dir_ = std::move(other.dir_);
    other.dir_.clear();
  }
  return *this;
}

bool RegistryKey::Open(RegistryRootKey root, std::string_view path) {
  Close();
  if (RootIsReadOnly(root)) return false;
  std::string dir = KeyDir(root, path);
  std::error_code ec;
  // Roots always exist, as predefined keys do on Windows.
  bool is_root = dir == BaseDir() + "/" + RegistryRootName(root);
  if (is_root) fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) return false;
  dir_ = dir;
  return true;
}

bool RegistryKey::Create(RegistryRootKey root, std::string_view path) {
  Close();
  if (RootIsReadOnly(root)) return false;
  std::string dir = KeyDir(root, path);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) return false;
  dir_ = dir;
  return true;
}

bool RegistryKeyExists(RegistryRootKey root, std::string_view path) {
  std::error_code ec;
  return fs::is_directory(KeyDir(root, path), ec);
}

bool RegistryKey::IsOpen() const {
  return !dir_.empty();
}

void RegistryKey::Close() {
  dir_.clear();
}

RegistryQuery RegistryKey::Query(std::string_view name, RegistryValue* out) const {
  if (dir_.empty()) return RegistryQuery::kFailed;
  std::vector<Entry> entries;
  if (!LoadEntries(dir_, &entries)) return RegistryQuery::kFailed;
  for (Entry& e : entries) {
    if (SameName(e.name, name)) {
      if (out) {
        out->type = e.type;
        out->data = std::move(e.data);
      }
      return RegistryQuery::kOk;
    }
  }
  return RegistryQuery::kMissing;
}

bool RegistryKey::SetValue(std::string_view name, uint32_t type, std::string_view data) {
  if (dir_.empty()) return false;
  KeyLock lock(dir_);
  if (!lock.Held()) return false;
  std::vector<Entry> entries;
  if (!LoadEntries(dir_, &entries)) return false;
  bool found = false;
  for (Entry& e : entries) {
    if (SameName(e.name, name)) {
      e.type = type;
      e.data.assign(data);
      found = true;
      break;
    }
  }
  if (!found) entries.push_back(Entry{std::string(name), type, std::string(data)});
  return StoreEntries(dir_, entries);
}

bool RegistryKey::DeleteValue(std::string_view name) {
  if (dir_.empty()) return false;
  KeyLock lock(dir_);
  if (!lock.Held()) return false;
  std::vector<Entry> entries;
  if (!LoadEntries(dir_, &entries)) return false;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (SameName(entries[i].name, name)) {
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      return StoreEntries(dir_, entries);
    }
  }
  return false;
}

bool DeleteRegistryTree(RegistryRootKey root, std::string_view path) {
  if (path.empty()) return false;  // never wipe a whole root
  std::error_code ec;
  fs::remove_all(KeyDir(root, path), ec);
  return !ec;
}

}  // namespace tarvel::platform
