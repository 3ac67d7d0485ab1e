// A whole update against the simulated box in real time: how close the program comes to the
// floor its pauses set, and how little CPU it burns while it waits. Prints figures; not a test.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "device/device_record.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_ui.h"
#include "resources/resource_ids.h"
#include "tests/update_floor.h"

namespace {

constexpr double PAUSE_FLOOR_S = UPDATE_PAUSE_FLOOR_S;

}  // namespace

int main() {
    sim::Reset();
    simui::Reset();
    ResetDeviceRecord(g_device);
    sim::g_world.realTime = true;
    sim::AddBox(sim::MakeBox(1, true));

    double wall = 0;
    double cpu = 0;
    std::size_t queryReports = 0;
    simui::RunProgramWithScript({[&] {
                                     queryReports = sim::OutputReports().size();
                                     const auto wallStart = std::chrono::steady_clock::now();
                                     const std::clock_t cpuStart = std::clock();
                                     simui::Click(IDC_UPDATE);
                                     cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
                                     wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
                                 },
                                 [] { simui::Cancel(); }});

    const sim::Box& box = sim::g_world.boxes[0];
    const bool ok = box.finished && box.violations.empty() && simui::g_ui.boxes.empty();
    std::printf("update %s: %zu reports\n", ok ? "succeeded" : "FAILED", sim::OutputReports().size() - queryReports);
    std::printf("wall time        %.3f s\n", wall);
    std::printf("pause floor      %.3f s\n", PAUSE_FLOOR_S);
    std::printf("wall / floor     %.4f (goal <= 1.01)\n", wall / PAUSE_FLOOR_S);
    std::printf("CPU time         %.3f s (%.2f %% of wall, goal < 2 %%)\n", cpu, 100.0 * cpu / wall);
    return ok ? 0 : 1;
}
