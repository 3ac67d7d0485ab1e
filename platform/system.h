// Process-wide services of the operating system that the logic needs.
#pragma once

#include <cstdint>

// GetLastError: the error code of the calling thread's last failed system call.
std::uint32_t SystemLastError();
// Sleep: blocks the thread for at least `milliseconds`.
void SystemPause(std::uint32_t milliseconds);
// QueryPerformanceCounter in microseconds: a clock that only moves forward, from an origin of
// its own. A reading is never earlier than the moment it was taken, so a deadline counted from it
// is never earlier than that moment plus the interval.
std::uint64_t SystemClockMicroseconds();
// Blocks the thread until SystemClockMicroseconds() has reached `deadline`; returns at once when
// it already has.
void SystemPauseUntil(std::uint64_t deadline);
