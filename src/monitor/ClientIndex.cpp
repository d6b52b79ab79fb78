#include "monitor/ClientIndex.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "platform/memory.h"

namespace tarvel {

namespace {

// Big blocks ask for huge pages (platform::AdviseHugePages): clients are
// met at random, and with small pages most lookups of 10^6 clients miss the
// address translation caches. Where there are none to ask for, big blocks
// get no special alignment, which would only cost address space.
// Slot arrays are carved from blocks of this size (a huge page on Linux).
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugePageAlignment = platform::kHugePageBytes ? platform::kHugePageBytes : 64;

}  // namespace

bool ClientIndex::Within(const void* p, const SlotBlock& b) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  const auto start = reinterpret_cast<uintptr_t>(b.memory);
  return a >= start && a - start < b.bytes;
}

// Slabs start on a cache line; big ones on a huge page where the system
// has them, and then fill it, so that the records of 10^6 clients take few
// address translations.
std::align_val_t ClientIndex::SlabAlignment(size_t k) {
  return std::align_val_t{k >= kSmallSlabs ? kHugePageAlignment : 64};
}

size_t ClientIndex::SlabBytes(size_t k) {
  static_assert(platform::kHugePageBytes == 0 ||
                    (sizeof(TClientListItem) << kBigSlabBits) == platform::kHugePageBytes,
                "records fill the page");
  const size_t bytes = SlabRecords(k) * sizeof(TClientListItem);
  const size_t align = static_cast<size_t>(SlabAlignment(k));
  return (bytes + align - 1) / align * align;
}

void ClientIndex::OrderByCreation(std::vector<TClientListItem*>& records) const {
  if (records.size() < 2) return;
  // The slabs by address, so that each record finds its own by a binary
  // search: few slabs, many records.
  struct SlabSpan {
    const TClientListItem* begin;
    uint32_t first;
  };
  std::vector<SlabSpan> spans;
  for (size_t k = 0; k < kSlabs; ++k)
    if (const TClientListItem* slab = slabs_[k].load(std::memory_order_acquire))
      spans.push_back({slab, SlabStart(k)});
  std::sort(spans.begin(), spans.end(),
            [](const SlabSpan& a, const SlabSpan& b) { return std::less<>()(a.begin, b.begin); });
  std::vector<std::pair<uint32_t, TClientListItem*>> numbered;
  numbered.reserve(records.size());
  for (TClientListItem* r : records) {
    auto it = std::upper_bound(
        spans.begin(), spans.end(), r,
        [](const TClientListItem* p, const SlabSpan& s) { return std::less<>()(p, s.begin); });
    // Every record lies in a slab: the one that starts last before it.
    const SlabSpan& s = *std::prev(it);
    numbered.push_back({s.first + static_cast<uint32_t>(r - s.begin), r});
  }
  std::sort(numbered.begin(), numbered.end());
  for (size_t i = 0; i < records.size(); ++i) records[i] = numbered[i].second;
}

ClientIndex::~ClientIndex() {
  const uint32_t count = next_number_.load(std::memory_order_relaxed);
  for (uint32_t n = 0; n < count; ++n) Record(n)->~TClientListItem();
  for (size_t k = 0; k < kSlabs; ++k)
    if (TClientListItem* slab = slabs_[k].load(std::memory_order_relaxed))
      ::operator delete(slab, SlabAlignment(k));
  for (const SlotBlock& b : slot_blocks_) ::operator delete(b.memory, b.align);
}

void ClientIndex::ReleaseRetired() {
  if (retired_count_.load(std::memory_order_relaxed) == 0) return;
  MutexLock lock(slab_mu_);
  ReleasePassed();
}

size_t ClientIndex::ClientCount() {
  size_t n = 0;
  for (Shard& shard : shards_) {
    ShardHold lock(shard.mu);
    n += shard.size;
  }
  return n;
}

ClientIndex::Memory ClientIndex::MemoryUse() {
  ReleaseRetired();
  Memory m;
  for (Shard& shard : shards_) {
    ShardHold lock(shard.mu);
    if (shard.slots) m.slots_in_use += (size_t{shard.mask} + 1) * sizeof(Slot);
  }
  MutexLock lock(slab_mu_);
  for (size_t k = 0; k < kSlabs; ++k)
    if (slabs_[k].load(std::memory_order_relaxed)) m.records += SlabBytes(k);
  for (const SlotBlock& b : slot_blocks_) m.slot_blocks += b.bytes;
  return m;
}

[[gnu::noinline]] TClientListItem* ClientIndex::Create(Shard& shard, const ClientIdView& id) {
  // Make room first, so that a failed allocation leaves nothing half done.
  if (!shard.slots || (shard.size + 1) * 4 > (shard.mask + 1) * 3) Grow(shard);
  const uint32_t number = TakeNumber();
  TClientListItem* const place = Record(number);
  TClientListItem* c;
  try {
    c = new (place) TClientListItem(id);
  } catch (...) {
    // The number is spent: a record no index points to keeps the records
    // below next_number_ all constructed.
    const ClientIdView none;
    new (place) TClientListItem(none);
    throw;
  }
  Place(shard, id.Hash(), number);
  ++shard.size;
  // Arrays outgrown in calls that have ended wait for no tick: new clients
  // release them now and then.
  if ((number & 255) == 0 && retired_count_.load(std::memory_order_relaxed) != 0) ReleaseRetired();
  return c;
}

void ClientIndex::Place(Shard& shard, uint64_t hash, uint32_t number) {
  uint32_t i = static_cast<uint32_t>(hash) & shard.mask;
  while (shard.slots[i].load(std::memory_order_relaxed) != 0) i = (i + 1) & shard.mask;
  shard.slots[i].store((TagOf(hash) << kNumberBits) | (number + 1), std::memory_order_relaxed);
}

void ClientIndex::Grow(Shard& shard) {
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
  shard.shared_slots.store(shard.slots, std::memory_order_seq_cst);
  shard.shared_mask.store(shard.mask, std::memory_order_release);
  if (old && pins_) Retire(old);
}

uint32_t ClientIndex::TakeNumber() {
  uint32_t number = next_number_.load(std::memory_order_relaxed);
  do {
    if (number + 1 >= kNumberMask) throw std::length_error("too many clients");
    const size_t k = SlabIndex(number);
    if (!slabs_[k].load(std::memory_order_acquire)) AddSlab(k);
  } while (!next_number_.compare_exchange_weak(number, number + 1, std::memory_order_relaxed));
  return number;
}

// NewSlots returns a zeroed slot array, carved from a block of arrays of
// its capacity: at most 2 MiB (or one array), and no bigger than the arrays
// of the class that shards may still ask for, each shard growing through
// every class once.
ClientIndex::Slot* ClientIndex::NewSlots(uint32_t capacity) {
  const auto size_class = static_cast<uint32_t>(std::countr_zero(capacity) - 4);
  const size_t bytes = size_t{capacity} * sizeof(Slot);
  MutexLock lock(slab_mu_);
  // Room for the outgrown array, so that retiring it cannot fail: each
  // shard growing meanwhile retires one.
  if (pins_) retired_.reserve(retired_.size() + kShards);
  SlotClass& sc = slot_classes_[size_class];
  if (sc.room < bytes) {
    const size_t left = sc.carved < kShards ? kShards - sc.carved : 1;
    const size_t block = bytes * std::min(left, std::max<size_t>(1, kHugePage / bytes));
    slot_blocks_.reserve(slot_blocks_.size() + 1);
    const std::align_val_t align{block >= kHugePage ? kHugePageAlignment : alignof(Slot)};
    void* p = ::operator new(block, align);
    if (block >= kHugePage) platform::AdviseHugePages(p, block);
    slot_blocks_.push_back({static_cast<char*>(p), block, align, 0, size_class});
    sc.next = static_cast<char*>(p);
    sc.room = block;
  }
  Slot* const slots = reinterpret_cast<Slot*>(sc.next);
  for (uint32_t i = 0; i < capacity; ++i) new (slots + i) Slot(0);
  ++slot_blocks_[BlockOf(slots)].live;
  ++sc.carved;
  sc.next += bytes;
  sc.room -= bytes;
  return slots;
}

size_t ClientIndex::BlockOf(const void* slots) const {
  size_t k = 0;
  while (!Within(slots, slot_blocks_[k])) ++k;
  return k;
}

// Retire keeps an outgrown array, already replaced where looks find it,
// until the pins that may have found it are gone. Caller holds its shard's
// lock (and maybe a pin: then this array waits for a later call).
void ClientIndex::Retire(Slot* slots) {
  MutexLock lock(slab_mu_);
  retired_.push_back({slots, pins_->Stamp()});
  ReleasePassed();
}

// ReleasePassed releases the retired arrays whose stamps have passed, and
// the blocks left with none in use. Caller holds slab_mu_.
void ClientIndex::ReleasePassed() {
  size_t passed = 0;
  // Stamps only grow along the list: the first that has not passed ends it.
  while (passed < retired_.size() && pins_->Passed(retired_[passed].stamp)) {
    const size_t k = BlockOf(retired_[passed].slots);
    ++passed;
    SlotBlock& b = slot_blocks_[k];
    if (--b.live != 0) continue;
    SlotClass& sc = slot_classes_[b.size_class];
    if (sc.room != 0 && Within(sc.next, b)) {
      // Its room goes too; a later array of the class gets a block of its own.
      sc.next = nullptr;
      sc.room = 0;
    }
    ::operator delete(b.memory, b.align);
    b = slot_blocks_.back();
    slot_blocks_.pop_back();
  }
  retired_.erase(retired_.begin(), retired_.begin() + static_cast<ptrdiff_t>(passed));
  retired_count_.store(retired_.size(), std::memory_order_relaxed);
}

void ClientIndex::AddSlab(size_t k) {
  MutexLock lock(slab_mu_);
  if (slabs_[k].load(std::memory_order_relaxed)) return;
  const size_t bytes = SlabBytes(k);
  void* slab = ::operator new(bytes, SlabAlignment(k));
  if (k >= kSmallSlabs) platform::AdviseHugePages(slab, bytes);
  slabs_[k].store(static_cast<TClientListItem*>(slab), std::memory_order_release);
}

}  // namespace tarvel
