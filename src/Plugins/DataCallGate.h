// DataCallGate: the gate every data call of an instance passes (ProcessData,
// GetData, GetEvents), so that the last UNLOAD frees the row lists only
// after the data calls that started before it have finished.
//
//  - Run: a call waits while the gate is closed and another call still runs,
//    is refused when closed (-1), and is counted while its work runs (an
//    exception gives -3).
//  - Open / Close: the first LOAD opens the gate, the last UNLOAD closes it.
//  - WaitForOthers: the closing UNLOAD waits for the calls that passed
//    before it closed, except those of its own thread (an UNLOAD issued
//    from inside a data call must not wait for itself).
//
// Threads: data calls run on any host thread without a lock; the gate is
// atomics only, so that a data call never waits for a command, nor a
// command for a lock a data call holds. Count first, then check: a Close
// after a call's check sees the count and waits for the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace tarvel {

class DataCallGate {
 public:
  DataCallGate() = default;
  DataCallGate(const DataCallGate&) = delete;
  DataCallGate& operator=(const DataCallGate&) = delete;

  int32_t Run(const std::function<int32_t()>& work);
  void Open() { closed_ = false; }
  void Close() { closed_ = true; }
  bool Closed() const { return closed_.load(); }
  // Busy: a data call runs.
  bool Busy() const { return calls_.load() > 0; }
  // WaitForOthers waits up to limit_ms for the calls of other threads to
  // end; true when calls still run after it.
  bool WaitForOthers(uint32_t limit_ms) const;

 private:
  int32_t CallsOfThisThread() const;

  std::atomic<bool> closed_{false};
  std::atomic<int32_t> calls_{0};
  // Threads inside a call (one slot per call, 0 when free); a call beyond
  // the slots is counted in calls_ only. No thread-local data: in the DLL
  // that would stay behind, per thread, when the host unloads it.
  static constexpr int kSlots = 32;
  std::atomic<uint32_t> threads_[kSlots] = {};
};

}  // namespace tarvel
