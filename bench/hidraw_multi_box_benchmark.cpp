// Four boxes emulated behind hidraw nodes updated at once by the Linux backend, each on a thread
// of its own, as veltabox-cli updates them. The emulation costs more with every box (umockdev
// hands every write of every node through one thread of the testbed), so besides each box's
// update against the one-box floor this prints the same with each write's own duration taken
// out: for every data block, the time from the end of its pause (20 ms after the previous
// block's write returned) to the return of its write, which is the write and the pause's own
// lateness of a few microseconds; the other reports are counted at the data blocks' mean.
// Prints figures; not a test. Runs itself again under umockdev's preload when started without it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/parallel_updates.h"
#include "tests/emulated_box/emulated_box.h"

namespace {

constexpr std::uint32_t UPDATE_REPORTS = 1430;

// The mean time from a data block's pause end to its write's return, in microseconds.
double MeanBlockWriteUs(const BoxRun& run) {
    double total = 0;
    for (std::size_t i = 1; i < run.blocksWrittenUs.size(); ++i)
        total += static_cast<double>(run.blocksWrittenUs[i] - run.blocksWrittenUs[i - 1]) - 20000.0;
    return run.blocksWrittenUs.size() > 1 ? total / static_cast<double>(run.blocksWrittenUs.size() - 1) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!StartEmulation("hidraw_multi_box_benchmark", argv)) return 1;
    const int boxes = BoxCount(argc, argv, 4);
    std::vector<int> slots;
    for (int i = 0; i < boxes; ++i) slots.push_back(emu::AddBoxSlot(sim::MakeBox(1, true), "BENCH" + std::to_string(i)));
    for (const int slot : slots) emu::Plug(slot);

    const std::vector<BoxRun> runs = UpdateEveryBoxAtOnce();
    bool ok = static_cast<int>(runs.size()) == boxes;
    double slowest = 0;
    double slowestWithoutWrites = 0;
    double writeUs = 0;
    double cpu = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto index = static_cast<std::size_t>(emu::BoxOf(slots[i]));
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        const sim::Box& box = sim::g_world.boxes[index];
        ok = ok && runs[i].updated && box.finished && box.violations.empty();
        slowest = std::max(slowest, runs[i].wallSeconds);
        const double meanWriteUs = MeanBlockWriteUs(runs[i]);
        writeUs += meanWriteUs / boxes;
        slowestWithoutWrites = std::max(slowestWithoutWrites, runs[i].wallSeconds - UPDATE_REPORTS * meanWriteUs / 1e6);
        cpu += runs[i].cpuSeconds;
    }
    emu::Stop();

    PrintUpdates(boxes, "emulated boxes", ok, slowest, "");
    std::printf("one write        %.1f us on average through umockdev, %d boxes at once\n", writeUs, boxes);
    std::printf("without the emulation's writes  %.4f of the floor (goal <= 1.01)\n", slowestWithoutWrites / UPDATE_PAUSE_FLOOR_S);
    std::printf("CPU time         %.3f s per box, the boxes' threads\n", cpu / boxes);
    return ok ? 0 : 1;
}
