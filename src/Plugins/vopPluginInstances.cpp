// The process-wide instance table: one TvopPlugin per host InstanceId,
// created on first use through the registered plug-in class, released on
// request (Action 255) or at module shutdown; and WaitForFlags, the wait
// that gives up when the module shuts down.
//
// Threads: lookups run side by side under the table's shared lock; a
// creation or a release promotes it to the exclusive lock and searches
// again, so one id never gets two instances. Instances are held by shared
// pointers: a release that meets a running call destroys the instance
// after that call. The calls of the host find an existing instance in a
// copy of the table made at each change (InstanceIndex) without taking
// the table's lock, which would make calls on two threads wait for each
// other.
#include <utility>
#include <vector>

#include "Common/ReaderPins.h"
#include "Plugins/vopPluginModule.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace tarvel {

namespace {

struct InstanceEntry {
  std::shared_ptr<TvopPlugin> instance;
};
using InstanceTable = TThreadObjectList<InstanceEntry>;

std::atomic<InstanceTable*> g_table{nullptr};
std::atomic<bool> g_shut_down{false};
Mutex g_factory_mutex;
// A function-local static: main units register from their own static
// initialisers, which may run before this unit's.
PluginFactory& RegisteredFactory() TARVEL_REQUIRES(g_factory_mutex) {
  static PluginFactory factory;
  return factory;
}

// InstanceIndex: the instances by id, as the table held them when it last
// changed. Published under the table's exclusive lock; read under a pin of
// g_index_pins.
struct InstanceIndex {
  std::vector<std::pair<uint32_t, std::shared_ptr<TvopPlugin>>> entries;
};
std::atomic<const InstanceIndex*> g_index{nullptr};
ReaderPins g_index_pins;

// PublishIndex puts a copy of the table (null: none) in place of the index
// and returns the old one once no lookup reads it; dropping it may destroy
// a released instance, so the caller does that without the table's lock.
// When the copy cannot be made there is no index until the next change:
// lookups then take the table's lock, and never find a released instance.
std::unique_ptr<const InstanceIndex> PublishIndex(const TObjectList<InstanceEntry>* list) noexcept {
  std::unique_ptr<InstanceIndex> fresh;
  try {
    if (list) {
      fresh = std::make_unique<InstanceIndex>();
      for (const InstanceEntry* e : *list)
        fresh->entries.emplace_back(e->instance->InstanceId(), e->instance);
    }
  } catch (...) {
    fresh.reset();
  }
  std::unique_ptr<const InstanceIndex> old(g_index.exchange(fresh.release()));
  g_index_pins.WaitForReaders();
  return old;
}

// FindIndexed finds an existing instance without the table's lock.
bool FindIndexed(uint32_t id, std::shared_ptr<TvopPlugin>* out) {
  const ReaderPins::Pin pin = g_index_pins.Enter();
  const InstanceIndex* index = g_index.load(std::memory_order_acquire);
  if (!index) return false;
  for (const auto& [entry_id, instance] : index->entries) {
    if (entry_id != id) continue;
    *out = instance;
    return true;
  }
  return false;
}

std::unique_ptr<TvopPlugin> DefaultFactory(PPluginCallRec rec) {
  return std::make_unique<TvopPlugin>(rec);
}

InstanceEntry* FindEntry(const TObjectList<InstanceEntry>* list, uint32_t id) {
  for (InstanceEntry* e : *list)
    if (e->instance->InstanceId() == id) return e;
  return nullptr;
}

}  // namespace

void RegisterPluginClass(PluginFactory factory) {
  MutexLock lock(g_factory_mutex);
  RegisteredFactory() = std::move(factory);
}

void ModuleStartup() {
  if (g_table.load() || g_shut_down.load()) return;
  auto* table = new InstanceTable(true);
  InstanceTable* expected = nullptr;
  if (!g_table.compare_exchange_strong(expected, table)) delete table;
  MutexLock lock(g_factory_mutex);
  if (!RegisteredFactory()) RegisteredFactory() = DefaultFactory;
}

bool ModuleIsShutDown() {
  return g_shut_down.load() || !g_table.load();
}

void ModuleShutdown(bool process_terminating) {
  g_shut_down = true;
  InstanceTable* table = g_table.exchange(nullptr);
  if (!table || process_terminating) return;  // the system reclaims everything
  std::vector<std::shared_ptr<TvopPlugin>> doomed;
  std::unique_ptr<const InstanceIndex> index;
  {
    auto list = table->Lock();
    for (InstanceEntry* e : *list) doomed.push_back(e->instance);
    list->Clear();
    index = PublishIndex(nullptr);
  }
  index.reset();
  doomed.clear();  // destroys every instance in table order, unless still in use
  delete table;
  ReleaseCachedListItems();
}

void ForEachInstance(const std::function<void(TvopPlugin&)>& fn) {
  InstanceTable* table = g_table.load();
  if (!table) return;
  // Named, so that the table stays held for the whole loop: a temporary in
  // the loop's head would let it go before the first entry is read.
  auto list = table->LockRead();
  for (InstanceEntry* e : *list) fn(*e->instance);
}

std::vector<std::shared_ptr<TvopPlugin>> Instances() {
  std::vector<std::shared_ptr<TvopPlugin>> all;
  InstanceTable* table = g_table.load();
  if (!table) return all;
  auto list = table->LockRead();
  for (InstanceEntry* e : *list) all.push_back(e->instance);
  return all;
}

int InstanceCount() {
  InstanceTable* table = g_table.load();
  if (!table) return 0;
  return table->LockRead()->Count();
}

bool FindPluginInstanceImpl(PPluginCallRec rec, std::shared_ptr<TvopPlugin>* out) {
  out->reset();
  if (!rec || rec->InstanceId == 0) return false;
  InstanceTable* table = g_table.load();
  if (!table) return false;
  if (rec->Action != kActionRelease && FindIndexed(rec->InstanceId, out)) return true;
  auto readers = table->LockRead();
  if (InstanceEntry* e = FindEntry(readers.get(), rec->InstanceId)) {
    if (rec->Action != kActionRelease) {
      *out = e->instance;
      return true;
    }
    std::shared_ptr<TvopPlugin> doomed;
    std::unique_ptr<const InstanceIndex> index;
    {
      auto list = table->Lock();  // promotes this thread's shared hold
      // Another thread may have released it while we were promoting.
      if (InstanceEntry* again = FindEntry(list.get(), rec->InstanceId)) {
        doomed = again->instance;
        list->Remove(again);
        index = PublishIndex(list.get());
      }
    }
    index.reset();
    doomed.reset();  // destroyed here unless a running call still holds it
    return false;
  }
  if (rec->Action == kActionRelease) return false;
  try {
    auto list = table->Lock();  // promotes this thread's shared hold
    // Search again: another thread may have created it while we promoted.
    if (InstanceEntry* again = FindEntry(list.get(), rec->InstanceId)) {
      *out = again->instance;
      return true;
    }
    PluginFactory factory;
    {
      MutexLock lock(g_factory_mutex);
      factory = RegisteredFactory() ? RegisteredFactory() : PluginFactory(DefaultFactory);
    }
    std::shared_ptr<TvopPlugin> created(factory(rec));
    if (!created) return false;
    created->instance_id_ = rec->InstanceId;
    created->AfterConstruction();
    auto entry = std::make_unique<InstanceEntry>();
    entry->instance = created;
    list->Add(entry.release());
    PublishIndex(list.get());  // the old index held only instances the table holds
    *out = std::move(created);
    return true;
  } catch (...) {
    out->reset();
    return false;
  }
}

std::shared_ptr<TvopPlugin> FindPluginInstance(PPluginCallRec rec) {
  std::shared_ptr<TvopPlugin> instance;
  FindPluginInstanceImpl(rec, &instance);
  return instance;
}

bool WaitForFlags(uint32_t limit_ms, const std::vector<FlagReader>& flags, bool ignore_shutdown) {
  const uint32_t start = platform::TickCount();
  int state = 1;
  for (int pass = 0;; ++pass) {
    if (pass > 0) {
      try {
        platform::ProcessPendingMessages();
      } catch (...) {
      }
      platform::SleepMs(50);
    }
    state = 1;
    for (const FlagReader& flag : flags) {
      if (!flag) {
        state = -1;
        break;
      }
      if (!flag()) {
        state = 0;
        break;
      }
    }
    if (state < 1) break;
    if (limit_ms != 0 &&
        platform::TickDiff(platform::TickCount(), start) >= static_cast<int32_t>(limit_ms))
      break;
    if (!ignore_shutdown && g_shut_down.load()) break;
  }
  return state == 0;
}

}  // namespace tarvel
