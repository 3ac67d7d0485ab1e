// What the benchmarks share: the clocks they read, their arguments, the lines their figures start
// with, and the start of those that emulate boxes behind hidraw nodes in their own process.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/sim/sim_ui.h"
#include "resources/resource_ids.h"
#include "tests/emulated_box/emulated_box.h"
#include "tests/update_floor.h"

inline double ThreadCpuSeconds() {
    timespec used;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// How many boxes to update at once: the first argument, else `fallback`.
inline int BoxCount(int argc, char** argv, int fallback) { return argc > 1 ? std::atoi(argv[1]) : fallback; }

// What the click on "Update" cost until the update had ended: the whole update, since the
// window system the benchmarks run on handles the click in the clicking thread.
struct ClickCost {
    double wallSeconds = 0;
    double threadCpuSeconds = 0;   // the program's thread
    double processCpuSeconds = 0;  // with every other thread of the process
};

inline ClickCost ClickUpdate() {
    ClickCost cost;
    const auto wallStart = std::chrono::steady_clock::now();
    const double threadStart = ThreadCpuSeconds();
    const std::clock_t processStart = std::clock();
    simui::Click(IDC_UPDATE);
    cost.threadCpuSeconds = ThreadCpuSeconds() - threadStart;
    cost.processCpuSeconds = static_cast<double>(std::clock() - processStart) / CLOCKS_PER_SEC;
    cost.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return cost;
}

// One box's update against the floor its pauses set; `cpuOf` says whose processor time it is.
inline void PrintUpdate(bool ok, std::size_t reports, double wall, double cpu, const char* cpuOf) {
    std::printf("update %s: %zu reports\n", ok ? "succeeded" : "FAILED", reports);
    std::printf("wall time        %.3f s\n", wall);
    std::printf("pause floor      %.3f s\n", UPDATE_PAUSE_FLOOR_S);
    std::printf("wall / floor     %.4f (goal <= 1.01)\n", wall / UPDATE_PAUSE_FLOOR_S);
    std::printf("CPU time         %.3f s (%.2f %% of wall, goal < 2 %%)%s\n", cpu, 100.0 * cpu / wall, cpuOf);
}

// Many boxes at once: the slowest against the floor of one box; `goal` follows the ratio.
inline void PrintUpdates(int boxes, const char* kind, bool ok, double slowest, const char* goal) {
    std::printf("%d %s at once %s\n", boxes, kind, ok ? "updated" : "FAILED");
    std::printf("slowest box      %.3f s\n", slowest);
    std::printf("pause floor      %.3f s (one box)\n", UPDATE_PAUSE_FLOOR_S);
    std::printf("wall / floor     %.4f%s\n", slowest / UPDATE_PAUSE_FLOOR_S, goal);
}

// The emulated boxes live in this process, behind umockdev's preload: a benchmark started without
// it runs itself again under it. False, said on stderr, when neither that nor the emulation's
// start worked.
inline bool StartEmulation(const char* benchmark, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
        execv("/proc/self/exe", argv);
        std::fprintf(stderr, "%s: running again under umockdev's preload: %s\n", benchmark, std::strerror(errno));
        return false;
    }
    std::string error;
    if (emu::Start(emu::FrontDoor::Native, &error)) return true;
    std::fprintf(stderr, "%s: %s\n", benchmark, error.c_str());
    return false;
}
