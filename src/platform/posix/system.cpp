#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <random>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace tarvel::platform {

uint32_t SystemTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t CurrentThreadId() {
  thread_local uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void YieldThread() {
  sched_yield();
}

namespace {
thread_local uint32_t t_locale = 1033;
}  // namespace

uint32_t ThreadLocaleId() {
  return t_locale;
}

bool SetThreadLocaleId(uint32_t lcid) {
  t_locale = lcid;
  return true;
}

std::string NewGuidText() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  uint8_t b[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = rng();
    for (int j = 0; j < 8; ++j) b[i + j] = static_cast<uint8_t>(r >> (8 * j));
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[b[i] >> 4];
    out += hex[b[i] & 15];
  }
  out += '}';
  return out;
}

}  // namespace tarvel::platform
