// Lock annotations the compiler checks, and the mutexes they speak of.
//
// With clang and -Wthread-safety, a field marked TARVEL_GUARDED_BY(mu_) may
// only be touched while mu_ is held, a function marked TARVEL_REQUIRES(mu_)
// may only be called while it is held, and a lock taken and not let go (or
// let go twice) on some path is a compile error. Other compilers see empty
// macros; the code is the same.
//
//   class Queue {
//     void Push(int v) {
//       MutexLock lock(mu_);
//       items_.push_back(v);
//     }
//     Mutex mu_;
//     std::vector<int> items_ TARVEL_GUARDED_BY(mu_);
//   };
//
// Locks are only ever held through a scoped holder (MutexLock, UniqueLock,
// RecursiveMutexLock), so that a throw lets them go. A condition variable
// waits through CondVar with a predicate marked TARVEL_REQUIRES(mu_):
//
//   UniqueLock lock(mu_);
//   idle_.Wait(lock, [this]() TARVEL_REQUIRES(mu_) { return running_ == 0; });
//
// Threads: the mutexes are the standard ones underneath; each holder belongs
// to the thread that made it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TARVEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TARVEL_THREAD_ANNOTATION(x)
#endif

#define TARVEL_CAPABILITY(x) TARVEL_THREAD_ANNOTATION(capability(x))
#define TARVEL_SCOPED_CAPABILITY TARVEL_THREAD_ANNOTATION(scoped_lockable)
#define TARVEL_GUARDED_BY(x) TARVEL_THREAD_ANNOTATION(guarded_by(x))
#define TARVEL_PT_GUARDED_BY(x) TARVEL_THREAD_ANNOTATION(pt_guarded_by(x))
#define TARVEL_REQUIRES(...) TARVEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TARVEL_EXCLUDES(...) TARVEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TARVEL_ACQUIRE(...) TARVEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TARVEL_RELEASE(...) TARVEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TARVEL_ACQUIRE_SHARED(...) TARVEL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define TARVEL_RELEASE_SHARED(...) TARVEL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TARVEL_RELEASE_GENERIC(...) \
  TARVEL_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TARVEL_TRY_ACQUIRE(...) TARVEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TARVEL_RETURN_CAPABILITY(x) TARVEL_THREAD_ANNOTATION(lock_returned(x))
#define TARVEL_ASSERT_CAPABILITY(x) TARVEL_THREAD_ANNOTATION(assert_capability(x))
// For the few places the analysis cannot follow (a lock handed between
// functions by design); say why beside each use.
#define TARVEL_NO_THREAD_SAFETY_ANALYSIS TARVEL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace tarvel {

class TARVEL_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() TARVEL_ACQUIRE() { mu_.lock(); }
  void unlock() TARVEL_RELEASE() { mu_.unlock(); }
  bool try_lock() TARVEL_TRY_ACQUIRE(true) { return mu_.try_lock(); }
  // For the analysis only: the caller knows the lock is held.
  void AssertHeld() const TARVEL_ASSERT_CAPABILITY(this) {}

 private:
  friend class UniqueLock;
  std::mutex mu_;
};

class TARVEL_CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() TARVEL_ACQUIRE() { mu_.lock(); }
  void unlock() TARVEL_RELEASE() { mu_.unlock(); }
  bool try_lock() TARVEL_TRY_ACQUIRE(true) { return mu_.try_lock(); }
  void AssertHeld() const TARVEL_ASSERT_CAPABILITY(this) {}

 private:
  std::recursive_mutex mu_;
};

// AdoptLock: the holder takes over a lock the caller has just taken (a
// try_lock that succeeded), so that it is let go like any other.
struct AdoptLock {};
inline constexpr AdoptLock kAdoptLock{};

// MutexLock holds a mutex for its scope.
//   if (!mu_.try_lock()) return false;
//   MutexLock held(mu_, kAdoptLock);
template <class M>
class TARVEL_SCOPED_CAPABILITY BasicMutexLock {
 public:
  explicit BasicMutexLock(M& mu) TARVEL_ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  BasicMutexLock(M& mu, AdoptLock) TARVEL_REQUIRES(mu) : mu_(mu) {}
  ~BasicMutexLock() TARVEL_RELEASE() { mu_.unlock(); }
  BasicMutexLock(const BasicMutexLock&) = delete;
  BasicMutexLock& operator=(const BasicMutexLock&) = delete;

 private:
  M& mu_;
};
using MutexLock = BasicMutexLock<Mutex>;
using RecursiveMutexLock = BasicMutexLock<RecursiveMutex>;

// UniqueLock holds a Mutex for its scope, may let it go and take it again,
// and is what CondVar waits with.
class TARVEL_SCOPED_CAPABILITY UniqueLock {
 public:
  explicit UniqueLock(Mutex& mu) TARVEL_ACQUIRE(mu) : lock_(mu.mu_) {}
  ~UniqueLock() TARVEL_RELEASE() {}
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  void Unlock() TARVEL_RELEASE() { lock_.unlock(); }
  void Relock() TARVEL_ACQUIRE() { lock_.lock(); }

 private:
  friend class CondVar;
  std::unique_lock<std::mutex> lock_;
};

// CondVar: a condition variable waited on through a UniqueLock. The
// predicate runs with the lock held; mark it TARVEL_REQUIRES(mu).
class CondVar {
 public:
  // The predicate's own mark is checked where it is written; here the
  // analysis cannot see that the lock it names is the one held.
  template <class Pred>
  void Wait(UniqueLock& lock, Pred pred) TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    while (!pred()) cv_.wait(lock.lock_);
  }
  // WaitFor: false when the time ran out with pred still false.
  template <class Rep, class Period, class Pred>
  bool WaitFor(UniqueLock& lock, std::chrono::duration<Rep, Period> time, Pred pred) {
    return WaitUntil(lock, std::chrono::steady_clock::now() + time, pred);
  }
  template <class Clock, class Duration, class Pred>
  bool WaitUntil(UniqueLock& lock, std::chrono::time_point<Clock, Duration> until,
                 Pred pred) TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    while (!pred())
      if (cv_.wait_until(lock.lock_, until) == std::cv_status::timeout) return pred();
    return true;
  }
  // Without a predicate: one wake-up, which may be spurious.
  void WaitOnce(UniqueLock& lock) { cv_.wait(lock.lock_); }
  template <class Rep, class Period>
  void WaitOnceFor(UniqueLock& lock, std::chrono::duration<Rep, Period> time) {
    cv_.wait_for(lock.lock_, time);
  }
  void NotifyOne() noexcept { cv_.notify_one(); }
  void NotifyAll() noexcept { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace tarvel
