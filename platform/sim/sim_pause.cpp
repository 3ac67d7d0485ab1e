// The program's pauses on the simulated world's clock, each one recorded.
#include "platform/sim/sim_box.h"
#include "platform/system.h"

void SystemPause(std::uint32_t milliseconds) {
    sim::g_world.pauses.push_back(milliseconds);
    sim::WaitFor(milliseconds);
}
