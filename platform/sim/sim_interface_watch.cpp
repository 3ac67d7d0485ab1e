// The simulated world's announcements of interfaces arriving and leaving, for the console
// demos: what the world recorded since the watch began, looked at every few milliseconds, which
// is also when the boxes' restarts move on.
#include <chrono>
#include <mutex>

#include "platform/console.h"
#include "platform/sim/sim_box.h"

struct InterfaceWatch {
    std::size_t seen;  // announcements already handed out
};

namespace {

constexpr std::uint32_t LOOK_MS = 20;

}  // namespace

InterfaceWatch* ConsoleWatchInterfaces() {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    return new InterfaceWatch{sim::g_world.announcements.size()};
}

bool ConsoleWaitForChanges(InterfaceWatch* watch, std::uint32_t milliseconds, std::vector<InterfaceChange>* changes) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const int stopsBefore = ConsoleStopRequests(nullptr);
    for (;;) {
        {
            const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
            sim::AdvanceRestarts();
            const auto& announced = sim::g_world.announcements;
            for (; watch->seen < announced.size(); ++watch->seen)
                changes->push_back({announced[watch->seen].arrival, announced[watch->seen].path});
        }
        const auto now = std::chrono::steady_clock::now();
        if (!changes->empty() || now >= end || ConsoleStopRequests(nullptr) != stopsBefore) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        ConsoleWaitForStop(left < LOOK_MS ? static_cast<std::uint32_t>(left) : LOOK_MS);
    }
}

void ConsoleEndWatch(InterfaceWatch* watch) { delete watch; }
