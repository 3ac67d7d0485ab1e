// Every listed box updated at once, each on a thread of its own, as veltabox-cli updates them:
// what each box's update took on the wall clock and on its thread's processor time.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "device/box_list.h"
#include "device/discovery.h"
#include "platform/system.h"
#include "resources/firmware_image.h"
#include "update/engine.h"

struct BoxRun {
    bool updated = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    // When each data block's write had returned, on the program's clock.
    std::vector<std::uint64_t> blocksWrittenUs;
};

// The clock starts at the update, after each box's query, as the dialog's measurements do.
inline std::vector<BoxRun> UpdateEveryBoxAtOnce() {
    std::vector<std::u16string> paths;
    ListBoxes(&paths);
    std::vector<BoxRun> runs(paths.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        threads.emplace_back([&paths, &runs, i] {
            DeviceRecord device;
            ResetDeviceRecord(device);
            if (TakeBox(paths[i], device) != DEV_OK) return;
            const auto wallStart = std::chrono::steady_clock::now();
            const double cpuStart = ThreadCpuSeconds();
            UpdateObserver quiet = {};
            quiet.context = &runs[i];
            quiet.blockWritten = [](void* run, std::uint32_t) {
                static_cast<BoxRun*>(run)->blocksWrittenUs.push_back(SystemClockMicroseconds());
            };
            runs[i].updated = UpdateBox(device, FIRMWARE_IMAGE, FIRMWARE_IMAGE_SIZE, quiet).outcome == UpdateOutcome::Updated;
            runs[i].cpuSeconds = ThreadCpuSeconds() - cpuStart;
            runs[i].wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
            CloseDevice(device);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return runs;
}
