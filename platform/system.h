// Process-wide services of the operating system that the logic needs.
#pragma once

#include <cstdint>

// GetLastError: the error code of the calling thread's last failed system call.
std::uint32_t SystemLastError();
// Sleep: blocks the thread for at least `milliseconds`.
void SystemPause(std::uint32_t milliseconds);
