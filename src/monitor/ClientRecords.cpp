#include "monitor/ClientRecords.h"

#include "platform/clock.h"

namespace tarvel {

TickClock64::TickClock64(const platform::TickSource& ticks)
    : ticks_(ticks), last_(static_cast<int64_t>(ticks.Now())) {}

int64_t TickClock64::Now() {
  const uint32_t tick = ticks_.Now();
  int64_t last = last_.load(std::memory_order_acquire);
  for (;;) {
    const int32_t diff = platform::TickDiff(tick, static_cast<uint32_t>(last));
    const int64_t next = last + diff;
    // A caller that read the counter before another one moved last_ on
    // gets its own, slightly older, time; last_ itself never goes back.
    if (diff <= 0) return next;
    if (last_.compare_exchange_weak(last, next, std::memory_order_acq_rel,
                                    std::memory_order_acquire))
      return next;
  }
}

void BuildWatches(const MonitorSettings& settings, TClientListItem& client, int64_t now) {
  const uint8_t marks = settings.wait_data ? TTimeoutListItem::kWaitingForData : 0;
  const size_t n = settings.rows.size();
  for (size_t i = 0; i < n; ++i) client.Watches[i].Set(now + settings.rows[i].timeout_ms, marks);
}

}  // namespace tarvel
