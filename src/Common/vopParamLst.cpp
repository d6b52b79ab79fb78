#include "Common/vopParamLst.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "Common/Assert.h"
#include "Common/Text.h"
#include "Common/ThreadSafety.h"
#include "platform/text.h"
#include "platform/thread.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVEL_ASAN 1
#endif
#endif
#ifdef TARVEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace tarvel {

namespace {
constexpr const char* kSource = "Common/vopParamLst";
constexpr int kLineItemWrite = 144;
constexpr int kLineIndexOf = 189;
constexpr int kLineAddList = 407;

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// Names the module gives item after item (every queued event repeats
// them) share one copy that is never freed: a constant reference count is
// what a literal of the host's runtime carries, so sharing it is safe.
struct ConstantName {
  int32_t ref_count;
  int32_t length;
  char chars[16];
};
constexpr ConstantName MakeConstant(std::string_view text) {
  ConstantName c{-1, static_cast<int32_t>(text.size()), {}};
  for (size_t i = 0; i < text.size(); ++i) c.chars[i] = text[i];
  return c;
}
// Each name with its key (its ANSI lower case, which for these ASCII names
// is their ASCII lower case).
struct ConstantPair {
  ConstantName name;
  ConstantName key;
};
constexpr ConstantPair kConstantNames[] = {
    {MakeConstant(kNewRowMarker), MakeConstant("$new_row$")},
    {MakeConstant("EVENT-TYPE"), MakeConstant("event-type")},
    {MakeConstant("EVENT-GLOBAL"), MakeConstant("event-global")},
    {MakeConstant("CLIENTID-ITEM"), MakeConstant("clientid-item")},
    {MakeConstant("PARSER-ITEM"), MakeConstant("parser-item")},
};

bool IsConstantName(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  return p >= reinterpret_cast<const unsigned char*>(kConstantNames) &&
         p < reinterpret_cast<const unsigned char*>(kConstantNames + std::size(kConstantNames));
}

// FindConstantName returns the pair whose name is exactly name, or null.
const ConstantPair* FindConstantName(std::string_view name) {
  for (const ConstantPair& c : kConstantNames) {
    if (static_cast<size_t>(c.name.length) == name.size() &&
        std::memcmp(c.name.chars, name.data(), name.size()) == 0)
      return &c;
  }
  return nullptr;
}

void FreeName(char* s) {
  if (!IsConstantName(s)) AnsiStrFree(s);
}

// Freed items wait here for the next ones: the event queue is filled and
// emptied over and over, and the system's allocator (the Windows heap
// above all) costs more than the rest of queuing an event. At most
// kCachedItems wait, a little more than a full event queue; the rest go
// back to the system. Freed items are chained through their first word.
// The cache is trivially destructible, so it outlives every list;
// ReleaseCachedListItems gives the memory back, and at process exit the
// cache closes: what waits is freed and later frees skip it, so a process
// that never shuts the module down leaves nothing behind. Under AddressSanitizer a
// waiting item is poisoned, so that a use after its free is still caught.
constexpr uint32_t kCachedItems = 20480;
#ifdef TARVEL_ASAN
void Poison(TvopParamsListItem* item) {
  __asan_poison_memory_region(item, sizeof *item);
}
void Unpoison(TvopParamsListItem* item) {
  __asan_unpoison_memory_region(item, sizeof *item);
}
#else
void Poison(TvopParamsListItem*) {}
void Unpoison(TvopParamsListItem*) {}
#endif
TvopParamsListItem* NextOf(TvopParamsListItem* item) {
  Unpoison(item);
  return *reinterpret_cast<TvopParamsListItem**>(item);
}
// A spin lock rather than a mutex: held for a few instructions, and it
// needs no construction, so the cache is ready before any static
// initialiser makes a list.
class TARVEL_CAPABILITY("mutex") CacheLock {
 public:
  void lock() TARVEL_ACQUIRE() {
    while (held_.exchange(true, std::memory_order_acquire)) platform::YieldThread();
  }
  bool try_lock() TARVEL_TRY_ACQUIRE(true) {
    return !held_.exchange(true, std::memory_order_acquire);
  }
  void unlock() TARVEL_RELEASE() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};
struct ItemCache {
  CacheLock mu;
  TvopParamsListItem* head TARVEL_GUARDED_BY(mu) = nullptr;
  uint32_t count TARVEL_GUARDED_BY(mu) = 0;
  bool closed TARVEL_GUARDED_BY(mu) = false;
};
constinit ItemCache g_item_cache;
using CacheHold = BasicMutexLock<CacheLock>;

TvopParamsListItem* AllocateItem() {
  {
    CacheHold lock(g_item_cache.mu);
    if (TvopParamsListItem* item = g_item_cache.head) {
      g_item_cache.head = NextOf(item);
      --g_item_cache.count;
      std::memset(static_cast<void*>(item), 0, sizeof *item);
      return item;
    }
  }
  auto* item = static_cast<TvopParamsListItem*>(std::calloc(1, sizeof(TvopParamsListItem)));
  if (!item) throw std::bad_alloc();
  return item;
}

void ReleaseItem(TvopParamsListItem* item) {
  {
    CacheHold lock(g_item_cache.mu);
    if (!g_item_cache.closed && g_item_cache.count < kCachedItems) {
      *reinterpret_cast<TvopParamsListItem**>(item) = g_item_cache.head;
      Poison(item);
      g_item_cache.head = item;
      ++g_item_cache.count;
      return;
    }
  }
  std::free(item);
}

// NewItem makes an item holding name and the value moved out of *value
// (never 8-bit text: Add has converted it).
TvopParamsListItem* NewItem(std::string_view name, Variant* value) {
  TvopParamsListItem* item = AllocateItem();
  try {
    item->class_ref = &kParamsListItemClass;
    platform::VariantInit(&item->Value);
    if (const ConstantPair* c = FindConstantName(name)) {
      item->Name = const_cast<char*>(c->name.chars);
      item->LowName = const_cast<char*>(c->key.chars);
    } else {
      item->Name = AnsiStrNew(name);
      item->LowName = AnsiStrNew(platform::AnsiLowerCase(name));
    }
    item->Value = *value;
    platform::VariantInit(value);
    item->State = kItemStateModule;
  } catch (...) {
    FreeName(item->Name);
    FreeName(item->LowName);
    ReleaseItem(item);
    throw;
  }
  return item;
}

void FreeItem(TvopParamsListItem* item) {
  if (!item) return;
  OleVariant::ClearRaw(&item->Value);
  FreeName(item->Name);
  FreeName(item->LowName);
  ReleaseItem(item);
}
}  // namespace

namespace {
void FreeChain(TvopParamsListItem* head) {
  while (head) {
    TvopParamsListItem* next = NextOf(head);
    std::free(head);
    head = next;
  }
}

// Destroyed with this file's statics: lists of statics destroyed earlier
// come back into the cache and are freed here, later ones are freed at once.
// At process exit Windows ends the other threads wherever they are, perhaps
// holding the cache's lock; the closer then leaves the items to the system
// rather than wait for ever.
struct ItemCacheCloser {
  ~ItemCacheCloser() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
      if (g_item_cache.mu.try_lock()) {
        TvopParamsListItem* head;
        {
          CacheHold held(g_item_cache.mu, kAdoptLock);
          head = std::exchange(g_item_cache.head, nullptr);
          g_item_cache.count = 0;
          g_item_cache.closed = true;
        }
        FreeChain(head);
        return;
      }
      platform::YieldThread();
    }
  }
};
ItemCacheCloser g_item_cache_closer;
}  // namespace

void ReleaseCachedListItems() {
  TvopParamsListItem* head;
  {
    CacheHold lock(g_item_cache.mu);
    head = std::exchange(g_item_cache.head, nullptr);
    g_item_cache.count = 0;
  }
  FreeChain(head);
}

size_t CachedListItems() {
  CacheHold lock(g_item_cache.mu);
  return g_item_cache.count;
}

const TListClassInfo kParamsListItemClass{"TvopParamsListItem", nullptr,
                                          sizeof(TvopParamsListItem)};
const TListClassInfo kParamsListClass{"TvopParamsList", nullptr, sizeof(TvopParamsList)};
const TListClassInfo kRowsParamsListClass{"TvopRowsParamsList", &kParamsListClass,
                                          sizeof(TvopRowsParamsList)};

TvopParamsList* TvopParamsList::Create(const TListClassInfo& cls) {
  if (&cls != &kParamsListClass && &cls != &kRowsParamsListClass)
    throw std::invalid_argument("not a parameter list class");
  auto* list = static_cast<TvopParamsList*>(std::calloc(1, cls.instance_size));
  if (!list) throw std::bad_alloc();
  list->class_ref = &cls;
  list->Signature = kParamsListSignature;
  try {
    list->ListId = AnsiStrNew(platform::NewGuidText());
  } catch (...) {
    std::free(list);
    throw;
  }
  return list;
}

void TvopParamsList::Destroy(TvopParamsList* list) {
  if (!list || !list->IsModuleList()) return;
  list->Signature = 0;
  list->Clear();
  AnsiStrFree(list->ListId);
  list->ListId = nullptr;
  std::free(list);
}

bool TvopParamsList::IsModuleList() const {
  return class_ref == &kParamsListClass || class_ref == &kRowsParamsListClass;
}

bool TvopParamsList::IsRowsList() const {
  return class_ref == &kRowsParamsListClass;
}

void TvopParamsList::Clear() {
  // Only the module's own lists are ever cleared; their item array is ours.
  if (!IsModuleList()) return;
  for (int32_t i = 0; i < Count; ++i) {
    TvopParamsListItem* item = items[i];
    items[i] = nullptr;
    FreeItem(item);
  }
  std::free(items);
  items = nullptr;
  Count = 0;
  Capacity = 0;
}

TvopParamsListItem* TvopParamsList::Item(int32_t index) const {
  if (index < 0 || index >= Count || !items) return nullptr;
  return items[index];
}

void TvopParamsList::SetItem(int32_t index, TvopParamsListItem* item) {
  if (index < 0 || index >= Count) AssertionFailure(kSource, kLineItemWrite);
  items[index] = item;
}

int32_t TvopParamsList::IndexOf(std::string_view name, int32_t first, int32_t last) const {
  if (!IsWellFormed()) AssertionFailure(kSource, kLineIndexOf);
  if (Count <= 0) return -1;
  std::string query = AsciiLower(name);
  if (first < 0) first = 0;
  if (last < 0 || last >= Count) last = Count - 1;
  for (int32_t i = first; i <= last; ++i) {
    const TvopParamsListItem* item = items[i];
    if (item && item->LowNameView() == query) return i;
  }
  return -1;
}

TvopParamsListItem* TvopParamsList::ItemByName(std::string_view name) const {
  if (Count <= 0) return nullptr;
  return Item(IndexOf(name));
}

OleVariant TvopParamsList::GetParamValue(std::string_view name) const {
  const TvopParamsListItem* item = ItemByName(name);
  return item ? OleVariant::CopyOf(item->Value) : OleVariant();
}

TvopParamsListItem* TvopParamsList::Add(std::string_view name, const OleVariant& value) {
  return Add(name, value.Type() == platform::VT_ANSISTRING ? OleVariant(value.ToAnsi())
                                                           : OleVariant(value));
}

TvopParamsListItem* TvopParamsList::Add(std::string_view name, OleVariant&& value) {
  if (TrimControls(name).empty()) return nullptr;
  if (!IsModuleList()) throw std::logic_error("a list built by the host is never grown");
  if (Count >= Capacity) {
    int32_t grown = Capacity < 4 ? 4 : Capacity + Capacity / 2;
    auto* bigger = static_cast<TvopParamsListItem**>(
        std::realloc(items, static_cast<size_t>(grown) * sizeof(TvopParamsListItem*)));
    if (!bigger) throw std::bad_alloc();
    items = bigger;
    Capacity = grown;
  }
  if (value.Type() == platform::VT_ANSISTRING) value = OleVariant(value.ToAnsi());
  Variant raw = value.Detach();
  TvopParamsListItem* item;
  try {
    item = NewItem(name, &raw);
  } catch (...) {
    OleVariant::ClearRaw(&raw);
    throw;
  }
  items[Count++] = item;
  return item;
}

TvopParamsListItem* TvopParamsList::SetParamValue(std::string_view name, const OleVariant& value,
                                                  bool add_if_missing) {
  TvopParamsListItem* item = ItemByName(name);
  if (!item && add_if_missing) item = Add(name, OleVariant::Null());
  if (!item) return nullptr;
  if (value.IsText()) {
    OleVariant text(value.ToAnsi());
    if (value.Type() == platform::VT_BSTR) text = value;
    OleVariant::CopyInto(&item->Value, text.Raw());
  } else {
    OleVariant::CopyInto(&item->Value, value.Raw());
  }
  return item;
}

TvopParamsListItem* TvopParamsList::AddItem(const TvopParamsListItem* item) {
  if (!item) return nullptr;
  return Add(item->NameView(), OleVariant::CopyOf(item->Value));  // one copy, moved in
}

bool TvopParamsList::AddList(const TvopParamsList* source) {
  if (!source) return false;
  if (!source->IsWellFormed()) AssertionFailure(kSource, kLineAddList);
  const int32_t count = source->Count;  // fixed first: a list may append itself
  if (count <= 0) return false;
  for (int32_t i = 0; i < count; ++i) AddItem(source->Item(i));
  return true;
}

void TvopParamsList::AddNewRow() {
  Add(kNewRowMarker, OleVariant::Null());
}

int32_t TvopParamsList::RowCount() const {
  int32_t rows = 0;
  bool open = false;
  for (int32_t i = 0; i < Count; ++i) {
    const TvopParamsListItem* item = Item(i);
    if (item && item->LowNameView() == "$new_row$") {
      ++rows;
      open = false;
    } else {
      open = true;
    }
  }
  return rows + (open ? 1 : 0);
}

}  // namespace tarvel
