// A whole update by the Linux program's logic and its hidraw backend against the emulated box
// (tests/emulated_box/, umockdev in this process) in real time: how close it comes to the floor
// the pauses set, how little CPU the program's thread burns, and where the rest of the time goes.
// Prints figures; not a test. Runs itself again under umockdev's preload when started without it.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "device/device_record.h"
#include "device/protocol.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_ui.h"
#include "tests/emulated_box/emulated_box.h"

namespace {

constexpr double PAUSE_FLOOR_S = UPDATE_PAUSE_FLOOR_S;
constexpr int PACED_WRITES = 250;

// Where a report's time goes, measured as the update spends it: writes of a 64-byte report to
// a device that takes it at once (umockdev's socket to the emulator's thread and back, without the
// box model), each followed by a 20 ms pause counted from the write's return.
struct PacedWrite {
    double writeUs;  // mean duration of the write
    double lateUs;   // mean time by which the pause ended after its deadline
};

PacedWrite PacedWrites() {
    const int slot = emu::AddOtherDeviceSlot(0x1209, 0x0001, "PACED");
    const std::string node = emu::Plug(slot);
    const DeviceHandle device = HidOpen(std::u16string(node.begin(), node.end()).c_str(), nullptr);
    std::uint8_t report[64] = {1};
    PacedWrite mean = {0, 0};
    int written = 0;
    for (int i = 0; i < PACED_WRITES; ++i) {
        const std::uint64_t start = SystemClockMicroseconds();
        written += HidWriteReport(device, report, sizeof report) ? 1 : 0;
        const std::uint64_t returned = SystemClockMicroseconds();
        SystemPauseUntil(returned + 20000);
        mean.writeUs += static_cast<double>(returned - start) / PACED_WRITES;
        mean.lateUs += static_cast<double>(SystemClockMicroseconds() - (returned + 20000)) / PACED_WRITES;
    }
    HidClose(device);
    emu::Unplug(slot);
    if (written != PACED_WRITES) mean.writeUs = -1;
    return mean;
}

// The box's own clock: the time between two data blocks as they reached it.
struct Gaps {
    double meanMs;
    double mostMs;
};

Gaps DataBlockGaps(int box) {
    const std::vector<std::uint64_t> arrivals = emu::ArrivalsAtBox(box, CMD_WRITE_DATA);
    Gaps gaps = {0, 0};
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        const double gap = static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1000;
        gaps.meanMs += gap / static_cast<double>(arrivals.size() - 1);
        gaps.mostMs = std::max(gaps.mostMs, gap);
    }
    return gaps;
}

}  // namespace

int main(int, char** argv) {
    if (!StartEmulation("hidraw_update_benchmark", argv)) return 1;
    simui::Reset();
    ResetDeviceRecord(g_device);
    const int slot = emu::AddBoxSlot(sim::MakeBox(1, true), "BENCH");
    emu::Plug(slot);
    const int box = emu::BoxOf(slot);

    ClickCost cost;
    std::uint32_t queryReports = 0;
    simui::RunProgramWithScript({[&] {
                                     {
                                         std::lock_guard<std::mutex> hold(emu::WorldLock());
                                         queryReports = sim::g_world.boxes[static_cast<std::size_t>(box)].reportsReceived;
                                     }
                                     cost = ClickUpdate();
                                 },
                                 [] { simui::Cancel(); }});
    const double wall = cost.wallSeconds;

    bool ok;
    std::uint32_t reports;
    {
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        const sim::Box& state = sim::g_world.boxes[static_cast<std::size_t>(box)];
        ok = state.finished && state.violations.empty() && simui::g_ui.boxes.empty();
        reports = state.reportsReceived - queryReports;
    }
    const Gaps gaps = DataBlockGaps(box);
    // After the update, so that the writes meet the thread as the update left it.
    const PacedWrite paced = PacedWrites();
    emu::Stop();

    PrintUpdate(ok, reports, wall, cost.threadCpuSeconds, ", the program's thread");
    std::printf("                 %.3f s with the emulated box's and umockdev's threads\n", cost.processCpuSeconds);
    std::printf("over the floor   %.1f us per report\n", (wall - PAUSE_FLOOR_S) * 1e6 / reports);
    std::printf("  the write      %.1f us through umockdev's socket to the emulator's thread and back\n", paced.writeUs);
    std::printf("  the pause      %.1f us late\n", paced.lateUs);
    std::printf("                 (means of %d writes paced as the data blocks are)\n", PACED_WRITES);
    // What a box that takes a report at once would leave: the emulation's share estimated by the
    // paced writes' mean, the rest is the program's own.
    const double ownUs = (wall - PAUSE_FLOOR_S) * 1e6 / reports - paced.writeUs;
    std::printf("without the emulation's writes  %.4f of the floor, %.1f us per report the program's own\n",
                (wall - reports * paced.writeUs / 1e6) / PAUSE_FLOOR_S, ownUs);
    std::printf("at the box       data blocks %.3f ms apart on average, %.3f ms at most\n", gaps.meanMs, gaps.mostMs);
    return ok ? 0 : 1;
}
