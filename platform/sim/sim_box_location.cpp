// A simulated box's place on the bus: the one its interface was given, else its place in the
// world's list ("sim-1", "sim-2", ...).
#include <mutex>

#include "platform/console.h"
#include "platform/sim/sim_box.h"

std::string BoxLocation(const std::u16string& path) {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    for (std::size_t i = 0; i < sim::g_world.interfaces.size(); ++i)
        if (sim::g_world.interfaces[i].path == path) return "sim-" + std::to_string(i + 1);
    return std::string();
}
