// A whole update against the simulated box in real time: how close the program comes to the
// floor its pauses set, and how little CPU it burns while it waits. Prints figures; not a test.
#include "bench/bench_support.h"
#include "device/device_record.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_ui.h"

int main() {
    sim::Reset();
    simui::Reset();
    ResetDeviceRecord(g_device);
    sim::g_world.realTime = true;
    sim::AddBox(sim::MakeBox(1, true));

    ClickCost cost;
    std::size_t queryReports = 0;
    simui::RunProgramWithScript({[&] {
                                     queryReports = sim::OutputReports().size();
                                     cost = ClickUpdate();
                                 },
                                 [] { simui::Cancel(); }});

    const sim::Box& box = sim::g_world.boxes[0];
    const bool ok = box.finished && box.violations.empty() && simui::g_ui.boxes.empty();
    PrintUpdate(ok, sim::OutputReports().size() - queryReports, cost.wallSeconds, cost.processCpuSeconds, "");
    return ok ? 0 : 1;
}
