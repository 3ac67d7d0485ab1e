// Eight simulated boxes updated at once in real time, each on a thread of its own: every box's
// update against the floor its pauses set, and the processor time each costs. Prints figures;
// not a test.
#include <algorithm>
#include <cstdio>

#include "bench/bench_support.h"
#include "bench/parallel_updates.h"
#include "platform/sim/sim_box.h"

int main(int argc, char** argv) {
    const int boxes = BoxCount(argc, argv, 8);
    sim::Reset();
    sim::g_world.realTime = true;
    for (int i = 0; i < boxes; ++i) sim::AddBox(sim::MakeBox(1, true));

    const std::vector<BoxRun> runs = UpdateEveryBoxAtOnce();
    bool ok = static_cast<int>(runs.size()) == boxes;
    double slowest = 0;
    double cpu = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const sim::Box& box = sim::g_world.boxes[i];
        ok = ok && runs[i].updated && box.finished && box.violations.empty();
        slowest = std::max(slowest, runs[i].wallSeconds);
        cpu += runs[i].cpuSeconds;
    }
    PrintUpdates(boxes, "boxes", ok, slowest, " (goal <= 1.02)");
    std::printf("CPU time         %.3f s per box (%.2f %% of its wall time)\n", cpu / boxes, 100.0 * cpu / boxes / slowest);
    return ok ? 0 : 1;
}
