// The hidraw backend against emulated boxes: the simulated box of platform/sim/ behind hidraw
// nodes that umockdev emulates in this process (tests/emulated_box/, front door Native). The
// binary runs under umockdev's preload, which CTest sets; libudev, open, read, write and ioctl
// then meet the testbed instead of the machine's devices.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "platform/sim/sim_box.h"
#include "tests/emulated_box/emulated_box.h"

// Every test starts with no box held and no device of its own plugged in, and ends by checking
// that the backend closed every node it opened.
class HidrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> hold(emu::WorldLock());
            sim::Reset();
        }
        ResetDeviceRecord(g_device);
        openNodes_ = OpenNodes();
    }
    void TearDown() override {
        CloseDevice(g_device);
        for (int slot : slots_) emu::Unplug(slot);
        EXPECT_EQ(OpenNodes(), openNodes_) << "a device node was left open";
    }

    int AddBox(const sim::Box& box) {
        slots_.push_back(emu::AddBoxSlot(box, "VB" + std::to_string(1000 + slots_.size())));
        return slots_.back();
    }
    int PlugBox(const sim::Box& box) {
        const int slot = AddBox(box);
        emu::Plug(slot);
        return slot;
    }
    int PlugOther(std::uint16_t vendorId = 0x046D, std::uint16_t productId = 0xC077) {
        slots_.push_back(emu::AddOtherDeviceSlot(vendorId, productId, "OT" + std::to_string(1000 + slots_.size())));
        emu::Plug(slots_.back());
        return slots_.back();
    }
    // The box behind a slot as it is now, taken under the emulator's lock.
    static sim::Box BoxState(int slot) {
        const auto box = static_cast<std::size_t>(emu::BoxOf(slot));
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        return sim::g_world.boxes.at(box);
    }
    static std::u16string Path(int slot) {
        const std::string node = emu::NodeOf(slot);
        return std::u16string(node.begin(), node.end());
    }
    static unsigned NodeNumber(int slot) {
        return static_cast<unsigned>(std::stoul(emu::NodeOf(slot).substr(std::string("/dev/hidraw").size())));
    }

private:
    // The process's descriptors of emulated nodes (their pseudo-terminals).
    static int OpenNodes() {
        int count = 0;
        DIR* fds = opendir("/proc/self/fd");
        if (fds == nullptr) return -1;
        for (dirent* entry = readdir(fds); entry != nullptr; entry = readdir(fds)) {
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).rfind("/dev/pts/", 0) == 0) ++count;
        }
        closedir(fds);
        return count;
    }

    std::vector<int> slots_;
    int openNodes_ = 0;
};
