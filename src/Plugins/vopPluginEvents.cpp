// Events to the host: RaiseEvent queues a row and announces it with
// message 1811; the host's first GetEvents receives the queue, its second
// (with the address it received) empties it. Events raised in between wait
// in a live queue and are announced again, so none is lost.
//
// Threads: any thread may raise events; the queues are guarded by
// events_mutex_, and no message is sent while it is held.
#include "Common/Assert.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"
#include "platform/text.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

constexpr int32_t kEventQueueLimit = 20000;

}  // namespace

// ---------------------------------------------------------------------------
// Events

void TvopPlugin::RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) {
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (!pending_events_) return;
    // Refuse a broken parameter list before the row is begun, so no half
    // row is ever queued.
    if (params && !params->IsWellFormed()) AssertionFailure("Common/vopParamLst", 407);
    if (pending_events_->Count > kEventQueueLimit) pending_events_->Clear();
    if (global) pending_events_->Add("EVENT-GLOBAL", OleVariant(true));
    pending_events_->Add("EVENT-TYPE", OleVariant(platform::AnsiUpperCase(name)));
    if (params) pending_events_->AddList(params);
    pending_events_->AddNewRow();
  }
  PostToHost(PLUGIN_MSG_EVENTS, 0);
}

int32_t TvopPlugin::DoGetEvents(PPluginCallRec rec) {
  bool more_waiting = false;
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (rec->Output.Data == reinterpret_cast<uintptr_t>(events_)) {
      // The host has read the rows it was given.
      if (!events_) throw std::logic_error("no event queue to empty");
      events_->Clear();
      more_waiting = pending_events_ && pending_events_->Count > 0;
    } else {
      if (events_ && pending_events_ && pending_events_->Count > 0) {
        if (events_->Count > kEventQueueLimit) events_->Clear();
        if (events_->Count == 0) {
          std::swap(events_->items, pending_events_->items);
          std::swap(events_->Count, pending_events_->Count);
          std::swap(events_->Capacity, pending_events_->Capacity);
        } else {
          events_->AddList(pending_events_);
          pending_events_->Clear();
        }
      }
      rec->Output.Kind = kValueKindList;
      rec->Output.Data = reinterpret_cast<uintptr_t>(events_);
    }
  }
  if (more_waiting) PostToHost(PLUGIN_MSG_EVENTS, 0);
  return kResultOk;
}

int32_t TvopPlugin::PendingEventItems() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return pending_events_ ? pending_events_->Count : 0;
}

TvopParamsList* TvopPlugin::HandedOutEvents() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return events_;
}

void TvopPlugin::PostToHost(uint32_t message, intptr_t lparam) {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return;
  const uintptr_t tag = host_tag_.load();
  if (platform::PostMessageTo(window, message, tag, lparam)) return;
  intptr_t ignored = 0;
  platform::SendMessageWithTimeout(window, message, tag, lparam, kHostSendTimeoutMs, &ignored);
}

}  // namespace tarvel
