// Threads: identity, sleeping and yielding. Thread ids are the operating
// system's (GetCurrentThreadId on Windows, gettid on Linux), never 0.
#pragma once

#include <cstdint>

namespace tarvel::platform {

uint32_t CurrentThreadId();
void SleepMs(uint32_t ms);
void YieldThread();

}  // namespace tarvel::platform
