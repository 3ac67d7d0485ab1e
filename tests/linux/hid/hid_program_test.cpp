// The whole program on the hidraw backend: the real logic with the recording window system of
// platform/sim/, the emulated box taking the update on the real clock, paced by the Linux pause.
#include <cerrno>

#include "app/globals.h"
#include "app/text.h"
#include "platform/sim/sim_ui.h"
#include "resources/catalogue.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"
#include "tests/linux/hid/hidraw_fixture.h"

namespace {

using simui::g_ui;

constexpr std::uint32_t QUERY_AND_UPDATE_REPORTS = 2 + 1430;

class HidrawProgramTest : public HidrawTest {
protected:
    void SetUp() override {
        HidrawTest::SetUp();
        simui::Reset();
        g_hMainDlg = 0;
        g_hDevNotify = 0;
    }
    // Starts the program, presses "Update" and, once the update has returned, ends the program.
    static void RunUpdateOnce() {
        ASSERT_EQ(simui::RunProgramWithScript({[] { ASSERT_TRUE(simui::Click(IDC_UPDATE)); }, [] { simui::Cancel(); }}), 0);
    }
    static std::u16string Message(std::uint32_t id) { return FindCatalogueText(id); }
    static std::u16string Hint() { return simui::Text(IDC_INFO_TEXT); }
    // The output reports the box at `slot` was sent, by outcome.
    static std::size_t Reports(int slot, bool ok) {
        const int box = emu::BoxOf(slot);
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        std::size_t count = 0;
        for (const sim::WireEntry& entry : sim::g_world.wire)
            count += entry.direction == sim::Direction::Output && entry.box == box && entry.ok == ok;
        return count;
    }
};

TEST_F(HidrawProgramTest, WholeUpdateWritesTheImageIntoTheBox) {
    const int slot = PlugBox(sim::MakeBox(1, true));
    std::vector<std::uint8_t> expected = BoxState(slot).flash;
    RunUpdateOnce();

    EXPECT_TRUE(g_ui.boxes.empty()) << "a message box appeared";
    EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
    const sim::Box box = BoxState(slot);
    EXPECT_TRUE(box.violations.empty()) << box.violations.front();
    EXPECT_TRUE(box.finished);
    EXPECT_FALSE(box.unlocked);
    EXPECT_EQ(box.reportsReceived, QUERY_AND_UPDATE_REPORTS);
    // The firmware area erased and the image in it; the bootloader and the information page as
    // they were.
    std::fill(expected.begin() + (sim::FIRMWARE_BASE - sim::FLASH_BASE), expected.begin() + (sim::INFO_PAGE - sim::FLASH_BASE), 0xFF);
    std::copy(FIRMWARE_IMAGE, FIRMWARE_IMAGE + FIRMWARE_IMAGE_SIZE, expected.begin() + (sim::FIRMWARE_BASE - sim::FLASH_BASE));
    EXPECT_TRUE(box.flash == expected) << "the flash differs from the image";
}

TEST_F(HidrawProgramTest, BoxPulledOutMidTransferFailsTheBlockWithTheSystemsReasonAndNothingFollows) {
    sim::Box box = sim::MakeBox(1, true);
    // The query's two reports, the unlock, 115 erases, the address and 81 data blocks.
    box.faults.pullOutAfterReport = 200;
    const int slot = PlugBox(box);
    RunUpdateOnce();

    EXPECT_FALSE(emu::IsPlugged(slot));
    ASSERT_EQ(g_ui.boxes.size(), 1u);
    MessageBuffer line;
    FormatText(line, MESSAGE_BUFFER_CHARS, FindCatalogueText(IDS_SYSTEM_ERROR_CODE),
               {static_cast<std::uint32_t>(DEV_ERR_WRITE), static_cast<std::uint32_t>(ENODEV)});
    EXPECT_EQ(g_ui.boxes[0].text, Message(IDS_WRITE_BLOCK_FAILED) + u"\r\n" + line);
    EXPECT_EQ(Hint(), Message(IDS_RETRY));
    EXPECT_EQ(Reports(slot, true), 200u);
    EXPECT_EQ(Reports(slot, false), 1u) << "the block that failed, and nothing after it";
    EXPECT_FALSE(IsDeviceHeld(g_device));
}

}  // namespace
