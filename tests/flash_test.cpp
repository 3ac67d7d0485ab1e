#include "device/flash.h"

#include "device/protocol.h"
#include "platform/system.h"
#include "sim_fixture.h"

namespace {

class FlashTest : public SimTest {
protected:
    void HoldBootloaderBox() {
        sim::AddBox(sim::MakeBox(1, true));
        ASSERT_EQ(FindDevice(g_device), DEV_OK);
        sim::g_world.wire.clear();
    }
    static std::uint32_t AddressOf(const sim::WireEntry& report) { return GetLe32(report.bytes.data() + 3); }
};

TEST_F(FlashTest, AFailedErasesPauseLeavesItsErrorForTheCodeLine) {
    sim::Box box = sim::MakeBox(1, true);
    box.faults.failWriteNumber = 4;  // CMD_GET_INFO, CMD_READ_MEMORY, the unlock, the first erase
    box.faults.failWriteError = sim::ERROR_ACCESS_DENIED;
    sim::AddBox(box);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    ASSERT_EQ(UnlockFlash(g_device), DEV_OK);
    SystemPause(20);
    EXPECT_EQ(ErasePages(g_device, 0x08003000), DEV_ERR_WRITE);
    EXPECT_EQ(sim::g_world.pauses.back(), ERASE_PAUSE_MS) << "the failed erase is followed by its pause";
    EXPECT_EQ(SystemLastError(), sim::ERROR_ACCESS_DENIED);

    // On the real clock as well, which the demos and the benchmarks pace with.
    sim::g_world.realTime = true;
    sim::SetLastError(sim::ERROR_TIMEOUT);
    SystemPause(1);
    SystemPauseUntil(SystemClockMicroseconds() + 1000);
    EXPECT_EQ(SystemLastError(), sim::ERROR_TIMEOUT);
}

TEST_F(FlashTest, ErasingFromTheImageStartCoversTheFirmwareAreaPacedAt40ms) {
    HoldBootloaderBox();
    ASSERT_EQ(UnlockFlash(g_device), DEV_OK);
    SystemPause(20);
    const std::uint64_t start = sim::NowUs();

    ASSERT_EQ(ErasePages(g_device, 0x08003000), DEV_OK);

    const auto out = sim::OutputReports();
    ASSERT_EQ(out.size(), 116u);
    for (std::size_t i = 1; i < out.size(); ++i) {
        const std::uint32_t page = 0x08003000 + static_cast<std::uint32_t>(i - 1) * 1024;
        EXPECT_EQ(out[i].bytes, ReportBytes({1, 0x03, 4, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8),
                                             static_cast<std::uint8_t>(page >> 16), static_cast<std::uint8_t>(page >> 24)}));
        EXPECT_EQ(out[i].timeUs, start + (i - 1) * 40000);
    }
    EXPECT_EQ(AddressOf(out.back()), 0x0801F800u);
    EXPECT_EQ(sim::NowUs() - start, 115u * 40000);
    EXPECT_TRUE(Box().violations.empty()) << Box().violations.front();
    const auto area = sim::FlashBytes(Box(), 0x08003000, 0x0801FC00 - 0x08003000);
    EXPECT_EQ(std::count(area.begin(), area.end(), 0xFF), static_cast<long>(area.size()));
    EXPECT_NE(sim::FlashBytes(Box(), 0x0801FC04, 4), std::vector<std::uint8_t>(4, 0xFF)) << "information page erased";
}

namespace {

// A caller that works 15 ms after each page and stops the erase after the third.
struct PageWatch {
    std::vector<std::uint64_t> toldAt;
    std::vector<std::uint64_t> pauseEnds;
};

bool WorkAfterPage(void* context, std::uint64_t pauseEnds) {
    auto* watch = static_cast<PageWatch*>(context);
    watch->toldAt.push_back(sim::NowUs());
    watch->pauseEnds.push_back(pauseEnds);
    sim::WaitFor(15);
    return watch->toldAt.size() < 3;
}

}  // namespace

TEST_F(FlashTest, EachPageIsToldWhenItsCommandIsOutAndTheCallersWorkComesOutOfItsPause) {
    HoldBootloaderBox();
    ASSERT_EQ(UnlockFlash(g_device), DEV_OK);
    SystemPause(20);
    sim::g_world.wire.clear();
    sim::g_world.pauses.clear();
    PageWatch watch;
    EXPECT_EQ(ErasePages(g_device, 0x08003000, WorkAfterPage, &watch), DEV_ERR_STOPPED);

    const auto out = sim::OutputReports();
    ASSERT_EQ(out.size(), 3u);
    ASSERT_EQ(watch.toldAt.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(watch.toldAt[i], out[i].timeUs) << "told as soon as page " << i << " went out";
        EXPECT_EQ(watch.pauseEnds[i], out[i].timeUs + 40000) << i;
        if (i > 0) {
            EXPECT_EQ(out[i].timeUs - out[i - 1].timeUs, 40000u) << "the caller's 15 ms are not added";
        }
    }
    EXPECT_EQ(sim::NowUs(), out[2].timeUs + 40000) << "a stopped erase still waits out the page's pause";
    EXPECT_EQ(sim::g_world.pauses, std::vector<std::uint32_t>(3, 25));
    EXPECT_TRUE(Box().violations.empty()) << Box().violations.front();
}

TEST_F(FlashTest, EraseStartIsRoundedDownToItsPageAndBounded) {
    HoldBootloaderBox();
    struct Case {
        std::uint32_t start;
        std::int32_t result;
        std::size_t reports;
        std::uint32_t firstPage;
    };
    for (const Case c : {Case{0x08003123, DEV_OK, 115, 0x08003000}, Case{0x0801FBFF, DEV_OK, 1, 0x0801F800},
                         Case{0x0801FC00, DEV_ERR_ARGUMENT, 0, 0}, Case{0xFFFFFFFF, DEV_ERR_ARGUMENT, 0, 0}}) {
        sim::g_world.wire.clear();
        sim::g_world.pauses.clear();
        EXPECT_EQ(ErasePages(g_device, c.start), c.result);
        const auto out = sim::OutputReports();
        ASSERT_EQ(out.size(), c.reports) << std::hex << c.start;
        EXPECT_EQ(sim::g_world.pauses.size(), c.reports);
        if (!out.empty()) {
            EXPECT_EQ(AddressOf(out.front()), c.firstPage);
        }
    }
}

TEST_F(FlashTest, FailedEraseWriteStopsAfterItsPause) {
    sim::Box box = sim::MakeBox(1, true);
    box.faults.failWriteNumber = 2 + 7;  // after the two query reports, the 7th erase report
    box.faults.failWriteError = sim::ERROR_DEVICE_NOT_CONNECTED;
    sim::AddBox(box);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    sim::g_world.wire.clear();

    EXPECT_EQ(ErasePages(g_device, 0x08003000), DEV_ERR_WRITE);
    EXPECT_EQ(SystemLastError(), sim::ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(sim::OutputReports().size(), 7u);
    EXPECT_EQ(sim::g_world.pauses, std::vector<std::uint32_t>(7, 40));
}

TEST_F(FlashTest, SetAddressAndWriteDataRefuseBadArgumentsWithoutSending) {
    HoldBootloaderBox();
    const std::uint8_t data[48] = {};
    EXPECT_EQ(SetAddress(g_device, 0x08020000), DEV_ERR_ARGUMENT);
    EXPECT_EQ(SetAddress(g_device, 0xFFFFFFFF), DEV_ERR_ARGUMENT);
    EXPECT_EQ(WriteData(g_device, 0, data), DEV_ERR_ARGUMENT);
    EXPECT_EQ(WriteData(g_device, 4, data), DEV_ERR_ARGUMENT);
    EXPECT_EQ(WriteData(g_device, 1, nullptr), DEV_ERR_ARGUMENT);
    EXPECT_TRUE(sim::g_world.wire.empty());

    EXPECT_EQ(SetAddress(g_device, 0x0801FFFF), DEV_OK);
    EXPECT_EQ(sim::OutputReports().back().bytes, ReportBytes({1, 0x02, 4, 0xFF, 0xFF, 0x01, 0x08}));
}

TEST_F(FlashTest, ThreeChunkWriteCarriesItsDataInBytes3To50) {
    HoldBootloaderBox();
    std::uint8_t data[48];
    for (int i = 0; i < 48; ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
    ASSERT_EQ(WriteData(g_device, 3, data), DEV_OK);
    std::vector<std::uint8_t> expected = {1, 0x01, 3};
    expected.insert(expected.end(), data, data + 48);
    EXPECT_EQ(sim::OutputReports().back().bytes, ReportBytes(expected));
}

TEST_F(FlashTest, UnlockLockAndFinishAreBareCommands) {
    HoldBootloaderBox();
    EXPECT_EQ(UnlockFlash(g_device), DEV_OK);
    SystemPause(20);
    EXPECT_EQ(LockFlash(g_device), DEV_OK);
    EXPECT_EQ(SendFinish(g_device), DEV_OK);
    const auto out = sim::OutputReports();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, ReportBytes({1, 0x05}));
    EXPECT_EQ(out[1].bytes, ReportBytes({1, 0x04}));
    EXPECT_EQ(out[2].bytes, ReportBytes({1, 0x07}));
    EXPECT_TRUE(Box().finished);
}

TEST_F(FlashTest, WithNoBoxHeldEveryFlashOperationFailsItsWrite) {
    const std::uint8_t data[48] = {};
    EXPECT_EQ(UnlockFlash(g_device), DEV_ERR_WRITE);
    EXPECT_EQ(SetAddress(g_device, 0x08003000), DEV_ERR_WRITE);
    EXPECT_EQ(WriteData(g_device, 3, data), DEV_ERR_WRITE);
    EXPECT_EQ(LockFlash(g_device), DEV_ERR_WRITE);
    EXPECT_EQ(SendFinish(g_device), DEV_ERR_WRITE);
    EXPECT_TRUE(sim::g_world.pauses.empty());
    EXPECT_EQ(ErasePages(g_device, 0x08003000), DEV_ERR_WRITE);
    EXPECT_EQ(sim::g_world.pauses, std::vector<std::uint32_t>{40}) << "one erase attempt, one pause";
}

// The simulated box refuses what a real bootloader would: these prove a regression in the
// program's pacing or ordering shows up as a refused command instead of passing unnoticed.
TEST_F(FlashTest, SimulatedBoxRefusesReportsThatComeTooSoonOrOutOfOrder) {
    HoldBootloaderBox();
    const std::uint8_t data[48] = {};
    EXPECT_EQ(WriteData(g_device, 3, data), DEV_OK);  // locked
    EXPECT_EQ(UnlockFlash(g_device), DEV_OK);
    EXPECT_EQ(SetAddress(g_device, 0x08003000), DEV_OK);  // too soon after the unlock
    SystemPause(20);
    EXPECT_EQ(SetAddress(g_device, 0x08003000), DEV_OK);
    SystemPause(20);
    EXPECT_EQ(WriteData(g_device, 3, data), DEV_OK);  // into the old firmware, not erased
    EXPECT_EQ(SetAddress(g_device, 0x08002FF0), DEV_OK);  // the bootloader's own area
    ASSERT_EQ(Box().violations.size(), 4u);
    EXPECT_NE(Box().violations[1].find("pacing"), std::string::npos);
    EXPECT_NE(Box().violations[2].find("not erased"), std::string::npos);
    EXPECT_EQ(sim::FlashBytes(Box(), 0x08003000, 1)[0], 1) << "old firmware overwritten";
}

}  // namespace
