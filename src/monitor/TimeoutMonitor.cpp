#include "monitor/TimeoutMonitor.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/text.h"
#include "platform/thread.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tarvel {

namespace {

constexpr std::string_view kNewRowKey = "$new_row$";
constexpr std::string_view kClientIdItem = "CLIENTID-ITEM";
constexpr std::string_view kParserItem = "PARSER-ITEM";
constexpr uint8_t kLevelWarning = 1;
constexpr uint8_t kLevelNotice = 2;
// While the clients fit in the caches, fetching ahead costs more than it saves.
constexpr uint32_t kCachedClients = 16384;
// Rows go to their clients in batches of this many.
constexpr size_t kBatch = 32;

template <typename T>
T LoadBytes(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// SameBytes compares in words: names in data are short, and a byte loop
// costs more than the rest of an item's handling.
[[gnu::always_inline]] inline bool SameBytes(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8)
      if (LoadBytes<uint64_t>(p + i) != LoadBytes<uint64_t>(q + i)) return false;
    return LoadBytes<uint64_t>(p + n - 8) == LoadBytes<uint64_t>(q + n - 8);
  }
  if (n >= 4)
    return ((LoadBytes<uint32_t>(p) ^ LoadBytes<uint32_t>(q)) |
            (LoadBytes<uint32_t>(p + n - 4) ^ LoadBytes<uint32_t>(q + n - 4))) == 0;
  if (n == 0) return true;
  return p[0] == q[0] && p[n / 2] == q[n / 2] && p[n - 1] == q[n - 1];
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned x = static_cast<unsigned char>(a[i]);
    unsigned y = static_cast<unsigned char>(b[i]);
    if (x - 'A' < 26u) x += 'a' - 'A';
    if (y - 'A' < 26u) y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

// NameSignature: length, first and last byte of a key. Keys that differ in
// it cannot be equal, so most items are told apart from every watched name
// with integer compares.
uint64_t NameSignature(std::string_view key) {
  if (key.empty()) return 0;
  return (uint64_t{key.size()} << 16) | (uint64_t{static_cast<unsigned char>(key.front())} << 8) |
         static_cast<unsigned char>(key.back());
}

// AdviseHugePages asks for huge pages for a block aligned to one: clients
// are met at random, and with small pages most lookups of 10^6 clients miss
// the address translation caches. Only advice, and only where the system
// takes it; elsewhere big blocks get no special alignment, which would only
// cost address space.
constexpr size_t kHugePage = size_t{2} << 20;
#ifdef __linux__
constexpr size_t kHugePageAlignment = kHugePage;
void AdviseHugePages(void* block, size_t bytes) {
  madvise(block, bytes, MADV_HUGEPAGE);
}
#else
constexpr size_t kHugePageAlignment = 64;
void AdviseHugePages(void*, size_t) {}
#endif

std::string Joined(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + 2 + b.size());
  s.append(a).append(": ").append(b);
  return s;
}

TvopParamsList& FreshParams(ParamsListPtr& params) {
  if (params)
    params->Clear();
  else
    params = NewParamsList();
  return *params;
}

// ShardLock guards one shard: held for well under a microsecond per row,
// longer only while a sink call runs under it. A waiter spins briefly, then
// yields, then sleeps. Under ThreadSanitizer it is a plain mutex, so that
// lock order is checked too.
#if defined(__SANITIZE_THREAD__)
#define TARVEL_SHARD_MUTEX 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVEL_SHARD_MUTEX 1
#endif
#endif
#ifdef TARVEL_SHARD_MUTEX
using ShardLock = std::mutex;
#else
class ShardLock {
 public:
  void lock() {
    if (!locked_.exchange(true, std::memory_order_acquire)) return;
    LockSlow();
  }
  void unlock() { locked_.store(false, std::memory_order_release); }

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

}  // namespace

// ClientTable: the clients of one settings generation. Clients are spread
// over shards by the hash of their ID; a shard's lock guards its index, its
// records and their watches. Deadlines wait in one min-heap with at most one
// current entry per client (the one whose deadline matches the client's
// `scheduled`); others are left behind by changes and dropped when they
// surface. A client's current entry is never later than its earliest armed
// deadline: data only moves deadlines later, so a restart leaves the entry
// where it is and the entry is moved when it comes up.
class TimeoutMonitor::ClientTable {
 public:
  static constexpr unsigned kShardBits = 8;
  static constexpr size_t kShards = size_t{1} << kShardBits;

  using Slot = std::atomic<uint32_t>;
  struct alignas(64) Shard {
    ShardLock mu;
    // Index slots: 0 empty, else (hash tag << kNumberBits) | (record number
    // + 1). Four bytes, so that the index of 10^6 clients stays within the
    // caches' and the address translation's reach. Written under mu; read
    // without it (through shared_*) to find a row's record ahead of time.
    // Outgrown arrays stay (in the table's slot arena) until the table
    // goes, because a reader without the lock may still be walking them.
    Slot* slots = nullptr;  // guarded by mu
    uint32_t mask = 0;      // guarded by mu
    uint32_t size = 0;      // guarded by mu
    // slots and mask for readers without the lock. Grow publishes the array
    // before its mask, and a reader loads the mask first, so that a mask
    // never exceeds the array it is used with.
    std::atomic<const Slot*> shared_slots{nullptr};
    std::atomic<uint32_t> shared_mask{0};
  };

  struct HeapEntry {
    int64_t deadline;
    TClientListItem* client;
  };

  // NameKey: one key the intake looks for in items' lower-case names.
  static constexpr uint8_t kMarkerKey = 0xFF;  // the row marker's key
  static constexpr uint8_t kClientKey = 0xFE;  // the client variable's key
  struct NameKey {
    uint64_t signature;
    std::string_view text;
    uint8_t what;  // kMarkerKey, kClientKey or a watch index
  };

  explicit ClientTable(std::shared_ptr<const MonitorSettings> s)
      : settings_(std::move(s)),
        settings(*settings_),
        watch_count(settings.rows.size()),
        client_var_key(platform::AnsiLowerCase(settings.client_var)) {
    for (size_t w = 0; w < watch_count; ++w) timeout_ms[w] = settings.rows[w].timeout_ms;
    AddKey(kNewRowKey, kMarkerKey);
    if (settings.check_client) AddKey(client_var_key, kClientKey);
    // Only the first watch of a variable is ever fed: later rows with the
    // same name get no key.
    for (size_t w = 0; w < watch_count; ++w) {
      const std::string_view name = settings.rows[w].var_name;
      bool first = true;
      for (size_t k = 0; k < w; ++k) first = first && settings.rows[k].var_name != name;
      if (first) AddKey(name, static_cast<uint8_t>(w));
    }
    BuildKeyTable();
  }

  ~ClientTable() {
    const uint32_t count = next_seq.load(std::memory_order_relaxed);
    for (uint32_t n = 0; n < count; ++n) Record(n)->~TClientListItem();
    for (size_t k = 0; k < kSlabs; ++k)
      if (TClientListItem* slab = slabs_[k].load(std::memory_order_relaxed))
        ::operator delete(slab, SlabAlignment(k));
    for (const SlotBlock& b : slot_blocks_) ::operator delete(b.memory, b.align);
  }

  Shard& ShardOf(uint64_t hash) { return shards[hash >> (64 - kShardBits)]; }
  const Shard& ShardOf(uint64_t hash) const { return shards[hash >> (64 - kShardBits)]; }
  // A slot: 7 bits of tag, 25 of record number + 1. Record numbers count
  // the clients of the whole table in creation order (they are their seq),
  // and 2^25 - 2 clients of 64 bytes are more than a 32-bit process holds.
  static constexpr unsigned kNumberBits = 25;
  static constexpr uint32_t kNumberMask = (1u << kNumberBits) - 1;
  static uint32_t TagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 40) & 0x7F; }

  // Records live in slabs that never move: 1024 records, 1024, then
  // doubling up to 2 MiB (a huge page, where the system has them), then
  // 2 MiB each.
  static constexpr unsigned kFirstSlabBits = 10;
  static constexpr unsigned kBigSlabBits = 15;
  static constexpr size_t kBigSlabBytes = sizeof(TClientListItem) << kBigSlabBits;
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
  static_assert(kBigSlabBytes == kHugePage);
  static std::align_val_t SlabAlignment(size_t k) {
    return std::align_val_t{k >= kSmallSlabs ? kHugePageAlignment : alignof(TClientListItem)};
  }

  // Record returns record number n, or null while its slab is not there
  // (which only a reader without the shard lock can meet).
  TClientListItem* Record(uint32_t number) const {
    const size_t k = SlabIndex(number);
    TClientListItem* const slab = slabs_[k].load(std::memory_order_acquire);
    return slab ? slab + (number - SlabStart(k)) : nullptr;
  }

  // PrefetchSlot asks the cache for the index slot of a hash, without the
  // lock: at worst it fetches a line that is no longer used.
  void PrefetchSlot(uint64_t hash) {
    Shard& shard = ShardOf(hash);
    const uint32_t mask = shard.shared_mask.load(std::memory_order_acquire);
    const Slot* slots = shard.shared_slots.load(std::memory_order_acquire);
    if (slots) __builtin_prefetch(slots + (static_cast<uint32_t>(hash) & mask));
  }

  // Candidate returns the record whose slot carries the hash's tag (the
  // client it most likely is), or null, without the shard lock: the index
  // may change meanwhile, so the caller checks the record under the lock.
  // Any record it returns belongs to the hash's shard.
  TClientListItem* Candidate(uint64_t hash) const {
    const Shard& shard = ShardOf(hash);
    const uint32_t mask = shard.shared_mask.load(std::memory_order_acquire);
    const Slot* slots = shard.shared_slots.load(std::memory_order_acquire);
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

  TClientListItem* Find(Shard& shard, const ClientIdView& id) {
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

  // FindOrCreate looks the client up and creates it when missing (its
  // watches from the settings, started at now). Caller holds shard.mu.
  // A candidate (a record of this shard, or null) that is the client
  // saves the index walk: records never move and their IDs never change.
  [[gnu::always_inline]] TClientListItem* FindOrCreate(Shard& shard, const ClientIdView& id,
                                                       TClientListItem* candidate, int64_t now,
                                                       bool* created) {
    *created = false;
    if (candidate && candidate->ClientId.Equals(id)) return candidate;
    if (TClientListItem* c = Find(shard, id)) return c;
    *created = true;
    return Create(shard, id, now);
  }

  [[gnu::noinline]] TClientListItem* Create(Shard& shard, const ClientIdView& id, int64_t now) {
    // Make room first, so that a failed allocation leaves nothing half done.
    if (!shard.slots || (shard.size + 1) * 4 > (shard.mask + 1) * 3) Grow(shard);
    const uint32_t number = TakeNumber();
    TClientListItem* const place = Record(number);
    TClientListItem* c;
    try {
      c = new (place) TClientListItem(id, number);
    } catch (...) {
      // The number is spent: a record no index points to keeps the records
      // below next_seq all constructed.
      const ClientIdView none;
      new (place) TClientListItem(none, number);
      throw;
    }
    BuildWatches(settings, *c, now);
    Place(shard, id.Hash(), number);
    ++shard.size;
    return c;
  }

  // Rearm records a client's new earliest deadline after its watches
  // changed; before is the earliest it had (kNoDeadline for a new client).
  // Caller holds the client's shard lock.
  void Rearm(TClientListItem& c, int64_t before) {
    const int64_t earliest = EarliestDeadline(c, watch_count);
    c.earliest.store(earliest, std::memory_order_relaxed);
    // Later deadlines leave the heap entry as it is (it is then early, which
    // only costs a look when it comes up); an earlier one needs a new entry.
    if (earliest >= before) return;
    std::lock_guard<std::mutex> lock(heap_mu);
    PushLocked(c, earliest);
  }

  // Settle gives a client that the tick has taken out of the heap its
  // entry back, at its earliest deadline now.
  void Settle(TClientListItem& c) {
    std::lock_guard<std::mutex> lock(heap_mu);
    const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
    c.scheduled = TClientListItem::kNotScheduled;
    if (earliest != kNoDeadline) PushLocked(c, earliest);
  }

  // CollectDue takes out of the heap every client whose entry is due and
  // whose earliest deadline has passed; others get their entry moved to
  // their real earliest deadline. The taken clients keep `scheduled`, so
  // that data arriving meanwhile adds no entry for them unless it makes a
  // deadline earlier; the tick settles each one.
  void CollectDue(int64_t now, std::vector<TClientListItem*>& due) {
    std::lock_guard<std::mutex> lock(heap_mu);
    while (!heap.empty() && heap.front().deadline <= now) {
      const HeapEntry top = heap.front();
      TClientListItem& c = *top.client;
      const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
      const bool current = Current(top);
      // Listed before it leaves the heap, so a failed allocation loses no one.
      if (current && earliest <= now) due.push_back(&c);
      PopLocked();
      if (current && earliest > now) {
        c.scheduled = TClientListItem::kNotScheduled;
        if (earliest != kNoDeadline) PushLocked(c, earliest);
      }
    }
  }

  // EarliestPending returns the earliest armed deadline of all clients, or
  // kNoDeadline, moving entries left early by restarts to where they belong.
  int64_t EarliestPending() {
    std::lock_guard<std::mutex> lock(heap_mu);
    while (!heap.empty()) {
      const HeapEntry top = heap.front();
      TClientListItem& c = *top.client;
      if (!Current(top)) {
        PopLocked();
        continue;
      }
      const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
      // Smaller only for a moment while a data call is adding its entry.
      if (earliest <= top.deadline) return earliest;
      PopLocked();
      c.scheduled = TClientListItem::kNotScheduled;
      if (earliest != kNoDeadline) PushLocked(c, earliest);
    }
    return kNoDeadline;
  }

  size_t ClientCount() {
    size_t n = 0;
    for (Shard& shard : shards) {
      std::lock_guard<ShardLock> lock(shard.mu);
      n += shard.size;
    }
    return n;
  }

 private:
  static bool Later(const HeapEntry& a, const HeapEntry& b) { return a.deadline > b.deadline; }
  static bool Current(const HeapEntry& e) {
    return static_cast<uint32_t>(e.deadline) == e.client->scheduled;
  }

  void PushLocked(TClientListItem& c, int64_t deadline) {
    heap.push_back({deadline, &c});
    std::push_heap(heap.begin(), heap.end(), Later);
    c.scheduled = static_cast<uint32_t>(deadline);
  }

  HeapEntry PopLocked() {
    std::pop_heap(heap.begin(), heap.end(), Later);
    HeapEntry e = heap.back();
    heap.pop_back();
    return e;
  }

  void AddKey(std::string_view text, uint8_t what) {
    const unsigned bit = 1u << key_count;
    if (what == kMarkerKey)
      marker_keys |= bit;
    else if (what == kClientKey)
      client_keys |= bit;
    else
      watch_keys |= bit;
    keys[key_count++] = {NameSignature(text), text, what};
  }

  // BuildKeyTable files the keys by signature so that distinct signatures
  // have distinct entries: odd multipliers are tried until one spreads them
  // so, which for a handful of keys in 64 entries takes a few tries.
  void BuildKeyTable() {
    uint64_t m = 0x9e3779b97f4a7c15ULL;
    for (int tries = 0; tries < 1000; ++tries, m = client_hash::Mix(m) | 1) {
      key_multiplier = m;
      bool distinct = true;
      for (KeyEntry& e : key_table) e = KeyEntry{};
      for (size_t k = 0; k < key_count && distinct; ++k) {
        KeyEntry& e = key_table[KeySlot(keys[k].signature)];
        distinct = e.keys == 0 || e.signature == keys[k].signature;
        e.signature = keys[k].signature;
        e.keys |= 1u << k;
      }
      if (distinct) return;
    }
    key_multiplier = 0;  // MatchKeys then compares with every key
  }

  static void Place(Shard& shard, uint64_t hash, uint32_t number) {
    uint32_t i = static_cast<uint32_t>(hash) & shard.mask;
    while (shard.slots[i].load(std::memory_order_relaxed) != 0) i = (i + 1) & shard.mask;
    shard.slots[i].store((TagOf(hash) << kNumberBits) | (number + 1), std::memory_order_relaxed);
  }

  void Grow(Shard& shard) {
    const uint32_t capacity = shard.slots ? (shard.mask + 1) * 2 : 16;
    Slot* const old = std::exchange(shard.slots, NewSlots(capacity));
    const uint32_t old_size = old ? shard.mask + 1 : 0;
    shard.mask = capacity - 1;
    for (uint32_t i = 0; i < old_size; ++i) {
      const uint32_t slot = old[i].load(std::memory_order_relaxed);
      if (slot == 0) continue;
      const uint32_t number = (slot & kNumberMask) - 1;
      Place(shard, Record(number)->ClientId.Hash(), number);
    }
    shard.shared_slots.store(shard.slots, std::memory_order_release);
    shard.shared_mask.store(shard.mask, std::memory_order_release);
  }

  // TakeNumber spends the next record number, once its slab exists.
  uint32_t TakeNumber() {
    uint32_t number = next_seq.load(std::memory_order_relaxed);
    do {
      if (number + 1 >= kNumberMask) throw std::length_error("too many clients");
      const size_t k = SlabIndex(number);
      if (!slabs_[k].load(std::memory_order_acquire)) AddSlab(k);
    } while (!next_seq.compare_exchange_weak(number, number + 1, std::memory_order_relaxed));
    return number;
  }

  // NewSlots returns a zeroed slot array that lives as long as the table.
  // The arrays of all shards share blocks, so that the index of many
  // clients spans few huge pages.
  Slot* NewSlots(uint32_t capacity) {
    std::lock_guard<std::mutex> lock(slab_mu_);
    const size_t bytes = size_t{capacity} * sizeof(Slot);
    if (bytes > slot_room_) {
      const size_t block = std::max(
          bytes, std::min(slot_blocks_.empty() ? kFirstSlotBlock : slot_blocks_.back().bytes * 2,
                          kHugePage));
      slot_blocks_.reserve(slot_blocks_.size() + 1);
      const std::align_val_t align{block >= kHugePage ? kHugePageAlignment : alignof(Slot)};
      void* p = ::operator new(block, align);
      if (block >= kHugePage) AdviseHugePages(p, block);
      slot_blocks_.push_back({p, block, align});
      slot_next_ = static_cast<char*>(p);
      slot_room_ = block;
    }
    Slot* const slots = reinterpret_cast<Slot*>(slot_next_);
    for (uint32_t i = 0; i < capacity; ++i) new (slots + i) Slot(0);
    slot_next_ += bytes;
    slot_room_ -= bytes;
    return slots;
  }

  void AddSlab(size_t k) {
    std::lock_guard<std::mutex> lock(slab_mu_);
    if (slabs_[k].load(std::memory_order_relaxed)) return;
    const size_t bytes = SlabRecords(k) * sizeof(TClientListItem);
    void* slab = ::operator new(bytes, SlabAlignment(k));
    if (bytes == kBigSlabBytes) AdviseHugePages(slab, bytes);
    slabs_[k].store(static_cast<TClientListItem*>(slab), std::memory_order_release);
  }

  struct SlotBlock {
    void* memory;
    size_t bytes;
    std::align_val_t align;
  };
  static constexpr size_t kFirstSlotBlock = size_t{1} << 16;
  std::mutex slab_mu_;  // guards the slot arena; adds record slabs
  std::atomic<TClientListItem*> slabs_[kSlabs] = {};
  std::vector<SlotBlock> slot_blocks_;  // guarded by slab_mu_
  char* slot_next_ = nullptr;           // guarded by slab_mu_
  size_t slot_room_ = 0;                // guarded by slab_mu_

  const std::shared_ptr<const MonitorSettings> settings_;

 public:
  const MonitorSettings& settings;
  const size_t watch_count;
  const std::string client_var_key;  // the key items named like the client variable have
  int64_t timeout_ms[MonitorSettings::kMaxRows] = {};  // of the settings rows
  // The keys, the marker's first, then the client variable's, then watches.
  NameKey keys[2 + MonitorSettings::kMaxRows];
  size_t key_count = 0;
  unsigned marker_keys = 0, client_keys = 0, watch_keys = 0;  // bits of keys
  // The keys by signature (see BuildKeyTable).
  struct KeyEntry {
    uint64_t signature = ~uint64_t{0};  // no name has this one
    unsigned keys = 0;                  // bits of the keys with the signature
  };
  static constexpr unsigned kKeySlotBits = 6;
  KeyEntry key_table[1u << kKeySlotBits];
  uint64_t key_multiplier = 0;
  unsigned KeySlot(uint64_t signature) const {
    return static_cast<unsigned>((signature * key_multiplier) >> (64 - kKeySlotBits));
  }

  // MatchKeys returns the bits of the keys a lower-case name equals.
  unsigned MatchKeys(std::string_view low) const {
    const uint64_t signature = NameSignature(low);
    unsigned candidates = 0;
    if (key_multiplier != 0) [[likely]] {
      const KeyEntry& e = key_table[KeySlot(signature)];
      if (e.signature != signature) return 0;
      candidates = e.keys;
    } else {
      for (size_t k = 0; k < key_count; ++k)
        if (keys[k].signature == signature) candidates |= 1u << k;
    }
    // Equal signatures of up to 2 bytes are equal names.
    if (low.size() <= 2) return candidates;
    unsigned matched = 0;
    for (; candidates != 0; candidates &= candidates - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(candidates));
      if (SameBytes(keys[k].text, low)) matched |= 1u << k;
    }
    return matched;
  }
  Shard shards[kShards];
  std::atomic<uint32_t> next_seq{0};
  std::mutex heap_mu;
  std::vector<HeapEntry> heap;  // guarded by heap_mu

  std::shared_ptr<const MonitorSettings> SettingsPtr() const { return settings_; }
};

// PendingRow: one complete row of a data portion, waiting for its client.
struct TimeoutMonitor::PendingRow {
  const Variant* client_id = nullptr;
  ClientIdView id;
  // Watches fed, in the order of their variables: the i-th one's number in
  // byte i.
  uint32_t fed = 0;
  static_assert(MonitorSettings::kMaxRows <= sizeof fed);
  uint8_t fed_count = 0;
  // The record the index pointed to when it was fetched ahead, or null.
  TClientListItem* candidate = nullptr;
};

// FireContext: what one tick reuses for every event it raises.
struct TimeoutMonitor::FireContext {
  FireContext(const MonitorSettings& s, const MonitorTexts& t) : texts(t) {
    params->Add(kClientIdItem, OleVariant::Null());
    params->Add(kParserItem, OleVariant::Null());
    for (const MonitorSettings::Row& row : s.rows) {
      parser_values.emplace_back(std::string_view(row.var_name));
      generating_lines.push_back(Joined(texts.generating_event, row.event_name));
    }
  }
  const MonitorTexts& texts;
  ParamsListPtr params = NewParamsList();
  std::vector<OleVariant> parser_values;      // per row: PARSER-ITEM
  std::vector<std::string> generating_lines;  // per row: the log line after its event
  std::string timeout_line;                   // of the client being fired
};

namespace {
std::shared_ptr<const MonitorSettings> OrDefaults(std::shared_ptr<const MonitorSettings> s) {
  return s ? std::move(s) : std::make_shared<const MonitorSettings>();
}
}  // namespace

TimeoutMonitor::TimeoutMonitor(MonitorSink& sink, MonitorTimer& timer,
                               std::shared_ptr<const MonitorSettings> settings, MonitorTexts texts)
    : sink_(sink),
      timer_(timer),
      table_(std::make_shared<ClientTable>(OrDefaults(std::move(settings)))),
      texts_(std::make_shared<const MonitorTexts>(std::move(texts))) {}

TimeoutMonitor::~TimeoutMonitor() = default;

TimeoutMonitor::Snapshot TimeoutMonitor::Current() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {table_, texts_};
}

void TimeoutMonitor::ReplaceSettings(std::shared_ptr<const MonitorSettings> settings) {
  auto fresh = std::make_shared<ClientTable>(OrDefaults(std::move(settings)));
  std::shared_ptr<ClientTable> old;
  {
    std::lock_guard<std::mutex> lock(mu_);
    old = std::exchange(table_, std::move(fresh));
  }
  ScheduleCheck();
  // The old clients go with the last data call or tick that still uses them.
  old.reset();
}

void TimeoutMonitor::ClearClients() {
  ReplaceSettings(Settings());
}

std::shared_ptr<const MonitorSettings> TimeoutMonitor::Settings() const {
  std::lock_guard<std::mutex> lock(mu_);
  return table_->SettingsPtr();
}

void TimeoutMonitor::SetTexts(MonitorTexts texts) {
  auto fresh = std::make_shared<const MonitorTexts>(std::move(texts));
  std::lock_guard<std::mutex> lock(mu_);
  texts_ = std::move(fresh);
}

size_t TimeoutMonitor::ClientCount() const {
  return Current().table->ClientCount();
}

std::optional<WatchStatus> TimeoutMonitor::FindWatch(const OleVariant& client_id,
                                                     size_t row) const {
  Snapshot snap = Current();
  ClientTable& t = *snap.table;
  if (row >= t.watch_count) return std::nullopt;
  ClientIdView id;
  id.Assign(client_id.Raw());
  ClientTable::Shard& shard = t.ShardOf(id.Hash());
  std::lock_guard<ShardLock> lock(shard.mu);
  const TClientListItem* c = t.Find(shard, id);
  if (!c) return std::nullopt;
  const TTimeoutListItem& w = c->Watches[row];
  return WatchStatus{w.Has(TTimeoutListItem::kWaitingForData), w.Has(TTimeoutListItem::kTimedOut),
                     w.Has(TTimeoutListItem::kFired), w.Deadline()};
}

void TimeoutMonitor::ProcessData(const TvopParamsList* data) {
  struct RescheduleOnFailure {
    TimeoutMonitor& monitor;
    int exceptions = std::uncaught_exceptions();
    ~RescheduleOnFailure() {
      if (std::uncaught_exceptions() == exceptions) return;
      try {
        monitor.ScheduleCheck();
      } catch (...) {
        // The first failure is the one that reaches the caller.
      }
    }
  } reschedule{*this};

  if (data && data->Count > 0 && data->items) {
    Snapshot snap = Current();
    ClientTable& t = *snap.table;
    const MonitorSettings& s = t.settings;
    const int64_t now = clock_.Now();
    const int32_t count = data->Count;
    ParamsListPtr params;
    // Rows go to their clients in batches, so that the memory of several
    // clients is fetched at once rather than one after the other.
    const bool prefetch = t.next_seq.load(std::memory_order_relaxed) > kCachedClients;
    // Rows are built when first used: most portions are a few rows, and a
    // row holds a string.
    struct Batch {
      alignas(PendingRow) unsigned char bytes[kBatch][sizeof(PendingRow)];
      size_t built = 0;
      PendingRow* Rows() { return std::launder(reinterpret_cast<PendingRow*>(bytes)); }
      PendingRow& Get(size_t i) {
        if (i == built) {
          new (bytes[i]) PendingRow();
          ++built;
        }
        return Rows()[i];
      }
      ~Batch() {
        for (size_t i = 0; i < built; ++i) Rows()[i].~PendingRow();
      }
    } batch;
    size_t pending = 0;
    // The row being read is kept in locals, so that the key tables stay in
    // registers through the walk.
    const Variant* client_id = nullptr;
    uint32_t fed = 0;  // watch numbers in the order of their variables, a byte each
    unsigned fed_count = 0;
    unsigned seen = 0;  // bits of the watch keys met in the row
    const std::string_view client_var = s.client_var;
    const unsigned marker_keys = t.marker_keys, client_keys = t.client_keys,
                   watch_keys = t.watch_keys;
    TvopParamsListItem* const* items = data->items;
    for (int32_t i = 0; i < count; ++i) {
      const TvopParamsListItem* item = items[i];
      bool row_end = i == count - 1;
      if (item) {
        // The lower-case key is read for every item and matched against the
        // keys; the name itself only when the key says it may be the marker
        // or the client variable (both have keys of their own: the ANSI
        // lower case of the name).
        const unsigned matched = t.MatchKeys(item->LowNameView());
        if (matched != 0) {
          if (matched & marker_keys) {
            row_end = row_end || SameBytes(item->NameView(), kNewRowMarker);
          } else if (matched & client_keys) {
            const std::string_view name = item->NameView();
            if (SameBytes(name, client_var) || EqualsIgnoringAsciiCase(name, client_var))
              client_id = &item->Value;
          }
          // Watch keys are distinct names: at most one matches.
          if (const unsigned watch = matched & watch_keys) {
            if (!(seen & watch)) {
              seen |= watch;
              fed |= unsigned{t.keys[__builtin_ctz(watch)].what} << (8 * fed_count++);
            }
          }
        }
      }
      if (!row_end) continue;
      PendingRow& row = batch.Get(pending);
      row.client_id = client_id;
      if (client_id)
        row.id.Assign(*client_id);
      else
        row.id.SetNull();
      row.fed = fed;
      row.fed_count = static_cast<uint8_t>(fed_count);
      row.candidate = nullptr;
      client_id = nullptr;
      fed = 0;
      fed_count = 0;
      seen = 0;
      // Asked for now, the index slot is in the cache when the batch runs.
      if (prefetch) t.PrefetchSlot(row.id.Hash());
      if (++pending == kBatch) {
        ProcessRows(t, *snap.texts, batch.Rows(), pending, now, params);
        pending = 0;
      }
    }
    ProcessRows(t, *snap.texts, batch.Rows(), pending, now, params);
  }
  ScheduleCheck();
}

void TimeoutMonitor::ProcessRows(ClientTable& t, const MonitorTexts& texts, PendingRow* rows,
                                 size_t count, int64_t now, ParamsListPtr& params) {
  if (t.next_seq.load(std::memory_order_relaxed) > kCachedClients) Prefetch(t, rows, count);
  for (size_t r = 0; r < count; ++r) ProcessRow(t, texts, rows[r], now, params);
}

void TimeoutMonitor::Prefetch(const ClientTable& t, PendingRow* rows, size_t count) {
  // Every record of the batch is looked up and asked for before the first
  // shard lock: a locked instruction waits for the loads before it, so
  // misses between locks would be taken one at a time. The lookup takes no
  // lock; a record stays where it is for the table's lifetime, and the
  // row's turn checks under the lock that it is the client.
  for (size_t r = 0; r < count; ++r) {
    rows[r].candidate = t.Candidate(rows[r].id.Hash());
    if (rows[r].candidate) __builtin_prefetch(rows[r].candidate, 1);
  }
}

void TimeoutMonitor::ProcessRow(ClientTable& t, const MonitorTexts& texts, PendingRow& row,
                                int64_t now, ParamsListPtr& params) {
  const MonitorSettings& s = t.settings;
  ClientTable::Shard& shard = t.ShardOf(row.id.Hash());
  std::lock_guard<ShardLock> lock(shard.mu);
  bool created = false;
  TClientListItem& c = *t.FindOrCreate(shard, row.id, row.candidate, now, &created);
  const int64_t before = created ? kNoDeadline : c.earliest.load(std::memory_order_relaxed);
  if (row.fed_count == 0 && !created) return;
  try {
    for (size_t i = 0; i < row.fed_count; ++i) {
      const unsigned n = (row.fed >> (8 * i)) & 0xFF;
      TTimeoutListItem& w = c.Watches[n];
      if (w.Has(TTimeoutListItem::kTimedOut) && s.event_resume)
        RaiseResume(s.rows[n], s, texts, row.client_id, params);
      w.Restart(now, t.timeout_ms[n]);
    }
  } catch (...) {
    // The watches restarted so far still need their deadline recorded.
    try {
      t.Rearm(c, before);
    } catch (...) {
    }
    throw;
  }
  t.Rearm(c, before);
}

void TimeoutMonitor::RaiseResume(const MonitorSettings::Row& row, const MonitorSettings& s,
                                 const MonitorTexts& texts, const Variant* client_id,
                                 ParamsListPtr& params) {
  std::string name = row.event_name + s.resume_suffix;
  if (name.empty()) return;
  sink_.SendLog(kLevelNotice, Joined(texts.generating_event, name));
  TvopParamsList& list = FreshParams(params);
  list.Add(kClientIdItem, client_id ? OleVariant::CopyOf(*client_id) : OleVariant::Null());
  list.Add(kParserItem, OleVariant(std::string_view(row.var_name)));
  sink_.RaiseEvent(false, name, &list);
}

void TimeoutMonitor::ChkTimeoutsTimer() {
  {
    std::lock_guard<std::mutex> lock(schedule_mu_);
    timer_.StopTicks();
    timer_armed_ = false;
    tick_running_ = true;
  }
  Snapshot snap = Current();
  ClientTable& t = *snap.table;
  std::vector<TClientListItem*> due;
  size_t next = 0;  // due[next..] have not been reached
  try {
    std::unique_ptr<FireContext> context;
    // Deadlines that pass while a tick raises its events are taken at once
    // by another pass, rather than 10 ms later; the passes are few, so a
    // flood of timeouts cannot keep the tick from returning.
    constexpr int kPasses = 3;
    for (int pass = 0; pass < kPasses; ++pass) {
      due.clear();
      next = 0;
      t.CollectDue(clock_.Now(), due);
      if (due.empty()) {
        // One more look if a deadline passed since the collection.
        if (t.EarliestPending() <= clock_.Now()) continue;
        break;
      }
      std::sort(due.begin(), due.end(),
                [](const TClientListItem* a, const TClientListItem* b) { return a->seq < b->seq; });
      due.erase(std::unique(due.begin(), due.end()), due.end());
      if (!context) context = std::make_unique<FireContext>(t.settings, *snap.texts);
      while (next < due.size()) FireClient(t, *context, *due[next++]);
    }
  } catch (...) {
    // Clients taken out of the heap but not reached go back, and the timer
    // runs on: one failing event must not silence every other watch. The
    // client that failed has settled itself.
    try {
      for (size_t k = next; k < due.size(); ++k) t.Settle(*due[k]);
      Schedule(true);
    } catch (...) {
    }
    throw;
  }
  Schedule(true);
}

void TimeoutMonitor::FireClient(ClientTable& t, FireContext& context, TClientListItem& c) {
  const MonitorSettings& s = t.settings;
  std::lock_guard<ShardLock> lock(t.ShardOf(c.ClientId.Hash()).mu);
  struct SettleOnExit {
    ClientTable& t;
    TClientListItem& c;
    ~SettleOnExit() noexcept(false) {
      c.earliest.store(EarliestDeadline(c, t.watch_count), std::memory_order_relaxed);
      if (std::uncaught_exceptions() == 0) {
        t.Settle(c);
        return;
      }
      try {
        t.Settle(c);
      } catch (...) {
      }
    }
  } settle{t, c};

  const int64_t now = clock_.Now();
  bool prepared = false;
  for (size_t i = 0; i < t.watch_count; ++i) {
    TTimeoutListItem& w = c.Watches[i];
    if (!w.Armed() || w.Deadline() > now) continue;
    const MonitorSettings::Row& row = s.rows[i];
    // The mark stays until data comes, also when the event repeats, so the
    // returning variable raises its resume event once.
    if (s.event_once)
      w.Set(w.Deadline(), TTimeoutListItem::kTimedOut | TTimeoutListItem::kFired);
    else
      w.Set(now + row.timeout_ms, TTimeoutListItem::kTimedOut);
    if (!prepared) {
      const std::string id_text = c.ClientId.ToText();
      context.timeout_line =
          id_text.empty() ? context.texts.timeout : Joined(context.texts.timeout, id_text);
      c.ClientId.MoveInto(&context.params->Item(0)->Value);
      prepared = true;
    }
    sink_.SendLog(kLevelWarning, context.timeout_line);
    if (row.event_name.empty()) continue;
    OleVariant::CopyInto(&context.params->Item(1)->Value, context.parser_values[i].Raw());
    sink_.RaiseEvent(false, row.event_name, context.params.get());
    sink_.SendLog(kLevelWarning, context.generating_lines[i]);
  }
}

uint32_t TimeoutMonitor::ScheduleCheck() {
  return Schedule(false);
}

uint32_t TimeoutMonitor::Schedule(bool ending_tick) {
  std::lock_guard<std::mutex> lock(schedule_mu_);
  if (ending_tick) tick_running_ = false;
  const std::shared_ptr<ClientTable> table = Current().table;
  const int64_t earliest = table->EarliestPending();
  const int64_t now = clock_.Now();
  uint32_t interval;
  int64_t target;
  bool overdue = false;
  if (earliest == kNoDeadline) {
    interval = kIdleIntervalMs;
    target = kNoDeadline;
  } else if (earliest <= now) {
    interval = kOverdueIntervalMs;
    target = now + interval;
    overdue = true;
  } else {
    interval = static_cast<uint32_t>(std::min<int64_t>(earliest - now, kMaxIntervalMs));
    target = now + interval;
  }
  // While a tick runs, it sets the timer itself when it ends, from what it
  // sees then (this call's changes included).
  const bool keep =
      tick_running_ ||
      (timer_armed_ && (target == armed_target_ ||
                        (overdue && armed_target_ != kNoDeadline && armed_target_ <= target)));
  if (!keep) {
    timer_.ScheduleTick(interval);
    timer_armed_ = true;
    armed_target_ = target;
  }
  return interval;
}

}  // namespace tarvel
