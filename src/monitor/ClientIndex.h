// ClientIndex: the client records of one settings generation and the hash
// index that finds a record by its client ID.
//
//  - Records: one TClientListItem per client, numbered in creation order,
//    in slabs that never move: 1024 records, 1024, then doubling up to 2^15
//    records (on a huge page where the system has them), then 2^15 each.
//    A record lives as long as the index; there is no removal, only the
//    whole index goes. OrderByCreation sorts records by their number.
//  - Shards: clients are spread over 256 shards by the high bits of their
//    ID's hash. Each shard has a lock and an open-addressing table of 4-byte
//    slots (7 bits of the hash as a tag, 25 bits of record number + 1),
//    doubled at three quarters full. A shard's lock (Shard::mu) guards its
//    slots and the records filed in it, their watches included: whoever
//    reads or changes a client holds its shard's lock.
//  - Looks without the lock (Candidate, PrefetchSlot) serve to fetch memory
//    ahead of a batch of rows; what they return is a guess (the record the
//    client most likely is), checked under the lock. They never walk freed
//    memory: given ReaderPins, whoever looks holds a pin, and an outgrown
//    slot array goes back to the system only once the pins that may still
//    see it are gone (tried at each growth, now and then as clients are
//    made, and by ReleaseRetired; none of these waits for the pins).
//    Without them, outgrown arrays stay until the index goes.
//  - Slot arrays of one capacity are carved from blocks of their own (up
//    to 2 MiB, advised to a huge page), so that the arrays of many clients
//    span few pages and a block goes as soon as its arrays are outgrown.
//
// Threads: Find and FindOrCreate need the shard's lock; Candidate and
// PrefetchSlot run on any thread, under a pin when the index has pins;
// Record, Created and OrderByCreation run on any thread at any time;
// ClientCount takes the shard locks one after the other; ReleaseRetired and
// MemoryUse run on any thread, also under a pin; the destructor runs when
// nothing else uses the index.
//
// Example:
//   ClientIndex::Shard& shard = index.ShardOf(id.Hash());
//   ShardHold lock(shard.mu);
//   bool created;
//   TClientListItem* c = index.FindOrCreate(shard, id, nullptr, &created);
//   if (created) BuildWatches(settings, *c, now);
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "Common/ReaderPins.h"
#include "Common/ThreadSafety.h"
#include "monitor/ClientId.h"
#include "monitor/ClientRecords.h"
#include "platform/prefetch.h"
#include "platform/thread.h"

namespace tarvel {

// ShardLock guards one shard: held for well under a microsecond per row.
// A waiter spins briefly, then yields, then sleeps. Under ThreadSanitizer it
// is a plain mutex, so that lock order is checked too.
#if defined(__SANITIZE_THREAD__)
#define TARVEL_SHARD_MUTEX 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVEL_SHARD_MUTEX 1
#endif
#endif
#ifdef TARVEL_SHARD_MUTEX
using ShardLock = Mutex;
#else
class TARVEL_CAPABILITY("mutex") ShardLock {
 public:
  void lock() TARVEL_ACQUIRE() {
    if (!locked_.exchange(true, std::memory_order_acquire)) return;
    LockSlow();
  }
  void unlock() TARVEL_RELEASE() { locked_.store(false, std::memory_order_release); }

 private:
  void LockSlow() {
    for (unsigned spins = 0;; ++spins) {
      if (!locked_.load(std::memory_order_relaxed) &&
          !locked_.exchange(true, std::memory_order_acquire))
        return;
      if (spins < 100) continue;
      if (spins < 200)
        platform::YieldThread();
      else
        platform::SleepMs(1);
    }
  }
  std::atomic<bool> locked_{false};
};
#endif
// ShardHold holds a shard's lock for its scope.
using ShardHold = BasicMutexLock<ShardLock>;

class ClientIndex {
 public:
  static constexpr unsigned kShardBits = 8;
  static constexpr size_t kShards = size_t{1} << kShardBits;

  using Slot = std::atomic<uint32_t>;
  struct alignas(64) Shard {
    ShardLock mu;
    // Index slots: 0 empty, else (tag << kNumberBits) | (record number + 1).
    // Four bytes, so that the index of 10^6 clients stays within the caches'
    // and the address translation's reach.
    Slot* slots TARVEL_GUARDED_BY(mu) = nullptr;
    uint32_t mask TARVEL_GUARDED_BY(mu) = 0;
    uint32_t size TARVEL_GUARDED_BY(mu) = 0;
    // slots and mask for looks without the lock. Growth publishes the array
    // before its mask, and a look loads the mask first, so that a mask
    // never exceeds the array it is used with. The array is stored and
    // loaded sequentially consistent, as ReaderPins::Stamp needs.
    std::atomic<const Slot*> shared_slots{nullptr};
    std::atomic<uint32_t> shared_mask{0};
  };

  // 2^25 - 2 records of 52 bytes are more than a 32-bit process holds.
  static constexpr unsigned kNumberBits = 25;
  static constexpr uint32_t kNumberMask = (1u << kNumberBits) - 1;

  // pins: those that looks without the lock hold; null keeps every
  // outgrown slot array until the index goes.
  explicit ClientIndex(ReaderPins* pins = nullptr) : pins_(pins) {}
  ~ClientIndex();
  ClientIndex(const ClientIndex&) = delete;
  ClientIndex& operator=(const ClientIndex&) = delete;

  Shard& ShardOf(uint64_t hash) { return shards_[hash >> (64 - kShardBits)]; }
  const Shard& ShardOf(uint64_t hash) const { return shards_[hash >> (64 - kShardBits)]; }
  // ShardOf a record: the shard whose lock guards it.
  Shard& ShardOf(const TClientListItem& c) { return ShardOf(c.ClientId.Hash()); }

  // Record returns record number n, or null while its slab is not there
  // (which only a look without the shard lock can meet).
  TClientListItem* Record(uint32_t number) const {
    const size_t k = SlabIndex(number);
    TClientListItem* const slab = slabs_[k].load(std::memory_order_acquire);
    return slab ? slab + (number - SlabStart(k)) : nullptr;
  }
  // Created counts the records made so far (some may still be under way).
  uint32_t Created() const { return next_number_.load(std::memory_order_relaxed); }
  // OrderByCreation sorts records of this index by when they were made.
  void OrderByCreation(std::vector<TClientListItem*>& records) const;

  // PrefetchSlot asks the cache for the index slot of a hash, without the
  // lock: at worst it fetches a line that is no longer used.
  void PrefetchSlot(uint64_t hash) const {
    const Shard& shard = ShardOf(hash);
    const uint32_t mask = shard.shared_mask.load(std::memory_order_acquire);
    const Slot* slots = shard.shared_slots.load(std::memory_order_seq_cst);
    if (slots) platform::Prefetch(slots + (static_cast<uint32_t>(hash) & mask));
  }

  // Candidate returns the record whose slot carries the hash's tag (the
  // client it most likely is), or null, without the shard lock: the index
  // may change meanwhile, so the caller checks the record under the lock.
  // Any record it returns belongs to the hash's shard.
  TClientListItem* Candidate(uint64_t hash) const {
    const Shard& shard = ShardOf(hash);
    const uint32_t mask = shard.shared_mask.load(std::memory_order_acquire);
    const Slot* slots = shard.shared_slots.load(std::memory_order_seq_cst);
    if (!slots) return nullptr;
    const uint32_t tag = TagOf(hash);
    uint32_t i = static_cast<uint32_t>(hash) & mask;
    // Bounded: with a mask older than the array the range may be full.
    for (uint32_t probes = 0; probes <= mask; ++probes, i = (i + 1) & mask) {
      const uint32_t slot = slots[i].load(std::memory_order_relaxed);
      if (slot == 0) return nullptr;
      if ((slot >> kNumberBits) == tag) return Record((slot & kNumberMask) - 1);
    }
    return nullptr;
  }

  // Find returns the client's record or null. Caller holds shard.mu.
  TClientListItem* Find(Shard& shard, const ClientIdView& id) const TARVEL_REQUIRES(shard.mu) {
    if (!shard.slots) return nullptr;
    const uint64_t hash = id.Hash();
    const uint32_t tag = TagOf(hash);
    for (uint32_t i = static_cast<uint32_t>(hash) & shard.mask;; i = (i + 1) & shard.mask) {
      const uint32_t slot = shard.slots[i].load(std::memory_order_relaxed);
      if (slot == 0) return nullptr;
      if ((slot >> kNumberBits) == tag) {
        TClientListItem* c = Record((slot & kNumberMask) - 1);
        if (c->ClientId.Equals(id)) return c;
      }
    }
  }

  // FindOrCreate looks the client up and makes its record when missing;
  // *created tells which. A new record's watches all wait (see
  // TTimeoutListItem) until the caller builds them, still under the lock.
  // A candidate (a record of this shard, or null) that is the client saves
  // the index walk: records never move and their IDs never change. Caller
  // holds shard.mu. Throws std::length_error past kNumberMask clients and
  // what allocation throws; nothing is then half made.
  [[gnu::always_inline]] TClientListItem* FindOrCreate(Shard& shard, const ClientIdView& id,
                                                       TClientListItem* candidate, bool* created)
      TARVEL_REQUIRES(shard.mu) {
    *created = false;
    if (candidate && candidate->ClientId.Equals(id)) return candidate;
    if (TClientListItem* c = Find(shard, id)) return c;
    *created = true;
    return Create(shard, id);
  }

  // ClientCount counts the clients filed in the shards.
  size_t ClientCount() TARVEL_EXCLUDES(slab_mu_);

  // ReleaseRetired gives back the blocks of outgrown slot arrays that no
  // look can still see. Never waits; cheap when there are none.
  void ReleaseRetired() TARVEL_EXCLUDES(slab_mu_);

  // Memory: what the index holds, in bytes: the record slabs, the slot
  // arrays in use, and the blocks the slot arrays are carved from that are
  // still held (those in use, outgrown ones not yet released and room not
  // yet used). Releases what it can first.
  struct Memory {
    size_t records = 0;
    size_t slots_in_use = 0;
    size_t slot_blocks = 0;
  };
  Memory MemoryUse() TARVEL_EXCLUDES(slab_mu_);

 private:
  static uint32_t TagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 40) & 0x7F; }

  static constexpr unsigned kFirstSlabBits = 10;
  static constexpr unsigned kBigSlabBits = 15;
  static constexpr size_t kSmallSlabs = kBigSlabBits - kFirstSlabBits + 1;
  static constexpr size_t kSlabs = kSmallSlabs + (kNumberMask >> kBigSlabBits);
  static size_t SlabIndex(uint32_t number) {
    if (number >> kBigSlabBits) return (number >> kBigSlabBits) + (kSmallSlabs - 1);
    return static_cast<size_t>(std::bit_width(number >> kFirstSlabBits));
  }
  static uint32_t SlabStart(size_t k) {
    if (k >= kSmallSlabs) return static_cast<uint32_t>(k - (kSmallSlabs - 1)) << kBigSlabBits;
    return k == 0 ? 0 : (1u << kFirstSlabBits) << (k - 1);
  }
  static size_t SlabRecords(size_t k) {
    if (k >= kSmallSlabs) return size_t{1} << kBigSlabBits;
    return k == 0 ? size_t{1} << kFirstSlabBits : (size_t{1} << kFirstSlabBits) << (k - 1);
  }
  static std::align_val_t SlabAlignment(size_t k);
  static size_t SlabBytes(size_t k);

  TClientListItem* Create(Shard& shard, const ClientIdView& id) TARVEL_REQUIRES(shard.mu)
      TARVEL_EXCLUDES(slab_mu_);
  static void Place(Shard& shard, uint64_t hash, uint32_t number) TARVEL_REQUIRES(shard.mu);
  void Grow(Shard& shard) TARVEL_REQUIRES(shard.mu) TARVEL_EXCLUDES(slab_mu_);
  uint32_t TakeNumber() TARVEL_EXCLUDES(slab_mu_);
  Slot* NewSlots(uint32_t capacity) TARVEL_EXCLUDES(slab_mu_);
  void Retire(Slot* slots) TARVEL_EXCLUDES(slab_mu_);
  void ReleasePassed() TARVEL_REQUIRES(slab_mu_);
  void AddSlab(size_t k) TARVEL_EXCLUDES(slab_mu_);

  // Slot arrays hold 16 << class slots; a shard's slots grow to 2^26 at most.
  static constexpr unsigned kSlotClasses = 23;
  struct SlotBlock {
    char* memory;
    size_t bytes;
    std::align_val_t align;
    uint32_t live;  // arrays carved from it and not released
    uint32_t size_class;
  };
  struct SlotClass {
    char* next = nullptr;  // room left in the class's newest block
    size_t room = 0;
    uint32_t carved = 0;  // arrays carved so far (one per shard at most)
  };
  struct RetiredSlots {
    Slot* slots;
    uint32_t stamp;  // of pins_, taken once the array was unpublished
  };
  static bool Within(const void* p, const SlotBlock& b);
  size_t BlockOf(const void* slots) const TARVEL_REQUIRES(slab_mu_);

  ReaderPins* const pins_;
  Shard shards_[kShards];
  std::atomic<uint32_t> next_number_{0};
  Mutex slab_mu_;  // held for the slot blocks, and to add record slabs
  std::atomic<TClientListItem*> slabs_[kSlabs] = {};
  std::vector<SlotBlock> slot_blocks_ TARVEL_GUARDED_BY(slab_mu_);
  SlotClass slot_classes_[kSlotClasses] TARVEL_GUARDED_BY(slab_mu_);
  std::vector<RetiredSlots> retired_ TARVEL_GUARDED_BY(slab_mu_);  // oldest first
  std::atomic<size_t> retired_count_{0};  // retired_.size(), read without the lock
};

}  // namespace tarvel
