// Thread-safe containers: lists guarded by a re-entrant multi-reader,
// single-writer lock whose shared holder can promote itself.
//
// The lock (TMultiReadLock) guarantees:
//  1. any number of shared holders, or one exclusive holder;
//  2. both modes are re-entrant per thread (each take needs its release);
//  3. an exclusive holder may also take it shared without waiting;
//  4. a shared holder may ask for the exclusive hold without releasing its
//     shared one; while it waits, its own shared hold does not count, and
//     it gets the lock once no other thread holds it in either mode. Two
//     threads promoting at once are served one after the other. After
//     UnlockWrite the promoted thread is a shared holder again;
//  5. once a thread waits for the exclusive hold, threads holding nothing
//     that ask for a shared hold wait until the writer is done.
// Note for promoters: while a thread waits to promote, another promoter may
// change the list, so re-check what was read under the shared hold.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class TMultiReadLock {
 public:
  TMultiReadLock() = default;
  TMultiReadLock(const TMultiReadLock&) = delete;
  TMultiReadLock& operator=(const TMultiReadLock&) = delete;

  void LockRead();
  void UnlockRead();
  void LockWrite();
  void UnlockWrite();

  // For checks and tests: the calling thread's holds, and how many threads
  // wait for the exclusive hold (promoters included) or for a shared one.
  bool HeldExclusiveByMe() const;
  bool HeldSharedByMe() const;
  int WaitingWriters() const;
  int WaitingReaders() const;

 private:
  struct Holder {
    uint32_t thread;
    int shared;
    int exclusive;
    bool promoting;
  };
  Holder* Find(uint32_t thread);
  const Holder* Find(uint32_t thread) const;
  void DropIfIdle(uint32_t thread);
  bool OthersHold(uint32_t thread) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Holder> holders_;  // guarded by mutex_
  uint32_t writer_ = 0;          // guarded by mutex_; thread id or 0
  int waiting_writers_ = 0;      // guarded by mutex_
  int waiting_readers_ = 0;      // guarded by mutex_
};

// TThreadObject guards one object (not owned) with a TMultiReadLock.
class TThreadObject {
 public:
  explicit TThreadObject(void* guarded = nullptr) : guarded_(guarded ? guarded : this) {}
  virtual ~TThreadObject() = default;
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  void* LockRead() {
    lock_.LockRead();
    return guarded_;
  }
  void UnlockRead() { lock_.UnlockRead(); }
  void* LockWrite() {
    lock_.LockWrite();
    return guarded_;
  }
  void UnlockWrite() { lock_.UnlockWrite(); }
  TMultiReadLock& Lock() { return lock_; }

 protected:
  void SetGuarded(void* guarded) { guarded_ = guarded; }

 private:
  TMultiReadLock lock_;
  void* guarded_;
};

// TObjectList is an ordered list of object pointers that frees its objects
// on removal when it owns them.
template <class T>
class TObjectList {
 public:
  explicit TObjectList(bool owns_objects) : owns_(owns_objects) {}
  ~TObjectList() { Clear(); }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  bool OwnsObjects() const { return owns_; }
  int Count() const { return static_cast<int>(items_.size()); }
  T* operator[](int index) const { return items_[static_cast<size_t>(index)]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  int Add(T* object) {
    items_.push_back(object);
    return Count() - 1;
  }
  int IndexOf(const T* object) const {
    auto it = std::find(items_.begin(), items_.end(), object);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  }
  // Delete removes the object at index, freeing it when owning.
  void Delete(int index) {
    T* object = items_[static_cast<size_t>(index)];
    items_.erase(items_.begin() + index);
    if (owns_) delete object;
  }
  // Remove removes an object (freeing it when owning); -1 when absent.
  int Remove(T* object) {
    int index = IndexOf(object);
    if (index >= 0) Delete(index);
    return index;
  }
  // Extract removes an object without freeing it.
  T* Extract(T* object) {
    int index = IndexOf(object);
    if (index < 0) return nullptr;
    items_.erase(items_.begin() + index);
    return object;
  }
  void Clear() {
    std::vector<T*> old;
    old.swap(items_);
    if (owns_)
      for (T* object : old) delete object;
  }

 private:
  std::vector<T*> items_;
  bool owns_;
};

// TThreadObjectList guards a TObjectList with the lock of TThreadObject.
template <class T>
class TThreadObjectList : public TThreadObject {
 public:
  explicit TThreadObjectList(bool owns_objects) : list_(owns_objects) { SetGuarded(&list_); }
  ~TThreadObjectList() override {
    LockList();
    list_.Clear();
    UnlockWrite();
  }

  // LockList takes the lock exclusively (release with UnlockWrite);
  // LockListRead takes it shared (release with UnlockRead).
  TObjectList<T>* LockList() {
    LockWrite();
    return &list_;
  }
  TObjectList<T>* LockListRead() {
    LockRead();
    return &list_;
  }

  void Add(T* object) {
    LockList();
    try {
      list_.Add(object);
    } catch (...) {
      UnlockWrite();
      throw;
    }
    UnlockWrite();
  }
  void Clear() {
    LockList();
    try {
      list_.Clear();
    } catch (...) {
      UnlockWrite();
      throw;
    }
    UnlockWrite();
  }

 private:
  TObjectList<T> list_;
};

// Scope guards for the two holds.
class ReadLockGuard {
 public:
  explicit ReadLockGuard(TThreadObject& object) : object_(object) { object_.LockRead(); }
  ~ReadLockGuard() { object_.UnlockRead(); }
  ReadLockGuard(const ReadLockGuard&) = delete;
  ReadLockGuard& operator=(const ReadLockGuard&) = delete;

 private:
  TThreadObject& object_;
};

class WriteLockGuard {
 public:
  explicit WriteLockGuard(TThreadObject& object) : object_(object) { object_.LockWrite(); }
  ~WriteLockGuard() { object_.UnlockWrite(); }
  WriteLockGuard(const WriteLockGuard&) = delete;
  WriteLockGuard& operator=(const WriteLockGuard&) = delete;

 private:
  TThreadObject& object_;
};

// TThreadStringList guards an unsorted list of text lines (duplicates kept).
class TThreadStringList {
 public:
  TThreadStringList() = default;
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  // LockList takes the lock exclusively and hands out the lines.
  std::vector<std::string>* LockList() {
    lock_.LockWrite();
    return &lines_;
  }
  void UnlockList() { lock_.UnlockWrite(); }

  // Add appends one line and returns its index.
  int Add(std::string_view text);
  // SetText replaces the content by the lines of text (split at CR, LF or CR LF).
  void SetText(std::string_view text);

 private:
  TMultiReadLock lock_;
  std::vector<std::string> lines_;  // guarded by lock_
};

// SplitLines splits text at CR, LF or CR LF; a final line break opens no
// extra line, and empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace tarvel
