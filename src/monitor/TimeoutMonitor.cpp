#include "monitor/TimeoutMonitor.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace tarvel {

namespace {

constexpr std::string_view kClientIdItem = "CLIENTID-ITEM";
constexpr std::string_view kParserItem = "PARSER-ITEM";
constexpr uint8_t kLevelWarning = 1;
constexpr uint8_t kLevelNotice = 2;

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

}  // namespace

// ClientTable: the clients of one settings generation. Clients are spread
// over shards by the hash of their ID; a shard's lock guards its index, its
// records and their watches. Deadlines wait in one min-heap with at most one
// current entry per client (the one whose deadline equals the client's
// `scheduled`); others are left behind by changes and dropped when they
// surface. A client's entry is never later than its earliest armed
// deadline: data only moves deadlines later, so a restart leaves the entry
// where it is and the entry is moved when it comes up.
class TimeoutMonitor::ClientTable {
 public:
  static constexpr unsigned kShardBits = 8;
  static constexpr size_t kShards = size_t{1} << kShardBits;
  static constexpr unsigned kChunkBits = 8;  // records per chunk: 256

  struct alignas(64) Shard {
    std::mutex mu;
    // Index slots: 0 empty, else (hash tag << 32) | (record number + 1).
    std::unique_ptr<uint64_t[]> slots;     // guarded by mu
    uint32_t mask = 0;                     // guarded by mu
    uint32_t size = 0;                     // guarded by mu
    std::vector<TClientListItem*> chunks;  // guarded by mu

    TClientListItem* Record(uint32_t number) const {
      return chunks[number >> kChunkBits] + (number & ((1u << kChunkBits) - 1));
    }
  };

  struct HeapEntry {
    int64_t deadline;
    TClientListItem* client;
  };

  explicit ClientTable(std::shared_ptr<const MonitorSettings> s)
      : settings_(std::move(s)), settings(*settings_), watch_count(settings.rows.size()) {}

  ~ClientTable() {
    std::allocator<TClientListItem> alloc;
    for (Shard& shard : shards) {
      for (uint32_t i = 0; i < shard.size; ++i) shard.Record(i)->~TClientListItem();
      for (TClientListItem* chunk : shard.chunks) alloc.deallocate(chunk, size_t{1} << kChunkBits);
    }
  }

  Shard& ShardOf(uint64_t hash) { return shards[hash >> (64 - kShardBits)]; }

  // FindOrCreate looks the client up and creates it when missing (its
  // watches from the settings, started at now). Caller holds shard.mu.
  TClientListItem* FindOrCreate(Shard& shard, const ClientIdView& id, int64_t now, bool* created) {
    const uint64_t hash = id.Hash();
    const uint32_t tag = static_cast<uint32_t>(hash >> 24);
    if (shard.slots) {
      for (uint32_t i = static_cast<uint32_t>(hash) & shard.mask;; i = (i + 1) & shard.mask) {
        const uint64_t slot = shard.slots[i];
        if (slot == 0) break;
        if (static_cast<uint32_t>(slot >> 32) == tag) {
          TClientListItem* c = shard.Record(static_cast<uint32_t>(slot) - 1);
          if (c->ClientId.Equals(id)) {
            *created = false;
            return c;
          }
        }
      }
    }
    // Make room first, so that a failed allocation leaves nothing half done.
    if (!shard.slots || (shard.size + 1) * 4 > (shard.mask + 1) * 3) Grow(shard);
    const uint32_t number = shard.size;
    if ((number >> kChunkBits) == shard.chunks.size()) {
      shard.chunks.reserve(shard.chunks.size() + 1);
      shard.chunks.push_back(std::allocator<TClientListItem>().allocate(size_t{1} << kChunkBits));
    }
    const uint16_t shard_index = static_cast<uint16_t>(&shard - shards);
    TClientListItem* c = new (shard.Record(number))
        TClientListItem(id, next_seq.fetch_add(1, std::memory_order_relaxed), shard_index);
    BuildWatches(settings, *c, now);
    Place(shard, hash, number);
    ++shard.size;
    *created = true;
    return c;
  }

  TClientListItem* Find(Shard& shard, const ClientIdView& id) {
    if (!shard.slots) return nullptr;
    const uint64_t hash = id.Hash();
    const uint32_t tag = static_cast<uint32_t>(hash >> 24);
    for (uint32_t i = static_cast<uint32_t>(hash) & shard.mask;; i = (i + 1) & shard.mask) {
      const uint64_t slot = shard.slots[i];
      if (slot == 0) return nullptr;
      if (static_cast<uint32_t>(slot >> 32) == tag) {
        TClientListItem* c = shard.Record(static_cast<uint32_t>(slot) - 1);
        if (c->ClientId.Equals(id)) return c;
      }
    }
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
    if (earliest < c.scheduled) PushLocked(c, earliest);
  }

  // Settle gives a client that the tick has taken out of the heap its
  // entry back, at its earliest deadline now.
  void Settle(TClientListItem& c) {
    std::lock_guard<std::mutex> lock(heap_mu);
    const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
    c.scheduled = kNoDeadline;
    if (earliest != kNoDeadline) PushLocked(c, earliest);
  }

  // CollectDue takes out of the heap every client whose entry is due and
  // whose earliest deadline has passed; others get their entry moved to
  // their real earliest deadline. The taken clients keep `scheduled` at the
  // taken entry's deadline (in the past), so that data arriving meanwhile
  // adds no entry; the tick settles each one.
  void CollectDue(int64_t now, std::vector<TClientListItem*>& due) {
    std::lock_guard<std::mutex> lock(heap_mu);
    while (!heap.empty() && heap.front().deadline <= now) {
      const HeapEntry top = heap.front();
      TClientListItem& c = *top.client;
      const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
      const bool current = top.deadline == c.scheduled;
      // Listed before it leaves the heap, so a failed allocation loses no one.
      if (current && earliest <= now) due.push_back(&c);
      PopLocked();
      if (current && earliest > now) {
        c.scheduled = kNoDeadline;
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
      if (top.deadline != c.scheduled) {
        PopLocked();
        continue;
      }
      const int64_t earliest = c.earliest.load(std::memory_order_relaxed);
      // Smaller only for a moment while a data call is adding its entry.
      if (earliest <= top.deadline) return earliest;
      PopLocked();
      c.scheduled = kNoDeadline;
      if (earliest != kNoDeadline) PushLocked(c, earliest);
    }
    return kNoDeadline;
  }

  size_t ClientCount() {
    size_t n = 0;
    for (Shard& shard : shards) {
      std::lock_guard<std::mutex> lock(shard.mu);
      n += shard.size;
    }
    return n;
  }

 private:
  static bool Later(const HeapEntry& a, const HeapEntry& b) { return a.deadline > b.deadline; }

  void PushLocked(TClientListItem& c, int64_t deadline) {
    heap.push_back({deadline, &c});
    std::push_heap(heap.begin(), heap.end(), Later);
    c.scheduled = deadline;
  }

  HeapEntry PopLocked() {
    std::pop_heap(heap.begin(), heap.end(), Later);
    HeapEntry e = heap.back();
    heap.pop_back();
    return e;
  }

  static void Place(Shard& shard, uint64_t hash, uint32_t number) {
    uint32_t i = static_cast<uint32_t>(hash) & shard.mask;
    while (shard.slots[i] != 0) i = (i + 1) & shard.mask;
    shard.slots[i] = (uint64_t{static_cast<uint32_t>(hash >> 24)} << 32) | (number + 1);
  }

  static void Grow(Shard& shard) {
    const uint32_t capacity = shard.slots ? (shard.mask + 1) * 2 : 16;
    auto old = std::move(shard.slots);
    shard.slots = std::make_unique<uint64_t[]>(capacity);
    shard.mask = capacity - 1;
    for (uint32_t n = 0; n < shard.size; ++n) Place(shard, shard.Record(n)->ClientId.Hash(), n);
  }

  const std::shared_ptr<const MonitorSettings> settings_;

 public:
  const MonitorSettings& settings;
  const size_t watch_count;
  Shard shards[kShards];
  std::atomic<uint32_t> next_seq{0};
  std::mutex heap_mu;
  std::vector<HeapEntry> heap;  // guarded by heap_mu

  std::shared_ptr<const MonitorSettings> SettingsPtr() const { return settings_; }
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
  std::lock_guard<std::mutex> lock(shard.mu);
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

  if (data && data->Count > 0) {
    Snapshot snap = Current();
    const MonitorSettings& s = snap.table->settings;
    const int64_t now = clock_.Now();
    const int32_t count = data->Count;
    ParamsListPtr params;
    int32_t row_start = 0;
    const Variant* client_id = nullptr;
    for (int32_t i = 0; i < count; ++i) {
      const TvopParamsListItem* item = data->Item(i);
      bool row_end = i == count - 1;
      if (item) {
        const std::string_view name = item->NameView();
        if (name == kNewRowMarker)
          row_end = true;
        else if (s.check_client && EqualsIgnoringAsciiCase(name, s.client_var))
          client_id = &item->Value;
      }
      if (row_end) {
        ProcessRow(*snap.table, *snap.texts, *data, row_start, i, client_id, now, params);
        row_start = i + 1;
        client_id = nullptr;
      }
    }
  }
  ScheduleCheck();
}

void TimeoutMonitor::ProcessRow(ClientTable& t, const MonitorTexts& texts,
                                const TvopParamsList& data, int32_t first, int32_t last,
                                const Variant* client_id, int64_t now, ParamsListPtr& params) {
  const MonitorSettings& s = t.settings;
  // The watches this row feeds, in the order their variables come; only
  // the first watch of a variable is fed.
  uint8_t fed[MonitorSettings::kMaxRows];
  size_t fed_count = 0;
  unsigned seen = 0;
  if (t.watch_count != 0) {
    for (int32_t k = first; k <= last; ++k) {
      const TvopParamsListItem* item = data.Item(k);
      if (!item) continue;
      const std::string_view low = item->LowNameView();
      for (size_t w = 0; w < t.watch_count; ++w) {
        if (s.rows[w].var_name != low) continue;
        if (!(seen & (1u << w))) {
          seen |= 1u << w;
          fed[fed_count++] = static_cast<uint8_t>(w);
        }
        break;
      }
    }
  }

  ClientIdView id;
  if (client_id) id.Assign(*client_id);
  ClientTable::Shard& shard = t.ShardOf(id.Hash());
  std::lock_guard<std::mutex> lock(shard.mu);
  bool created = false;
  TClientListItem& c = *t.FindOrCreate(shard, id, now, &created);
  const int64_t before = created ? kNoDeadline : c.earliest.load(std::memory_order_relaxed);
  struct RearmOnExit {
    ClientTable& t;
    TClientListItem& c;
    int64_t before;
    ~RearmOnExit() noexcept(false) {
      if (std::uncaught_exceptions() == 0) {
        t.Rearm(c, before);
        return;
      }
      try {
        t.Rearm(c, before);
      } catch (...) {
      }
    }
  } rearm{t, c, before};
  for (size_t i = 0; i < fed_count; ++i) {
    TTimeoutListItem& w = c.Watches[fed[i]];
    const MonitorSettings::Row& row = s.rows[fed[i]];
    if (w.Has(TTimeoutListItem::kTimedOut) && s.event_resume)
      RaiseResume(row, s, texts, client_id, params);
    w.Restart(now, row.timeout_ms);
  }
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
  }
  Snapshot snap = Current();
  ClientTable& t = *snap.table;
  std::vector<TClientListItem*> due;
  size_t next = 0;  // due[next..] have not been reached
  try {
    t.CollectDue(clock_.Now(), due);
    std::sort(due.begin(), due.end(),
              [](const TClientListItem* a, const TClientListItem* b) { return a->seq < b->seq; });
    ParamsListPtr params;
    while (next < due.size()) FireClient(t, *snap.texts, *due[next++], params);
  } catch (...) {
    // Clients taken out of the heap but not reached go back, and the timer
    // runs on: one failing event must not silence every other watch. The
    // client that failed has settled itself.
    try {
      for (size_t k = next; k < due.size(); ++k) t.Settle(*due[k]);
      ScheduleCheck();
    } catch (...) {
    }
    throw;
  }
  ScheduleCheck();
}

void TimeoutMonitor::FireClient(ClientTable& t, const MonitorTexts& texts, TClientListItem& c,
                                ParamsListPtr& params) {
  const MonitorSettings& s = t.settings;
  std::lock_guard<std::mutex> lock(t.shards[c.shard].mu);
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
  std::string id_text;
  bool have_id_text = false;
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
    if (!have_id_text) {
      id_text = c.ClientId.ToText();
      have_id_text = true;
    }
    sink_.SendLog(kLevelWarning, id_text.empty() ? texts.timeout : Joined(texts.timeout, id_text));
    if (row.event_name.empty()) continue;
    TvopParamsList& list = FreshParams(params);
    list.Add(kClientIdItem, c.ClientId.ToVariant());
    list.Add(kParserItem, OleVariant(std::string_view(row.var_name)));
    sink_.RaiseEvent(false, row.event_name, &list);
    sink_.SendLog(kLevelWarning, Joined(texts.generating_event, row.event_name));
  }
}

uint32_t TimeoutMonitor::ScheduleCheck() {
  std::lock_guard<std::mutex> lock(schedule_mu_);
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
  const bool keep =
      timer_armed_ && (target == armed_target_ ||
                       (overdue && armed_target_ != kNoDeadline && armed_target_ <= target));
  if (!keep) {
    timer_.ScheduleTick(interval);
    timer_armed_ = true;
    armed_target_ = target;
  }
  return interval;
}

}  // namespace tarvel
