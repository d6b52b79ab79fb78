// The data-call gate's count and thread slots.
#include "Plugins/DataCallGate.h"

#include "Plugins/vopPluginInstances.h"
#include "Plugins/vopPluginTypes.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace tarvel {

int32_t DataCallGate::Run(const std::function<int32_t()>& work) {
  // The wait only matters while the gate is closed and a call still runs;
  // the usual call skips building it.
  if (Closed() && Busy() &&
      !WaitForFlags(30000, {[this] { return Busy(); }, [this] { return Closed(); }}, false))
    return kResultInvalid;
  // Count first, then check: a Close after our check sees the count and
  // waits for us.
  calls_.fetch_add(1);
  if (closed_.load()) {
    calls_.fetch_sub(1);
    return kResultInvalid;
  }
  // The thread is noted for the call's length, so that an UNLOAD issued
  // from inside it does not wait for itself.
  const uint32_t me = platform::CurrentThreadId();
  std::atomic<uint32_t>* slot = nullptr;
  for (std::atomic<uint32_t>& s : threads_) {
    uint32_t free = 0;
    if (s.compare_exchange_strong(free, me)) {
      slot = &s;
      break;
    }
  }
  int32_t result;
  try {
    result = work();
  } catch (...) {
    result = kResultException;
  }
  if (slot) slot->store(0);
  calls_.fetch_sub(1);
  return result;
}

int32_t DataCallGate::CallsOfThisThread() const {
  const uint32_t me = platform::CurrentThreadId();
  int32_t n = 0;
  for (const std::atomic<uint32_t>& s : threads_) n += s.load() == me ? 1 : 0;
  return n;
}

bool DataCallGate::WaitForOthers(uint32_t limit_ms) const {
  const int32_t own = CallsOfThisThread();
  const uint32_t start = platform::TickCount();
  while (calls_.load() > own &&
         platform::TickDiff(platform::TickCount(), start) < static_cast<int32_t>(limit_ms)) {
    platform::SleepMs(1);
  }
  return calls_.load() > 0;
}

}  // namespace tarvel
