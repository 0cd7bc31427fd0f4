// Clock services: the millisecond tick, local time and sleeping.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock, truncated to 32 bits; wraps after about
// 49.7 days, so callers subtract ticks in unsigned arithmetic. Any thread.
uint32_t GetTickCount();

struct LocalTime {
  int nYear, nMonth, nDay, nHour, nMinute, nSecond, nMilliseconds;
};

// The wall-clock time in the local time zone. Any thread.
LocalTime GetLocalTime();

// Blocks the calling thread for at least the given milliseconds.
void Sleep(uint32_t dwMilliseconds);

}  // namespace platform
