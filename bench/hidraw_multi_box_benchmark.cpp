// Four boxes emulated behind hidraw nodes updated at once by the Linux backend, each on a thread
// of its own, as veltabox-cli updates them. The emulation costs more with every box (umockdev
// hands every write of every node through one thread of the testbed), so besides each box's
// update against the one-box floor this prints the same with each write's own duration, measured
// under the same load, taken out. Prints figures; not a test. Runs itself again under umockdev's
// preload when started without it.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/parallel_updates.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "tests/emulated_box/emulated_box.h"
#include "tests/update_floor.h"

namespace {

constexpr const char* PRELOAD = "libumockdev-preload.so.0";
constexpr std::uint32_t UPDATE_REPORTS = 1430;
constexpr int PACED_WRITES = 250;

// The mean duration of a 64-byte write while `writers` threads write at once, each paced as the
// data blocks are (20 ms from each write's return), to devices that take a report at once.
double MeanWriteUs(int writers) {
    std::vector<int> slots;
    for (int i = 0; i < writers; ++i) slots.push_back(emu::AddOtherDeviceSlot(0x1209, 0x0001, "PACED" + std::to_string(i)));
    std::vector<std::string> nodes;
    for (const int slot : slots) nodes.push_back(emu::Plug(slot));
    std::atomic<long long> totalUs{0};
    std::vector<std::thread> threads;
    for (const std::string& node : nodes) {
        threads.emplace_back([&node, &totalUs] {
            const DeviceHandle device = HidOpen(std::u16string(node.begin(), node.end()).c_str(), nullptr);
            std::uint8_t report[64] = {1};
            for (int i = 0; i < PACED_WRITES; ++i) {
                const std::uint64_t start = SystemClockMicroseconds();
                HidWriteReport(device, report, sizeof report);
                const std::uint64_t returned = SystemClockMicroseconds();
                totalUs += static_cast<long long>(returned - start);
                SystemPauseUntil(returned + 20000);
            }
            HidClose(device);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const int slot : slots) emu::Unplug(slot);
    return static_cast<double>(totalUs) / (writers * PACED_WRITES);
}

}  // namespace

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        setenv("LD_PRELOAD", PRELOAD, 1);
        execv("/proc/self/exe", argv);
        std::perror("hidraw_multi_box_benchmark: running again under umockdev's preload");
        return 1;
    }
    const int boxes = argc > 1 ? std::atoi(argv[1]) : 4;
    std::string error;
    if (!emu::Start(emu::FrontDoor::Native, &error)) {
        std::fprintf(stderr, "hidraw_multi_box_benchmark: %s\n", error.c_str());
        return 1;
    }
    std::vector<int> slots;
    for (int i = 0; i < boxes; ++i) slots.push_back(emu::AddBoxSlot(sim::MakeBox(1, true), "BENCH" + std::to_string(i)));
    for (const int slot : slots) emu::Plug(slot);

    const std::vector<BoxRun> runs = UpdateEveryBoxAtOnce();
    bool ok = static_cast<int>(runs.size()) == boxes;
    double slowest = 0;
    double cpu = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        const sim::Box& box = sim::g_world.boxes[static_cast<std::size_t>(emu::BoxOf(slots[i]))];
        ok = ok && runs[i].updated && box.finished && box.violations.empty();
        slowest = std::max(slowest, runs[i].wallSeconds);
        cpu += runs[i].cpuSeconds;
    }
    const double writeUs = MeanWriteUs(boxes);
    emu::Stop();

    std::printf("%d emulated boxes at once %s\n", boxes, ok ? "updated" : "FAILED");
    std::printf("slowest box      %.3f s\n", slowest);
    std::printf("pause floor      %.3f s (one box)\n", UPDATE_PAUSE_FLOOR_S);
    std::printf("wall / floor     %.4f\n", slowest / UPDATE_PAUSE_FLOOR_S);
    std::printf("one write        %.1f us through umockdev with %d writers at once\n", writeUs, boxes);
    std::printf("without the emulation's writes  %.4f of the floor (goal <= 1.01)\n",
                (slowest - UPDATE_REPORTS * writeUs / 1e6) / UPDATE_PAUSE_FLOOR_S);
    std::printf("CPU time         %.3f s per box, the boxes' threads\n", cpu / boxes);
    return ok ? 0 : 1;
}
