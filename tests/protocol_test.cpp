#include "device/protocol.h"

#include "sim_fixture.h"

namespace {

using sim::Direction;

class ProtocolTest : public SimTest {};

TEST_F(ProtocolTest, BootloaderBoxIsAskedForItsInfoThenForTheInformationPage) {
    sim::Box box = sim::MakeBox(2, true);
    box.bootloaderVersion = 0x12345678;
    box.firmwareVersion = 0x00010A00;
    sim::AddBox(box);

    ASSERT_EQ(FindDevice(g_device), DEV_OK);

    const auto& wire = sim::g_world.wire;
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(wire[0].direction, Direction::Output);
    EXPECT_EQ(wire[0].bytes, ReportBytes({1, 0x08}));
    EXPECT_EQ(wire[1].direction, Direction::InputRequested);
    EXPECT_EQ(wire[2].bytes, ReportBytes({1, 0x0A, 12, 0x00, 0xFC, 0x01, 0x08}));
    EXPECT_EQ(wire[3].direction, Direction::InputRequested);

    EXPECT_EQ(g_device.productId, 2);
    EXPECT_EQ(g_device.outputReportLength, 64u);
    EXPECT_EQ(g_device.inputReportLength, 64u);
    EXPECT_EQ(g_device.bootloaderMode, 1);
    EXPECT_EQ(g_device.bootInfo1, 0x11);
    EXPECT_EQ(g_device.bootInfo2, 0x2233);
    EXPECT_EQ(g_device.bootloaderVersion, 0x12345678u);
    EXPECT_EQ(g_device.bootInfo3, 0x44556677u);
    EXPECT_EQ(g_device.bootInfo4, 0x88);
    EXPECT_EQ(g_device.firmwareVersion, 0x00010A00u);  // second word of the page
    EXPECT_EQ(g_device.firmwareInfo, 1u);               // third word
    EXPECT_EQ(g_device.appKind, 0);
    EXPECT_EQ(g_device.appInfo, 0);
}

TEST_F(ProtocolTest, ErasedInformationPageMeansNoFirmwareVersion) {
    sim::Box box = sim::MakeBox();
    box.firmwareVersion = 0xFFFFFFFF;
    sim::AddBox(box);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(g_device.firmwareVersion, 0xFFFFFFFFu);
}

TEST_F(ProtocolTest, ApplicationBoxOfKind3IsAskedForBothBlocks) {
    sim::Box box = sim::MakeBox(1, false);
    box.appKind = 3;
    box.firmwareVersion = 0x00010B00;
    sim::AddBox(box);

    ASSERT_EQ(FindDevice(g_device), DEV_OK);

    const auto out = sim::OutputReports();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, ReportBytes({1, 0x08}));
    EXPECT_EQ(out[1].bytes, ReportBytes({1, 0x1D, 8, 0, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(out[2].bytes, ReportBytes({1, 0x22}));
    EXPECT_EQ(g_device.bootloaderMode, 0);
    EXPECT_EQ(g_device.appKind, 3);
    EXPECT_EQ(g_device.appInfo, 0x0102);
    EXPECT_EQ(g_device.firmwareVersion, 0x00010B00u);
    EXPECT_EQ(g_device.firmwareInfo, 0x0A0B0C0Du);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(g_device.block32[i], 0xC0 + 32 + i);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(g_device.block40[i], static_cast<std::uint8_t>(0xC0 + 40 + i));
    EXPECT_EQ(g_device.bootloaderVersion, 0u);
    EXPECT_EQ(g_device.bootInfo1, 0);
}

TEST_F(ProtocolTest, ApplicationBoxOfAnotherKindIsAskedNothingMore) {
    sim::AddBox(sim::MakeBox(1, false));  // kind 2
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(sim::OutputReports().size(), 1u);
    EXPECT_EQ(g_device.block32[0], 0);
}

TEST_F(ProtocolTest, RefusedBlockReturnsTheBoxErrorWordAndCopiesNothing) {
    sim::Box box = sim::MakeBox(1, false);
    box.appKind = 3;
    box.faults.blockAnswerRefused = true;
    box.faults.blockErrorWord = 0x0102;
    sim::AddBox(box);

    EXPECT_EQ(FindDevice(g_device), 258);
    EXPECT_EQ(sim::OutputReports().size(), 2u) << "no CMD_READ_BLOCK40 after a failed CMD_READ_BLOCK32";
    for (std::uint8_t byte : g_device.block32) EXPECT_EQ(byte, 0);
}

TEST_F(ProtocolTest, RefusalWithErrorWordZeroCountsAsSuccessWithoutData) {
    sim::Box box = sim::MakeBox(1, false);
    box.appKind = 3;
    box.faults.blockAnswerRefused = true;
    sim::AddBox(box);

    EXPECT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(sim::OutputReports().size(), 3u);
    for (std::uint8_t byte : g_device.block40) EXPECT_EQ(byte, 0);
}

TEST_F(ProtocolTest, BlockAnswerThatNeverComesEndsInReadErrorAfterTheBoundedWait) {
    sim::Box box = sim::MakeBox(1, false);
    box.appKind = 3;
    box.faults.blockAnswerNever = true;
    sim::AddBox(box);

    EXPECT_EQ(FindDevice(g_device), DEV_ERR_READ);
    EXPECT_EQ(sim::NowUs(), BLOCK_ANSWER_TIMEOUT_MS * 1000ull);
    EXPECT_EQ(sim::OutputReports().size(), 2u);
}

TEST_F(ProtocolTest, EachFailedQueryStepHasItsResultAndLeavesTheBoxOpen) {
    struct Case {
        const char* name;
        void (*fault)(sim::Box&);
        std::int32_t expected;
        std::size_t reportsSent;
    };
    const Case cases[] = {
        {"capabilities", [](sim::Box& b) { b.faults.capsFail = true; }, DEV_ERR_UNUSABLE, 0},
        {"info write", [](sim::Box& b) { b.faults.failWriteNumber = 1; }, DEV_ERR_WRITE, 1},
        {"info answer", [](sim::Box& b) { b.faults.infoRequestFails = true; }, DEV_ERR_READ, 1},
        // ReadMemory's own write failure is reported as an unusable box.
        {"memory write", [](sim::Box& b) { b.faults.failWriteNumber = 2; }, DEV_ERR_UNUSABLE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Box box = sim::MakeBox(2, true);
        c.fault(box);
        sim::AddBox(box);

        EXPECT_EQ(FindDevice(g_device), c.expected);
        EXPECT_EQ(sim::OutputReports().size(), c.reportsSent);
        EXPECT_TRUE(IsDeviceHeld(g_device));
        EXPECT_NE(g_device.devicePath, nullptr);
        EXPECT_EQ(g_device.productId, 2);
        EXPECT_EQ(g_device.firmwareVersion, 0u);
        CloseDevice(g_device);
    }
}

TEST_F(ProtocolTest, InfoAnswerIsDecodedWhateverItsStatusByte) {
    Report answer = {2, 0xFF, 0xFF, 1, 0x11, 0x22, 0x33, 0x00, 0x02, 0x01, 0x00};
    DeviceRecord record;
    ResetDeviceRecord(record);
    DecodeInfoAnswer(answer, record);
    EXPECT_EQ(record.bootloaderMode, 1);
    EXPECT_EQ(record.bootInfo2, 0x3322);
    EXPECT_EQ(record.bootloaderVersion, 0x00010200u);
}

TEST_F(ProtocolTest, WithNoBoxHeldTheQueriesSendNothing) {
    std::uint32_t words[3] = {7, 7, 7};
    std::uint8_t block[40] = {};
    EXPECT_EQ(QueryDeviceInfo(g_device), DEV_ERR_UNUSABLE);
    EXPECT_EQ(ReadMemory(g_device, words), DEV_ERR_UNUSABLE);
    EXPECT_EQ(ReadBlock32(g_device, block), DEV_ERR_UNUSABLE);
    EXPECT_EQ(ReadBlock40(g_device, block), DEV_ERR_UNUSABLE);
    EXPECT_TRUE(sim::g_world.wire.empty());
    EXPECT_EQ(words[0], 7u);
}

}  // namespace
