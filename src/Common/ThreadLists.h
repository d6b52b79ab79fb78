// Thread-safe containers: lists held under a re-entrant multi-reader,
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
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Common/ThreadSafety.h"

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
  Holder* Find(uint32_t thread) TARVEL_REQUIRES(mutex_);
  const Holder* Find(uint32_t thread) const TARVEL_REQUIRES(mutex_);
  void DropIfIdle(uint32_t thread) TARVEL_REQUIRES(mutex_);
  bool OthersHold(uint32_t thread) const TARVEL_REQUIRES(mutex_);

  mutable Mutex mutex_;
  CondVar changed_;
  std::vector<Holder> holders_ TARVEL_GUARDED_BY(mutex_);
  uint32_t writer_ TARVEL_GUARDED_BY(mutex_) = 0;  // thread id or 0
  int waiting_writers_ TARVEL_GUARDED_BY(mutex_) = 0;
  int waiting_readers_ TARVEL_GUARDED_BY(mutex_) = 0;
};

// ReadHold / WriteHold: one shared or exclusive hold of a TMultiReadLock
// for their life (a moved-from hold holds nothing). They are the only way
// the lists below are held, so a throw never leaves a list locked.
class ReadHold {
 public:
  explicit ReadHold(TMultiReadLock& lock) : lock_(&lock) { lock.LockRead(); }
  ~ReadHold() {
    if (lock_) lock_->UnlockRead();
  }
  ReadHold(ReadHold&& other) noexcept : lock_(other.lock_) { other.lock_ = nullptr; }
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;
  ReadHold& operator=(ReadHold&&) = delete;

 private:
  TMultiReadLock* lock_;
};

class WriteHold {
 public:
  explicit WriteHold(TMultiReadLock& lock) : lock_(&lock) { lock.LockWrite(); }
  ~WriteHold() {
    if (lock_) lock_->UnlockWrite();
  }
  WriteHold(WriteHold&& other) noexcept : lock_(other.lock_) { other.lock_ = nullptr; }
  WriteHold(const WriteHold&) = delete;
  WriteHold& operator=(const WriteHold&) = delete;
  WriteHold& operator=(WriteHold&&) = delete;

 private:
  TMultiReadLock* lock_;
};

// Locked: what a list guards, reached through the hold that guards it.
//   auto lines = log_lines.Lock();   // held until `lines` goes
//   lines->push_back("text");
template <class T, class Hold>
class Locked {
 public:
  Locked(TMultiReadLock& lock, T* target) : hold_(lock), target_(target) {}
  Locked(Locked&&) noexcept = default;
  T* operator->() const { return target_; }
  std::add_lvalue_reference_t<T> operator*() const& { return *target_; }
  // Not on a handle about to go: in a range-for's head (for (x : *list.Lock()))
  // the handle would let the lock go before the loop runs.
  void operator*() const&& = delete;
  T* get() const { return target_; }

 private:
  Hold hold_;
  T* target_;
};
template <class T>
using ReadLocked = Locked<const T, ReadHold>;
template <class T>
using WriteLocked = Locked<T, WriteHold>;

// TThreadObject guards one object (not owned) with a TMultiReadLock.
class TThreadObject {
 public:
  explicit TThreadObject(void* guarded = nullptr) : guarded_(guarded ? guarded : this) {}
  virtual ~TThreadObject() = default;
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  // The guarded object, held shared or exclusively while the handle lives.
  Locked<const void, ReadHold> LockObjectRead() { return {lock_, guarded_}; }
  Locked<void, WriteHold> LockObject() { return {lock_, guarded_}; }
  // For checks and tests: the lock's state.
  TMultiReadLock& MultiReadLock() { return lock_; }

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
// Lock holds it exclusively, LockRead shared (a reader may call Lock too:
// it promotes, see TMultiReadLock); both let go when the handle goes.
template <class T>
class TThreadObjectList : public TThreadObject {
 public:
  explicit TThreadObjectList(bool owns_objects) : list_(owns_objects) { SetGuarded(&list_); }
  ~TThreadObjectList() override { Lock()->Clear(); }

  WriteLocked<TObjectList<T>> Lock() { return {MultiReadLock(), &list_}; }
  ReadLocked<TObjectList<T>> LockRead() { return {MultiReadLock(), &list_}; }

  void Add(T* object) { Lock()->Add(object); }
  void Clear() { Lock()->Clear(); }

 private:
  TObjectList<T> list_;
};

// TThreadStringList guards an unsorted list of text lines (duplicates kept).
// Lock holds it exclusively for the handle's life.
class TThreadStringList {
 public:
  TThreadStringList() = default;
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  WriteLocked<std::vector<std::string>> Lock() { return {lock_, &lines_}; }

  // Add appends one line and returns its index.
  int Add(std::string_view text);
  // SetText replaces the content by the lines of text (split at CR, LF or CR LF).
  void SetText(std::string_view text);
  // For checks and tests: the lock's state.
  TMultiReadLock& MultiReadLock() { return lock_; }

 private:
  TMultiReadLock lock_;
  // Reached only through Lock's handle.
  std::vector<std::string> lines_;
};

// SplitLines splits text at CR, LF or CR LF; a final line break opens no
// extra line, and empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace tarvel
