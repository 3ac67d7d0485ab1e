// The program's pauses on the simulated world's clock, each one recorded.
#include "platform/sim/sim_box.h"
#include "platform/system.h"

void SystemPause(std::uint32_t milliseconds) {
    {
        const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
        sim::g_world.pauses.push_back(milliseconds);
    }
    sim::WaitFor(milliseconds);
}

std::uint64_t SystemClockMicroseconds() { return sim::NowUs(); }

// Recorded as the milliseconds that were still left, so that a pause which the window work
// before it has shortened shows as such. The world's clock waits in whole milliseconds; the
// rest is rounded up, so the pause never ends before the deadline.
void SystemPauseUntil(std::uint64_t deadline) {
    const std::uint64_t now = sim::NowUs();
    const std::uint64_t left = deadline > now ? deadline - now : 0;
    const auto milliseconds = static_cast<std::uint32_t>((left + 999) / 1000);
    {
        const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
        sim::g_world.pauses.push_back(milliseconds);
    }
    if (milliseconds > 0) sim::WaitFor(milliseconds);
}
