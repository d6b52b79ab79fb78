// Client and watch records of the timeout monitor, and the clock they count
// in.
//
//  - TickClock64: milliseconds of a 32-bit tick source, extended to
//    64 bits so that deadlines neither wrap after 49.7 days nor overflow for
//    long timeouts.
//  - TTimeoutListItem: one watch, packed into 8 bytes (deadline and marks),
//    with its states: waiting for first data, running, timed out (reported).
//  - TClientListItem: one client: its ID, its place in the deadline queue
//    and its watches inline, in settings row order: 52 bytes. What a record
//    does without (its creation number, its earliest deadline) is found
//    from its place among the records and from its watches.
//  - BuildWatches: the watches a new client starts with.
//
// Threads: TickClock64 is safe for concurrent callers. The records carry no
// lock of their own: the client index's shard lock guards a record's
// watches, the deadline queue's lock its place in the queue (see the field
// comments).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "monitor/ClientId.h"
#include "monitor/MonitorSettings.h"
#include "platform/clock.h"
#include "platform/memory.h"

namespace tarvel {

// No deadline: the value for "nothing armed" and "not scheduled".
constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// TickClock64 extends a 32-bit tick source to a 64-bit count. It remembers
// the last tick it saw and adds the wrap-aware distance to it, so it must be
// read at least once every 2^31 ms (24.8 days); the monitor's check timer
// never sleeps that long. The count starts at the tick value of the first
// reading, so with a simulated source it equals the simulated tick until
// the first wrap. ticks must outlive the clock.
class TickClock64 {
 public:
  explicit TickClock64(const platform::TickSource& ticks);
  // Now returns the current 64-bit millisecond count. Concurrent callers may
  // see values in either order, never a jump of 2^32.
  int64_t Now();

 private:
  const platform::TickSource& ticks_;
  std::atomic<int64_t> last_;
};

// Records are packed to 4 bytes, so that a client takes 52 bytes rather
// than 56; reading an 8-byte watch at a 4-byte boundary costs nothing on
// x86. Where the big record slabs are huge pages (platform/memory.h), a
// record takes a whole cache line instead: such a page holds 2^15 records
// either way, and a record within one line costs the intake one memory
// miss, not two. Elsewhere, and so in the 32-bit DLL, memory is what runs
// out first.
inline constexpr size_t kRecordAlignment = platform::kHugePageBytes ? 64 : 4;
#pragma pack(push, 4)

// TTimeoutListItem: one watch. The deadline (64-bit count of TickClock64)
// and the three marks share one word. A watch that was never set waits
// (it neither fires nor counts for the schedule).
//
// States: waiting (W) until the first data for the variable, when the
// settings wait for data; running (no W, no F) from any restart; reported
// (T and F) when the deadline passed in event-once mode, until data
// restarts it. With event-once off a due watch is reported, keeps T and
// gets a new deadline a whole timeout after the tick that fired it.
struct TTimeoutListItem {
  static constexpr uint8_t kWaitingForData = 1;  // quiet until the variable arrives
  static constexpr uint8_t kTimedOut = 2;        // timed out since the last data
  static constexpr uint8_t kFired = 4;           // event-once: reported, quiet until data

  uint64_t bits = kWaitingForData;

  int64_t Deadline() const { return static_cast<int64_t>(bits) >> 8; }
  uint8_t Marks() const { return static_cast<uint8_t>(bits); }
  bool Has(uint8_t mark) const { return (bits & mark) != 0; }
  // Armed: neither waiting nor reported, so the deadline counts.
  bool Armed() const { return (bits & (kWaitingForData | kFired)) == 0; }
  void Set(int64_t deadline, uint8_t marks) {
    bits = (static_cast<uint64_t>(deadline) << 8) | marks;
  }
  // Restart: a new deadline from now, all marks cleared.
  void Restart(int64_t now, int64_t timeout_ms) { Set(now + timeout_ms, 0); }
};
static_assert(sizeof(TTimeoutListItem) == 8);

// TClientListItem: one client. Records never move and live as long as the
// client index that made them, which also knows their creation order.
struct alignas(kRecordAlignment) TClientListItem {
  // queue_slot when the client has no entry in the deadline queue.
  static constexpr uint32_t kNotQueued = 0xFFFFFFFFu;

  explicit TClientListItem(const ClientIdView& id) : ClientId(id) {}

  const ClientKey ClientId;
  // Where the client's one entry sits in the deadline queue, or kNotQueued.
  // Read and written only under the deadline queue's lock (the analysis
  // cannot name a lock outside the record).
  uint32_t queue_slot = kNotQueued;
  // The watches, in settings row order; as many as the settings have rows.
  // Read and written only under the client's shard lock (which the
  // analysis cannot name from here either).
  TTimeoutListItem Watches[MonitorSettings::kMaxRows];
};
static_assert(sizeof(TClientListItem) == (kRecordAlignment == 64 ? 64 : 52));

#pragma pack(pop)

// BuildWatches gives a new client its watches: every row of the settings
// starts a whole timeout from now, waiting for data when the settings say
// so. Caller holds the client's shard lock.
void BuildWatches(const MonitorSettings& settings, TClientListItem& client, int64_t now);

// EarliestDeadline returns the smallest deadline among the armed watches,
// or kNoDeadline. Inline: the intake calls it twice for every row. Caller
// holds the client's shard lock.
inline int64_t EarliestDeadline(const TClientListItem& client, size_t watch_count) {
  int64_t earliest = kNoDeadline;
  for (size_t i = 0; i < watch_count; ++i) {
    const TTimeoutListItem& w = client.Watches[i];
    if (w.Armed() && w.Deadline() < earliest) earliest = w.Deadline();
  }
  return earliest;
}

}  // namespace tarvel
