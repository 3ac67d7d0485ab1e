// A box is outside the program and may be broken or hostile: whatever it declares or answers,
// nothing is read or written outside the report buffers, and nothing that could damage its
// firmware is sent to a box that cannot take it.
#include "device/protocol.h"

#include "sim_fixture.h"

namespace {

class HostileBoxTest : public SimTest {};

TEST_F(HostileBoxTest, ReportLengthsBeyondTheBuffersAreRefusedBeforeAnythingIsSent) {
    for (const auto& lengths : {std::pair<int, int>{65, 64}, {64, 65}, {64, 0xFFFF}}) {
        sim::Reset();
        sim::Box box = sim::MakeBox(1, true);
        box.inputReportLength = static_cast<std::uint16_t>(lengths.first);
        box.outputReportLength = static_cast<std::uint16_t>(lengths.second);
        sim::AddBox(box);
        EXPECT_EQ(FindDevice(g_device), DEV_ERR_UNUSABLE);
        EXPECT_TRUE(sim::g_world.wire.empty());
        CloseDevice(g_device);
    }
}

TEST_F(HostileBoxTest, BootloaderBoxTooShortForAFullDataBlockIsRefusedBeforeAnyErase) {
    sim::Box box = sim::MakeBox(1, true);
    box.outputReportLength = MIN_BOOTLOADER_OUTPUT_LENGTH - 1;
    sim::AddBox(box);
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_UNUSABLE);
    EXPECT_EQ(sim::OutputReports().size(), 1u) << "only the info request";

    sim::Reset();
    box.outputReportLength = MIN_BOOTLOADER_OUTPUT_LENGTH;
    sim::AddBox(box);
    CloseDevice(g_device);
    EXPECT_EQ(FindDevice(g_device), DEV_OK);
}

TEST_F(HostileBoxTest, ShortInputReportsAreDecodedWithinTheBuffer) {
    sim::Box box = sim::MakeBox(1, false);
    box.appKind = 3;
    box.inputReportLength = 10;
    box.outputReportLength = 12;  // enough for every application-mode request
    sim::AddBox(box);

    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    // Bytes 4 to 9 came from the box, the rest of the block from the zeroed buffer.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(g_device.block32[i], 0xC0 + 32 + i);
    for (int i = 6; i < 32; ++i) EXPECT_EQ(g_device.block32[i], 0);
}

TEST_F(HostileBoxTest, RecordWithOversizedLengthsNeverReachesTheSystem) {
    sim::AddBox(sim::MakeBox(1, false));
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    sim::g_world.wire.clear();
    g_device.outputReportLength = 200;
    std::uint8_t block[40];
    EXPECT_EQ(ReadBlock40(g_device, block), DEV_ERR_WRITE);
    g_device.outputReportLength = 64;
    g_device.inputReportLength = 200;
    EXPECT_EQ(ReadBlock40(g_device, block), DEV_ERR_READ);
}

}  // namespace
