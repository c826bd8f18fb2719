// Clock and sleep: the time services that retries, timing and time stamps use.
#pragma once
#include <cstdint>

namespace ostra::platform {

// Milliseconds since an unspecified start; wraps like a 32-bit tick counter.
uint32_t GetTickCount();

// Suspends the calling thread for the given number of milliseconds (0 yields).
void Sleep(uint32_t milliseconds);

// The local wall-clock time broken into its parts.
struct LocalTime {
    int Year, Month, Day;  // Month 1..12, Day 1..31
    int Hour, Minute, Second, Millisecond;
};

// The current local time, in the process's time zone.
LocalTime GetLocalTime();

}  // namespace ostra::platform
