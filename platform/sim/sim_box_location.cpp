// A simulated box's place on the bus (its place in the world's list: "sim-1", "sim-2", ...),
// what tells one of its arrivals from another, and its serial number.
#include <mutex>

#include "platform/console.h"
#include "platform/serial_number.h"
#include "platform/sim/sim_box.h"

namespace {

const sim::Interface* Present(const std::u16string& path, std::size_t* index) {
    for (std::size_t i = 0; i < sim::g_world.interfaces.size(); ++i) {
        const sim::Interface& iface = sim::g_world.interfaces[i];
        if (iface.path == path && iface.present) {
            *index = i;
            return &iface;
        }
    }
    return nullptr;
}

}  // namespace

std::string BoxLocation(const std::u16string& path) {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    for (std::size_t i = 0; i < sim::g_world.interfaces.size(); ++i)
        if (sim::g_world.interfaces[i].path == path) return "sim-" + std::to_string(i + 1);
    return std::string();
}

std::string BoxInstance(const std::u16string& path) {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    std::size_t index = 0;
    const sim::Interface* iface = Present(path, &index);
    return iface != nullptr ? "sim-" + std::to_string(index + 1) + "#" + std::to_string(iface->instance) : std::string();
}

std::string BoxSerial(const std::u16string& path) {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    std::size_t index = 0;
    const sim::Interface* iface = Present(path, &index);
    if (iface == nullptr || iface->kind != sim::InterfaceKind::Box) return std::string();
    return UsableSerialNumber(sim::g_world.boxes.at(static_cast<std::size_t>(iface->box)).serial);
}

// Every simulated box may be opened.
std::string ConsoleDeniedAdvice(const std::u16string&) { return std::string(); }
