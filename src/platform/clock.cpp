#include "platform/clock.h"

#include <stdexcept>

namespace tarvel::platform {
namespace {
std::atomic<ManualTickClock*> g_manual{nullptr};

class SystemTickSource final : public TickSource {
 public:
  uint32_t Now() const override { return TickCount(); }
};
}  // namespace

const TickSource& SystemTicks() {
  static const SystemTickSource source;
  return source;
}

uint32_t TickCount() {
  ManualTickClock* manual = g_manual.load(std::memory_order_acquire);
  return manual ? manual->Now() : SystemTickCount();
}

ManualTickClock::ManualTickClock(uint32_t start) : now_(start) {
  ManualTickClock* expected = nullptr;
  if (!g_manual.compare_exchange_strong(expected, this))
    throw std::logic_error("a manual tick clock is already installed");
}

ManualTickClock::~ManualTickClock() {
  g_manual.store(nullptr, std::memory_order_release);
}

}  // namespace tarvel::platform
