#include "monitor/ClientIndex.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tarvel {

namespace {

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

constexpr size_t kFirstSlotBlock = size_t{1} << 16;

}  // namespace

// Slabs start on a cache line; big ones on a huge page where the system
// has them, and then fill it, so that the records of 10^6 clients take few
// address translations.
std::align_val_t ClientIndex::SlabAlignment(size_t k) {
  return std::align_val_t{k >= kSmallSlabs ? kHugePageAlignment : 64};
}

size_t ClientIndex::SlabBytes(size_t k) {
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

size_t ClientIndex::ClientCount() {
  size_t n = 0;
  for (Shard& shard : shards_) {
    std::lock_guard<ShardLock> lock(shard.mu);
    n += shard.size;
  }
  return n;
}

ClientIndex::Memory ClientIndex::MemoryUse() {
  Memory m;
  for (Shard& shard : shards_) {
    std::lock_guard<ShardLock> lock(shard.mu);
    if (shard.slots) m.slots_in_use += (size_t{shard.mask} + 1) * sizeof(Slot);
  }
  std::lock_guard<std::mutex> lock(slab_mu_);
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
  shard.shared_slots.store(shard.slots, std::memory_order_release);
  shard.shared_mask.store(shard.mask, std::memory_order_release);
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

// NewSlots returns a zeroed slot array that lives as long as the index.
// The arrays of all shards share blocks, so that the index of many clients
// spans few huge pages.
ClientIndex::Slot* ClientIndex::NewSlots(uint32_t capacity) {
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

void ClientIndex::AddSlab(size_t k) {
  std::lock_guard<std::mutex> lock(slab_mu_);
  if (slabs_[k].load(std::memory_order_relaxed)) return;
  const size_t bytes = SlabBytes(k);
  void* slab = ::operator new(bytes, SlabAlignment(k));
  if (k >= kSmallSlabs) AdviseHugePages(slab, bytes);
  slabs_[k].store(static_cast<TClientListItem*>(slab), std::memory_order_release);
}

}  // namespace tarvel
