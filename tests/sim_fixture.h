// Every test starts with an empty simulated world and no box held, and ends by checking that
// the code under test released every handle and list it obtained.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "device/discovery.h"
#include "platform/sim/sim_box.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        ResetDeviceRecord(g_device);
    }
    void TearDown() override {
        EXPECT_EQ(sim::g_world.openLists, 0) << "an interface list was not released";
        CloseDevice(g_device);
        EXPECT_EQ(sim::g_world.openHandles, 0) << "a device handle was not closed";
    }
    static sim::Box& Box(int index = 0) { return sim::g_world.boxes.at(static_cast<std::size_t>(index)); }
};

// The bytes a report should carry: `head`, then zeros up to `length`.
inline std::vector<std::uint8_t> ReportBytes(std::vector<std::uint8_t> head, std::size_t length = 64) {
    head.resize(length, 0);
    return head;
}
