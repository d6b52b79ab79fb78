#include "monitor/TimeoutMonitor.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "monitor/ClientIndex.h"
#include "monitor/DeadlineQueue.h"
#include "monitor/NameKeys.h"
#include "platform/prefetch.h"

namespace tarvel {

namespace {

// While the clients fit in the caches, fetching ahead costs more than it saves.
constexpr uint32_t kCachedClients = 16384;
// Rows go to their clients in batches of this many.
constexpr size_t kBatch = 32;

std::shared_ptr<const MonitorSettings> OrDefaults(std::shared_ptr<const MonitorSettings> s) {
  return s ? std::move(s) : std::make_shared<const MonitorSettings>();
}

}  // namespace

// ClientTable: the clients of one settings generation: the settings, the
// keys the intake looks for, the client records and the deadline queue.
class TimeoutMonitor::ClientTable : public std::enable_shared_from_this<ClientTable> {
 public:
  // pins: those the data calls hold while they use the table.
  ClientTable(std::shared_ptr<const MonitorSettings> s, ReaderPins& pins)
      : settings_ptr(std::move(s)),
        settings(*settings_ptr),
        watch_count(settings.rows.size()),
        keys(settings),
        index(&pins) {
    for (size_t w = 0; w < watch_count; ++w) {
      const MonitorSettings::Row& row = settings.rows[w];
      timeout_ms[w] = row.timeout_ms;
      // With both the event name and the suffix empty, data after a timeout
      // only restarts the watch.
      resumes[w] =
          settings.event_resume && !(row.event_name.empty() && settings.resume_suffix.empty());
    }
  }

  // Rearm keeps the queue's rule after a client's watches changed; before
  // is the earliest deadline it had (kNoDeadline for a new client).
  // Returns whether the client's entry in the queue moved earlier. Caller
  // holds the client's shard lock.
  bool Rearm(TClientListItem& c, int64_t before) {
    const int64_t earliest = EarliestDeadline(c, watch_count);
    // A later deadline leaves the queue entry early, which only costs a
    // look when it comes up; an earlier one moves it.
    if (earliest >= before) return false;
    queue.Lower(c, earliest);
    return true;
  }

  // Settle gives a client the tick has looked at its entry at its earliest
  // deadline. Caller holds the client's shard lock.
  void Settle(TClientListItem& c) { queue.Settle(c, EarliestDeadline(c, watch_count)); }

  // EarliestPending: the earliest entry of the queue, after correcting a
  // few early ones at the front from their clients' watches. Never later
  // than the earliest armed deadline; early only after kCorrections
  // corrections, when the tick that comes early corrects the rest. Caller
  // holds no shard lock.
  int64_t EarliestPending() {
    constexpr int kCorrections = 64;
    for (int i = 0; i < kCorrections; ++i) {
      const DeadlineQueue::Front front = queue.Peek();
      if (!front.client) return kNoDeadline;
      ShardHold lock(index.ShardOf(*front.client).mu);
      if (!queue.Raise(*front.client, front.deadline, EarliestDeadline(*front.client, watch_count)))
        break;
    }
    return queue.EarliestPending();
  }

  const std::shared_ptr<const MonitorSettings> settings_ptr;
  const MonitorSettings& settings;
  const size_t watch_count;
  int64_t timeout_ms[MonitorSettings::kMaxRows] = {};
  bool resumes[MonitorSettings::kMaxRows] = {};  // data after a timeout raises the resume event
  const NameKeys keys;
  ClientIndex index;
  DeadlineQueue queue;
};

// PendingRow: one complete row of a data portion, waiting for its client.
struct TimeoutMonitor::PendingRow {
  const Variant* client_id = nullptr;
  ClientIdView id;
  // Watches fed, in the order of their variables: the i-th one's row in
  // byte i.
  uint32_t fed = 0;
  static_assert(MonitorSettings::kMaxRows <= sizeof fed);
  uint8_t fed_count = 0;
  // The record the index pointed to when it was fetched ahead, or null.
  TClientListItem* candidate = nullptr;
};

TimeoutMonitor::TimeoutMonitor(MonitorSink& sink, MonitorTimer& timer,
                               std::shared_ptr<const MonitorSettings> settings, MonitorTexts texts,
                               const platform::TickSource& ticks)
    : sink_(sink),
      timer_(timer),
      clock_(ticks),
      table_(std::make_shared<ClientTable>(OrDefaults(std::move(settings)), pins_)),
      texts_(std::make_shared<const MonitorTexts>(std::move(texts))),
      live_table_(table_.get()) {}

TimeoutMonitor::~TimeoutMonitor() = default;

TimeoutMonitor::Snapshot TimeoutMonitor::Current() const {
  MutexLock lock(mu_);
  return {table_, texts_};
}

void TimeoutMonitor::ReplaceSettings(std::shared_ptr<const MonitorSettings> settings) {
  auto fresh = std::make_shared<ClientTable>(OrDefaults(std::move(settings)), pins_);
  std::shared_ptr<ClientTable> old;
  {
    MutexLock lock(mu_);
    live_table_.store(fresh.get(), std::memory_order_release);
    old = std::exchange(table_, std::move(fresh));
  }
  // Data calls that took the old table without a reference are done with
  // it after this.
  pins_.WaitForReaders();
  ScheduleCheck();
  // The old clients go with the last data call, tick or event that still
  // uses them.
  old.reset();
}

void TimeoutMonitor::ClearClients() {
  ReplaceSettings(Settings());
}

std::shared_ptr<const MonitorSettings> TimeoutMonitor::Settings() const {
  MutexLock lock(mu_);
  return table_->settings_ptr;
}

void TimeoutMonitor::SetTexts(MonitorTexts texts) {
  auto fresh = std::make_shared<const MonitorTexts>(std::move(texts));
  MutexLock lock(mu_);
  texts_ = std::move(fresh);
}

size_t TimeoutMonitor::ClientCount() const {
  return Current().table->index.ClientCount();
}

size_t TimeoutMonitor::QueuedDeadlines() const {
  return Current().table->queue.Size();
}

TimeoutMonitor::MemoryUse TimeoutMonitor::Memory() const {
  const std::shared_ptr<ClientTable> table = Current().table;
  const ClientIndex::Memory index = table->index.MemoryUse();
  return {index.records, index.slots_in_use, index.slot_blocks, table->queue.MemoryBytes()};
}

std::optional<WatchStatus> TimeoutMonitor::FindWatch(const OleVariant& client_id,
                                                     size_t row) const {
  Snapshot snap = Current();
  ClientTable& t = *snap.table;
  if (row >= t.watch_count) return std::nullopt;
  ClientIdView id;
  id.Assign(client_id.Raw());
  ClientIndex::Shard& shard = t.index.ShardOf(id.Hash());
  ShardHold lock(shard.mu);
  const TClientListItem* c = t.index.Find(shard, id);
  if (!c) return std::nullopt;
  const TTimeoutListItem& w = c->Watches[row];
  return WatchStatus{w.Has(TTimeoutListItem::kWaitingForData), w.Has(TTimeoutListItem::kTimedOut),
                     w.Has(TTimeoutListItem::kFired), w.Deadline()};
}

// ---- Data intake ----

void TimeoutMonitor::ProcessData(const TvopParamsList* data) {
  bool waiting;
  try {
    waiting = ApplyData(data);
  } catch (...) {
    // The resume events of the rows applied still go out; the first
    // failure is the one that reaches the caller.
    try {
      DeliverWaiting();
    } catch (...) {
    }
    throw;
  }
  if (waiting) DeliverWaiting();
}

bool TimeoutMonitor::ApplyData(const TvopParamsList* data) {
  if (!data || data->Count <= 0 || !data->items) {
    ScheduleCheck();
    return false;
  }
  // The rows are applied under a pin of the current clients, not a copy of
  // their shared pointer: data calls on several threads then write no
  // memory in common but the records of the clients they feed.
  RowsEffect effect;
  const ReaderPins::Pin pin = pins_.Enter();
  ClientTable& table = *live_table_.load(std::memory_order_acquire);
  try {
    ApplyRows(table, *data, effect);
  } catch (...) {
    // The timer is set for what the rows before the failing one did.
    try {
      Schedule(false, &table);
    } catch (...) {
    }
    throw;
  }
  if (NeedsSchedule(effect)) Schedule(false, &table);
  return effect.posted;
}

void TimeoutMonitor::DeliverWaiting() {
  // The events after a failing one still go out, in a second round; what a
  // second failure leaves goes at the next tick.
  std::exception_ptr failure;
  for (int round = 0; round < 2; ++round) {
    try {
      outbox_.Deliver(sink_, *Current().texts);
      break;
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (!failure) return;
  try {
    ScheduleCheck();
  } catch (...) {
  }
  std::rethrow_exception(failure);
}

void TimeoutMonitor::ApplyRows(ClientTable& t, const TvopParamsList& data, RowsEffect& effect) {
  const MonitorSettings& s = t.settings;
  const int64_t now = clock_.Now();
  const int32_t count = data.Count;
  // Rows go to their clients in batches, so that the memory of several
  // clients is fetched at once rather than one after the other.
  const bool prefetch = t.index.Created() > kCachedClients;
  // Rows are built when first used: most portions are a few rows, and a
  // row holds a string.
  struct Batch {
    alignas(PendingRow) unsigned char bytes[kBatch][sizeof(PendingRow)];
    size_t built = 0;
    PendingRow* Rows() { return std::launder(reinterpret_cast<PendingRow*>(bytes)); }
    PendingRow& Get(size_t i) {
      if (i == built) {
        // Every member has its initialiser: no zeroing of the whole first.
        new (bytes[i]) PendingRow;
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
  uint32_t fed = 0;  // watch rows in the order of their variables, a byte each
  unsigned fed_count = 0;
  unsigned seen = 0;  // bits of the watch keys met in the row
  const std::string_view client_var = s.client_var;
  const NameKeys& keys = t.keys;
  const unsigned marker_keys = keys.marker_keys, client_keys = keys.client_keys,
                 watch_keys = keys.watch_keys;
  TvopParamsListItem* const* items = data.items;
  for (int32_t i = 0; i < count; ++i) {
    const TvopParamsListItem* item = items[i];
    bool row_end = i == count - 1;
    if (item) {
      // The lower-case key is read for every item and matched against the
      // keys; the name itself only when the key says it may be the marker
      // or the client variable (both have keys of their own: the ANSI
      // lower case of the name).
      const unsigned matched = keys.Match(item->LowNameView());
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
            fed |= keys.WatchRow(watch) << (8 * fed_count++);
          }
        }
      }
    }
    if (!row_end) continue;
    PendingRow& row = batch.Get(pending);
    row.client_id = client_id;
    if (client_id) {
      try {
        row.id.Assign(*client_id);
      } catch (...) {
        // The rows before this one keep their effect.
        ApplyBeforeFailure(t, batch.Rows(), pending, now, effect);
        throw;
      }
    } else {
      row.id.SetNull();
    }
    row.fed = fed;
    row.fed_count = static_cast<uint8_t>(fed_count);
    row.candidate = nullptr;
    client_id = nullptr;
    fed = 0;
    fed_count = 0;
    seen = 0;
    // Asked for now, the index slot is in the cache when the batch runs.
    if (prefetch) t.index.PrefetchSlot(row.id.Hash());
    if (++pending == kBatch) {
      ProcessRows(t, batch.Rows(), pending, now, effect);
      pending = 0;
    }
  }
  ProcessRows(t, batch.Rows(), pending, now, effect);
}

// NeedsSchedule: whether the rows applied may call for another tick than
// the one the timer is set for. Rows only move deadlines later, except
// where a queue entry was lowered; a later deadline matters only for a
// client that was due at or before the set tick (it may have been the
// earliest). Otherwise the tick stays: at worst it comes early and finds
// nothing due, and sets the timer anew.
bool TimeoutMonitor::NeedsSchedule(const RowsEffect& effect) const {
  return effect.lowered || !timer_settled_.load(std::memory_order_acquire) ||
         effect.earliest_before <= settled_target_.load(std::memory_order_acquire) ||
         outbox_.Stalled();
}

[[gnu::noinline]] void TimeoutMonitor::ApplyBeforeFailure(ClientTable& table, PendingRow* rows,
                                                          size_t count, int64_t now,
                                                          RowsEffect& effect) {
  try {
    ProcessRows(table, rows, count, now, effect);
  } catch (...) {
    // The failure of the row being read is the one to report.
  }
}

void TimeoutMonitor::ProcessRows(ClientTable& table, PendingRow* rows, size_t count, int64_t now,
                                 RowsEffect& effect) {
  if (table.index.Created() > kCachedClients) Prefetch(table, rows, count);
  for (size_t r = 0; r < count; ++r) ProcessRow(table, rows[r], now, effect);
}

void TimeoutMonitor::Prefetch(const ClientTable& t, PendingRow* rows, size_t count) {
  // Every record of the batch is looked up and asked for before the first
  // shard lock: a locked instruction waits for the loads before it, so
  // misses between locks would be taken one at a time. The lookup takes no
  // lock; a record stays where it is for the table's lifetime, and the
  // row's turn checks under the lock that it is the client.
  for (size_t r = 0; r < count; ++r) {
    rows[r].candidate = t.index.Candidate(rows[r].id.Hash());
    if (const TClientListItem* c = rows[r].candidate) {
      // A record may straddle two cache lines: both are asked for.
      platform::Prefetch(c);
      platform::Prefetch(reinterpret_cast<const char*>(c + 1) - 1);
    }
  }
}

// ProcessRow applies one row: finds or creates its client, restarts the
// watches of the row's variables (the first watch of each), and posts a
// resume notice for each watch that had timed out; effect notes what it did.
void TimeoutMonitor::ProcessRow(ClientTable& t, PendingRow& row, int64_t now, RowsEffect& effect) {
  ClientIndex::Shard& shard = t.index.ShardOf(row.id.Hash());
  ShardHold lock(shard.mu);
  bool created = false;
  TClientListItem& c = *t.index.FindOrCreate(shard, row.id, row.candidate, &created);
  if (created) BuildWatches(t.settings, c, now);
  const int64_t before = created ? kNoDeadline : EarliestDeadline(c, t.watch_count);
  if (row.fed_count == 0 && !created) return;
  uint32_t resumes = 0;  // rows of the watches to resume, in item order, a byte each
  unsigned resume_count = 0;
  for (size_t i = 0; i < row.fed_count; ++i) {
    const unsigned n = (row.fed >> (8 * i)) & 0xFF;
    TTimeoutListItem& w = c.Watches[n];
    if (w.Has(TTimeoutListItem::kTimedOut) && t.resumes[n]) resumes |= n << (8 * resume_count++);
    w.Restart(now, t.timeout_ms[n]);
  }
  effect.lowered |= t.Rearm(c, before);
  effect.earliest_before = std::min(effect.earliest_before, before);
  if (resume_count == 0) return;
  PostResumes(t, row, resumes, resume_count);
  effect.posted = true;
}

[[gnu::noinline]] void TimeoutMonitor::PostResumes(ClientTable& table, const PendingRow& row,
                                                   uint32_t resumes, unsigned count) {
  Notice notices[MonitorSettings::kMaxRows];
  for (unsigned i = 0; i < count; ++i) {
    Notice& n = notices[i];
    n.kind = Notice::Kind::kResume;
    n.row = static_cast<uint8_t>(resumes >> (8 * i));
    n.row_id = row.client_id ? OleVariant::CopyOf(*row.client_id) : OleVariant::Null();
  }
  // The notices keep the clients' table alive until they are raised.
  outbox_.Post(table.shared_from_this(), table.settings, notices, count);
}

// ---- Timeout check ----

void TimeoutMonitor::ChkTimeoutsTimer() {
  {
    MutexLock lock(schedule_mu_);
    if (!halted_) timer_.StopTicks();
    timer_armed_ = false;
    tick_running_ = true;
    PublishTimerState();
  }
  Snapshot snap = Current();
  ClientTable& t = *snap.table;
  // Slot arrays the intake outgrew go once no data call can still see them.
  t.index.ReleaseRetired();
  std::vector<TClientListItem*> due;
  size_t next = 0;  // due[next..] have not been reached
  try {
    // Deadlines that pass while a tick raises its events are taken at once
    // by another pass, rather than 10 ms later; the passes are few, so a
    // flood of timeouts cannot keep the tick from returning.
    constexpr int kPasses = 3;
    for (int pass = 0; pass < kPasses; ++pass) {
      due.clear();
      next = 0;
      const int64_t now = clock_.Now();
      t.queue.CollectDue(now, due);
      // Entries that data made early go back to their clients' deadlines at
      // once: only clients with a watch due are ordered and fired. Should a
      // settle fail, the catch below settles every listed client again
      // (settling twice is harmless).
      size_t firing = 0;
      for (size_t k = 0; k < due.size(); ++k) {
        TClientListItem& c = *due[k];
        ShardHold lock(t.index.ShardOf(c).mu);
        if (EarliestDeadline(c, t.watch_count) <= now)
          due[firing++] = &c;
        else
          t.Settle(c);
      }
      due.resize(firing);
      if (due.empty()) {
        // One more look if a deadline passed since the collection.
        if (t.queue.EarliestPending() <= clock_.Now()) continue;
        break;
      }
      // Events of one tick go out in the order the clients were made.
      t.index.OrderByCreation(due);
      while (next < due.size()) FireClient(snap.table, *due[next++]);
      outbox_.Deliver(sink_, *snap.texts);
    }
    // Also what an earlier failure left waiting.
    outbox_.Deliver(sink_, *snap.texts);
  } catch (...) {
    // Clients taken out of the queue but not reached go back, and the timer
    // runs on: one failing event must not silence every other watch. The
    // client that failed has settled itself.
    try {
      for (size_t k = next; k < due.size(); ++k) {
        ShardHold lock(t.index.ShardOf(*due[k]).mu);
        t.Settle(*due[k]);
      }
      Schedule(true);
    } catch (...) {
    }
    throw;
  }
  Schedule(true);
}

// FireClient marks the client's due watches and posts a timeout notice for
// each, in row order.
void TimeoutMonitor::FireClient(const std::shared_ptr<ClientTable>& table, TClientListItem& c) {
  ClientTable& t = *table;
  const MonitorSettings& s = t.settings;
  ShardHold lock(t.index.ShardOf(c).mu);
  struct SettleOnExit {
    ClientTable& t;
    TClientListItem& c;
    ~SettleOnExit() noexcept(false) {
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
  Notice timeouts[MonitorSettings::kMaxRows];
  size_t count = 0;
  for (size_t i = 0; i < t.watch_count; ++i) {
    TTimeoutListItem& w = c.Watches[i];
    if (!w.Armed() || w.Deadline() > now) continue;
    // The mark stays until data comes, also when the event repeats, so the
    // returning variable raises its resume event once.
    if (s.event_once)
      w.Set(w.Deadline(), TTimeoutListItem::kTimedOut | TTimeoutListItem::kFired);
    else
      w.Set(now + t.timeout_ms[i], TTimeoutListItem::kTimedOut);
    Notice& n = timeouts[count++];
    n.row = static_cast<uint8_t>(i);
    n.client = &c;
  }
  outbox_.Post(table, s, timeouts, count);
}

// ---- The timer ----

uint32_t TimeoutMonitor::ScheduleCheck() {
  return Schedule(false);
}

void TimeoutMonitor::StopTimer() {
  MutexLock lock(schedule_mu_);
  if (!halted_) timer_.StopTicks();
  timer_armed_ = false;
  PublishTimerState();
}

void TimeoutMonitor::Halt() {
  MutexLock lock(schedule_mu_);
  if (!halted_) timer_.StopTicks();
  halted_ = true;
  timer_armed_ = false;
  PublishTimerState();
}

void TimeoutMonitor::PublishTimerState() {
  // Settled: a data call that changes nothing earlier leaves the timer be
  // (a halted timer is never set again; a running tick sets it at its end).
  timer_settled_.store(timer_armed_ || tick_running_ || halted_, std::memory_order_release);
  settled_target_.store(halted_ || tick_running_ ? kNoDeadline - 1 : armed_target_,
                        std::memory_order_release);
}

uint32_t TimeoutMonitor::Schedule(bool ending_tick, ClientTable* pinned) {
  MutexLock lock(schedule_mu_);
  if (ending_tick) tick_running_ = false;
  std::shared_ptr<ClientTable> held;
  if (!pinned) held = Current().table;
  ClientTable& table = pinned ? *pinned : *held;
  const int64_t now = clock_.Now();
  int64_t earliest = table.EarliestPending();
  // Events left by a failed delivery go out at the next tick.
  if (outbox_.Stalled()) earliest = std::min(earliest, now);
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
      halted_ || tick_running_ ||
      (timer_armed_ && (target == armed_target_ ||
                        (overdue && armed_target_ != kNoDeadline && armed_target_ <= target)));
  if (!keep) {
    timer_.ScheduleTick(interval);
    timer_armed_ = true;
    armed_target_ = target;
  }
  PublishTimerState();
  return interval;
}

}  // namespace tarvel
