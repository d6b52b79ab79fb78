// The stand-in host's feed reader (see feed_reader.h). Runs on its own
// thread; touches only the queue (under its lock), the printer and the
// wake-up message.
#include "feed_reader.h"

#include <iostream>
#include <string>
#include <vector>

namespace tarvel::host {
namespace {

// Posted by the feed reader so the main thread looks at the queue at once.
constexpr uint32_t kFeedWakeMessage = platform::kWmUser + 100;

}  // namespace

void ReadFeed(std::unique_ptr<std::istream> owned, bool csv, std::shared_ptr<FeedQueue> queue,
              std::shared_ptr<Printer> printer, platform::WindowHandle wake) {
  std::istream& in = owned ? *owned : std::cin;
  FeedParser parser(csv);
  std::string line;
  auto hand_over = [&](std::vector<FeedPortion>& portions, bool done) {
    MutexLock lock(queue->mu);
    for (auto& p : portions) queue->portions.push_back(std::move(p));
    queue->done = done;
    portions.clear();
  };
  std::vector<FeedPortion> portions;
  std::vector<FeedError> errors;
  while (std::getline(in, line)) {
    parser.Line(line, portions, errors);
    for (const FeedError& e : errors)
      printer->Err("feed line " + std::to_string(e.line) + ": " + e.message + " (skipped)");
    errors.clear();
    if (!portions.empty()) {
      hand_over(portions, false);
      platform::PostMessageTo(wake, kFeedWakeMessage, 0, 0);
    }
  }
  parser.Finish(portions);
  hand_over(portions, true);
  platform::PostMessageTo(wake, kFeedWakeMessage, 0, 0);
}

}  // namespace tarvel::host
