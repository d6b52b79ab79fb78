// Events to the host: RaiseEvent queues a row in the event queue
// (Plugins/EventQueue.h) and announces it with message 1811; the host's
// GetEvents collects the queue. One notice stands for everything queued
// until the host's next collection; while events wait uncollected the
// notice is repeated once a second (by a timer on the instance's creating
// thread), so a host that let one notice pass still hears of them within
// two seconds.
//
// Threads: any thread may raise events; the queue has its own lock, and no
// message is sent while it is held.
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

// ---------------------------------------------------------------------------
// Events

void TvopPlugin::RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) {
  if (events_.Raise(global, name, params, [this] { OfferQueueToHost(); })) AnnounceEvents();
}

void TvopPlugin::RepeatEventNotice() {
  if (events_.RepeatDue()) AnnounceEvents();
}

void TvopPlugin::AnnounceEvents() {
  // Lines this thread holds in a batch go first: a host that answers the
  // notice at once reads them before the events they belong to.
  if (log_.InBatch()) FlushLogBatch();
  if (PostToHost(PLUGIN_MSG_EVENTS, 0)) return;
  // Not delivered: the next event announces again. Events another thread
  // queued meanwhile, counting on this notice, are announced by the repeat
  // after kNoticeRepeatMs at the latest.
  events_.ForgetNotice();
}

void TvopPlugin::OfferQueueToHost() {
  const platform::WindowHandle window = host_.Window();
  if (!window) return;
  // A host on this thread then reads the lines before the events, as it
  // would without the batch.
  if (log_.InBatch()) FlushLogBatch();
  intptr_t ignored = 0;
  platform::SendMessageWithTimeout(window, PLUGIN_MSG_EVENTS, host_.Tag(), 0, kHostSendTimeoutMs,
                                   &ignored);
}

int32_t TvopPlugin::DoGetEvents(PPluginCallRec rec) {
  if (events_.Collect(rec)) AnnounceEvents();
  return kResultOk;
}

int32_t TvopPlugin::PendingEventItems() const {
  return events_.PendingItems();
}

TvopParamsList* TvopPlugin::HandedOutEvents() const {
  return events_.HandedOut();
}

bool TvopPlugin::PostToHost(uint32_t message, intptr_t lparam) {
  const platform::WindowHandle window = host_.Window();
  if (!window) return false;
  const uintptr_t tag = host_.Tag();
  if (platform::PostMessageTo(window, message, tag, lparam)) return true;
  intptr_t ignored = 0;
  return platform::SendMessageWithTimeout(window, message, tag, lparam, kHostSendTimeoutMs,
                                          &ignored);
}

}  // namespace tarvel
