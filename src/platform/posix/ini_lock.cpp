// The INI lock on POSIX: flock serialises processes, and a per-process record
// serialises the threads of one process (flock alone would let every thread
// of the holding process in, since they share the process's open file) and
// counts one thread's recursion. A crashed holder's flock dies with it, so
// no process waits forever for a dead one.
#include "platform/ini_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "Common/ThreadSafety.h"
#include "platform/thread.h"

namespace tarvel::platform {

namespace {

struct Holder {
  uint32_t owner = 0;  // thread id, 0 when free in this process
  int recursion = 0;
  int fd = -1;
  int users = 0;  // IniFileLock objects of this name alive in this process
};

// The process's record of its INI locks, by lock file.
struct HolderRecord {
  Mutex mu;
  CondVar changed;  // a holder let go
  std::map<std::string, Holder> holders TARVEL_GUARDED_BY(mu);
};
HolderRecord& Record() {
  static HolderRecord record;
  return record;
}

std::string LockDir() {
  if (const char* dir = std::getenv("TARVEL_LOCK_DIR"); dir && *dir) return dir;
  return "/tmp/tarvel-locks";
}

std::string LockFileName(const std::string& name) {
  return BoundedLockName(name) + ".lock";
}

}  // namespace

IniFileLock::IniFileLock(std::string_view ini_file) : name_(IniLockName(ini_file)) {
  std::string dir = LockDir();
  if (::mkdir(dir.c_str(), 01777) == 0) ::chmod(dir.c_str(), 01777);
  file_ = dir + "/" + LockFileName(name_);
  int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw ELockError("Failed to create lock file " + file_);
  ::close(fd);
  HolderRecord& r = Record();
  MutexLock guard(r.mu);
  r.holders[file_].users++;
}

IniFileLock::~IniFileLock() {
  HolderRecord& r = Record();
  MutexLock guard(r.mu);
  auto it = r.holders.find(file_);
  if (it != r.holders.end() && --it->second.users == 0 && it->second.owner == 0)
    r.holders.erase(it);
}

void IniFileLock::Acquire() {
  uint32_t me = CurrentThreadId();
  HolderRecord& r = Record();
  UniqueLock guard(r.mu);
  Holder* h = &r.holders[file_];
  if (h->owner == me) {
    h->recursion++;
    return;
  }
  r.changed.Wait(guard, [&]() TARVEL_REQUIRES(r.mu) { return r.holders[file_].owner == 0; });
  h = &r.holders[file_];
  h->owner = me;
  h->recursion = 1;
  guard.Unlock();
  // The other processes are waited for outside the process record, so other
  // threads can still look at it (and queue behind this one).
  int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) {
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd);
        fd = -1;
        break;
      }
    }
  }
  guard.Relock();
  h = &r.holders[file_];
  if (fd < 0) {
    h->owner = 0;
    h->recursion = 0;
    r.changed.NotifyAll();
    throw ELockError("Failed to lock " + file_);
  }
  h->fd = fd;
}

void IniFileLock::Release() {
  HolderRecord& r = Record();
  MutexLock guard(r.mu);
  Holder& h = r.holders[file_];
  if (h.owner != CurrentThreadId() || h.recursion <= 0) return;
  if (--h.recursion > 0) return;
  if (h.fd >= 0) ::close(h.fd);  // closing drops the flock
  h.fd = -1;
  h.owner = 0;
  r.changed.NotifyAll();
}

}  // namespace tarvel::platform
