// The stand-in host's feed reader: a thread of its own reads and parses the
// feed and queues the portions for the main thread, waking its window each
// time; errors in the feed go to the printer. The queue is shared under its
// mutex; nothing else is.
#pragma once

#include <deque>
#include <istream>
#include <memory>

#include "Common/ThreadSafety.h"
#include "feed.h"
#include "platform/window.h"
#include "printer.h"

namespace tarvel::host {

// FeedQueue hands parsed portions from the reader thread to the main thread.
struct FeedQueue {
  Mutex mu;
  std::deque<FeedPortion> portions TARVEL_GUARDED_BY(mu);
  bool done TARVEL_GUARDED_BY(mu) = false;
};

// ReadFeed reads the feed to its end (standard input when owned is empty)
// and marks the queue done.
void ReadFeed(std::unique_ptr<std::istream> owned, bool csv, std::shared_ptr<FeedQueue> queue,
              std::shared_ptr<Printer> printer, platform::WindowHandle wake);

}  // namespace tarvel::host
