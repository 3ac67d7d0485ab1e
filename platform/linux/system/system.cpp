// platform/system.h on Linux: errno as the last error, CLOCK_MONOTONIC as the clock, and pauses
// that never end before their deadline and end close to it.
#include "platform/system.h"

#include <sched.h>
#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

#include "platform/pause_plan.h"

namespace {

constexpr std::uint64_t MICROSECONDS = 1000000;
constexpr unsigned long FINE_TIMER_SLACK_NS = 1000;

timespec TimespecOf(std::uint64_t microseconds) {
    timespec at;
    at.tv_sec = static_cast<time_t>(microseconds / MICROSECONDS);
    at.tv_nsec = static_cast<long>(microseconds % MICROSECONDS * 1000);
    return at;
}

}  // namespace

std::uint32_t SystemLastError() { return static_cast<std::uint32_t>(errno); }

// Rounded up, so that a reading never lies before the moment it was taken.
std::uint64_t SystemClockMicroseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * MICROSECONDS + (static_cast<std::uint64_t>(now.tv_nsec) + 999) / 1000;
}

// clock_nanosleep with an absolute deadline never returns before it, and a signal that ends it
// early only makes it sleep again. It returns late, though: by the thread's timer slack, which
// the kernel adds to every sleep so as to wake threads together (50 us unless changed), and by the
// scheduler's latency. Over an update's 1430 pauses that would add a tenth of a second or more.
// So the thread that paces the box asks for a timer slack of 1 us, once and for good, as the
// Win32 pause asks for a high-resolution timer; and, as every backend's pause does
// (platform/pause_plan.h), the sleep is set early by the lateness the recent wakes have shown and
// the last stretch is given away with sched_yield until the clock reaches the deadline. A virtual
// machine's timers can wake a tenth of a millisecond late even so; what that costs is processor
// time, not lateness.
//
// A failed report is followed by its pause before the caller reads the last error, so errno is
// left as it was. The slack and the lateness are the calling thread's, so that the threads of
// several boxes each keep their own pace.
void SystemPauseUntil(std::uint64_t deadline) {
    static thread_local PausePlan plan = {0};
    static thread_local bool fineSlack = false;
    const int error = errno;
    if (!fineSlack) fineSlack = prctl(PR_SET_TIMERSLACK, FINE_TIMER_SLACK_NS, 0, 0, 0) == 0;
    for (std::uint64_t now = SystemClockMicroseconds(); now < deadline; now = SystemClockMicroseconds()) {
        const std::uint64_t due = PauseSleepDue(plan, now, deadline);
        if (due == 0) {
            sched_yield();
            continue;
        }
        const timespec at = TimespecOf(due);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        PauseNoteWake(plan, due, SystemClockMicroseconds());
    }
    errno = error;
}

void SystemPause(std::uint32_t milliseconds) {
    SystemPauseUntil(SystemClockMicroseconds() + static_cast<std::uint64_t>(milliseconds) * 1000);
}
