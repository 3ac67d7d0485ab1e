#include "update/update.h"

#include "app/text.h"
#include "device/protocol.h"
#include "program_fixture.h"
#include "resources/firmware_image.h"
#include "tests/update_floor.h"

namespace {

using simui::g_ui;

constexpr std::size_t QUERY_REPORTS = 2;  // CMD_GET_INFO and CMD_READ_MEMORY at discovery
constexpr std::size_t UPDATE_REPORTS = 1430;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;

class UpdateTest : public ProgramTest {
protected:
    // A ready window holding a box in bootloader mode with the given installed version.
    void StartReady(std::uint32_t installed = 0x00010A00, sim::Faults faults = {}) {
        sim::Box box = sim::MakeBox(1, true);
        box.firmwareVersion = installed;
        box.faults = faults;
        sim::AddBox(box);
        Start();
        ASSERT_TRUE(simui::Enabled(IDC_UPDATE));
    }
    static std::vector<sim::WireEntry> UpdateReports() {
        auto out = sim::OutputReports();
        out.erase(out.begin(), out.begin() + static_cast<long>(std::min(out.size(), QUERY_REPORTS)));
        return out;
    }
    static std::uint8_t Command(const sim::WireEntry& report) { return report.bytes.at(1); }
    static std::u16string CodeLine(std::int32_t code, std::uint32_t error) {
        MessageBuffer line;
        FormatText(line, MESSAGE_BUFFER_CHARS, FindCatalogueText(IDS_SYSTEM_ERROR_CODE), {static_cast<std::uint32_t>(code), error});
        return u"\r\n" + std::u16string(line);
    }
    static void ExpectFailedFinalState() {
        EXPECT_FALSE(IsDeviceHeld(g_device));
        EXPECT_EQ(g_device.devicePath, nullptr);
        EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
        EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), "0.0.0");
        EXPECT_EQ(Hint(), Message(IDS_RETRY));
        for (const sim::WireEntry& report : UpdateReports()) {
            EXPECT_FALSE(report.ok && Command(report) == CMD_FINISH) << "the box was told to start a firmware that failed";
        }
        EXPECT_EQ(g_ui.busyBegun, g_ui.busyEnded) << "sleep and shutdown block not released";
    }
};

TEST_F(UpdateTest, WholeUpdateWritesTheImageWithEveryReportAndPauseTheBoxNeeds) {
    StartReady();
    ASSERT_TRUE(simui::Click(IDC_UPDATE));

    const auto reports = UpdateReports();
    ASSERT_EQ(reports.size(), UPDATE_REPORTS);
    EXPECT_EQ(Command(reports[0]), CMD_UNLOCK_FLASH);
    for (std::size_t i = 1; i <= 115; ++i) EXPECT_EQ(Command(reports[i]), CMD_ERASE_PAGE);
    EXPECT_EQ(Command(reports[116]), CMD_SET_ADDRESS);
    EXPECT_EQ(GetLe32(reports[116].bytes.data() + 3), IMAGE_START_ADDRESS);
    for (std::size_t i = 117; i < 117 + 1311; ++i) EXPECT_EQ(Command(reports[i]), CMD_WRITE_DATA);
    EXPECT_EQ(Command(reports[1428]), CMD_LOCK_FLASH);
    EXPECT_EQ(Command(reports[1429]), CMD_FINISH);

    // The gap before each report on the virtual clock is the pause the box needs, no less.
    const std::uint64_t t0 = reports[0].timeUs;
    EXPECT_EQ(reports[1].timeUs - t0, 20000u);
    for (std::size_t i = 2; i <= 115; ++i) EXPECT_EQ(reports[i].timeUs - reports[i - 1].timeUs, 40000u) << i;
    EXPECT_EQ(reports[116].timeUs - reports[115].timeUs, 40000u + 20000u) << "the last erase pause, then the step pause";
    for (std::size_t i = 117; i <= 1428; ++i) EXPECT_EQ(reports[i].timeUs - reports[i - 1].timeUs, 20000u) << i;
    EXPECT_EQ(reports[1429].timeUs, reports[1428].timeUs);
    EXPECT_EQ(reports[1429].timeUs - t0, UPDATE_PAUSE_FLOOR_US) << "115 x 40 ms + 3 x 20 ms + 1311 x 20 ms";

    const sim::Box& box = Box();
    EXPECT_TRUE(box.violations.empty()) << box.violations.front();
    EXPECT_TRUE(box.finished);
    EXPECT_EQ(sim::FlashBytes(box, IMAGE_START_ADDRESS, FIRMWARE_IMAGE_SIZE),
              std::vector<std::uint8_t>(FIRMWARE_IMAGE, FIRMWARE_IMAGE + FIRMWARE_IMAGE_SIZE));
    const auto rest = sim::FlashBytes(box, IMAGE_START_ADDRESS + FIRMWARE_IMAGE_SIZE, 0x0801FC00 - IMAGE_START_ADDRESS - FIRMWARE_IMAGE_SIZE);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), 0xFF), static_cast<long>(rest.size())) << "old firmware left behind";

    EXPECT_TRUE(IsDeviceHeld(g_device)) << "the connection stays open after success";
    EXPECT_EQ(g_device.firmwareVersion, IMAGE_VERSION);
    EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), "1.11");
    EXPECT_TRUE(g_ui.boxes.empty());
    EXPECT_EQ(g_ui.busyBegun, 1);
    EXPECT_EQ(g_ui.busyEnded, 1);
    EXPECT_EQ(g_ui.busyReason, Message(IDS_WRITING));
    // Served in every pause, all of it: after the unlock, each erased page, the erase, the start
    // address and each block.
    std::vector<std::uint32_t> pauses = {20000};
    pauses.insert(pauses.end(), 115, 40000);
    pauses.insert(pauses.end(), 2, 20000);
    pauses.insert(pauses.end(), 1311, 20000);
    EXPECT_EQ(g_ui.desktopServed, pauses);
    EXPECT_TRUE(box.claimed) << "the box stays this program's while it is held";
}

TEST_F(UpdateTest, SlowWindowWorkAfterABlockIsTakenOutOfItsPauseNotAddedToIt) {
    // A bar that takes 3 ms to show each position fits inside the box's 20 ms; one that takes
    // 25 ms sets the pace itself, and the box still never gets a block early.
    for (const std::uint32_t showMs : {3u, 25u}) {
        SCOPED_TRACE(showMs);
        SetUp();
        g_ui.progressUpdateMs = showMs;
        StartReady();
        sim::g_world.pauses.clear();
        simui::Click(IDC_UPDATE);

        const auto reports = UpdateReports();
        ASSERT_EQ(reports.size(), UPDATE_REPORTS);
        const std::uint64_t gap = std::max(20u, showMs) * 1000ull;
        for (std::size_t i = 118; i <= 1428; ++i) ASSERT_EQ(reports[i].timeUs - reports[i - 1].timeUs, gap) << i;
        const std::vector<std::uint32_t> blockPauses(sim::g_world.pauses.end() - 1311, sim::g_world.pauses.end());
        EXPECT_EQ(blockPauses, std::vector<std::uint32_t>(1311, showMs < 20 ? 20 - showMs : 0));
        ASSERT_EQ(g_ui.desktopServed.size(), 3u + 115u + 1311u);
        EXPECT_EQ(std::vector<std::uint32_t>(g_ui.desktopServed.end() - 1311, g_ui.desktopServed.end()),
                  std::vector<std::uint32_t>(1311, showMs < 20 ? (20 - showMs) * 1000 : 0))
            << "the desktop is offered what the bar left of each pause";
        EXPECT_TRUE(Box().violations.empty()) << Box().violations.front();
        EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
        TearDown();
    }
}

TEST_F(UpdateTest, ProgressWindowIsCentredOnTheMainWindowAndCountsTheShareSent) {
    g_ui.mainRect = {100, 200, 501, 351};
    StartReady();
    simui::Click(IDC_UPDATE);

    ASSERT_EQ(g_ui.progress.size(), 1u);
    const simui::ProgressWindow& progress = g_ui.progress[0];
    EXPECT_EQ(progress.text, Message(IDS_WRITING));
    EXPECT_EQ(progress.x, 100);
    EXPECT_EQ(progress.y, 250);
    EXPECT_EQ(progress.width, 400);
    EXPECT_EQ(progress.height, 50);
    EXPECT_TRUE(progress.destroyed);
    const auto& positions = progress.positions;
    ASSERT_EQ(positions.size(), 1u + 1311u);
    EXPECT_EQ(positions[0], 0u);
    EXPECT_EQ(positions[13], 0u);
    EXPECT_EQ(positions[14], 1u);
    EXPECT_EQ(positions[1310], 99u);
    EXPECT_EQ(positions[1311], 100u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

TEST_F(UpdateTest, FinalPartialBlockCarriesExactlyTheImageTail) {
    StartReady();
    simui::Click(IDC_UPDATE);
    const auto last = UpdateReports().at(1427);
    EXPECT_EQ(last.bytes[2], 2);
    EXPECT_TRUE(std::equal(last.bytes.begin() + 3, last.bytes.begin() + 35, FIRMWARE_IMAGE + FIRMWARE_IMAGE_SIZE - 32));
    EXPECT_EQ(std::count(last.bytes.begin() + 35, last.bytes.end(), 0), 64 - 35);
}

TEST_F(UpdateTest, ImagesOfOtherSizesAreSentInWholeChunks) {
    struct Case {
        std::uint32_t size;
        std::size_t blocks;
        std::uint8_t lastChunks;
    };
    for (const Case c : {Case{480, 10, 3}, Case{496, 11, 1}, Case{16, 1, 1}}) {
        SCOPED_TRACE(c.size);
        SetUp();
        g_ui.imageOverridden = true;
        for (std::uint32_t i = 0; i < c.size; ++i) g_ui.image.push_back(static_cast<std::uint8_t>(i * 31 + 7));
        StartReady();
        simui::Click(IDC_UPDATE);
        const auto reports = UpdateReports();
        ASSERT_EQ(reports.size(), 117 + c.blocks + 2);
        EXPECT_EQ(reports[117 + c.blocks - 1].bytes[2], c.lastChunks);
        EXPECT_EQ(sim::FlashBytes(Box(), IMAGE_START_ADDRESS, c.size), g_ui.image);
        EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
        TearDown();
    }
}

TEST_F(UpdateTest, QuestionIsAskedOnlyForAnInstalledFirmwareThatIsNotOlder) {
    for (const auto version : {0x00010AFFu, 0xFFFFFFFFu, 0u}) {
        SCOPED_TRACE(version);
        SetUp();
        StartReady(version);
        simui::Click(IDC_UPDATE);
        EXPECT_TRUE(g_ui.boxes.empty());
        EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
        TearDown();
    }
}

TEST_F(UpdateTest, DecliningTheQuestionChangesNothing) {
    StartReady(IMAGE_VERSION);
    g_ui.answers.push_back({simui::Answer::No, nullptr});
    simui::Click(IDC_UPDATE);
    ASSERT_EQ(g_ui.boxes.size(), 1u);
    EXPECT_EQ(g_ui.boxes[0].caption, Message(IDS_NEWER_FIRMWARE_FOUND));
    EXPECT_EQ(g_ui.boxes[0].text, Message(IDS_OLDER_FIRMWARE_QUESTION));
    EXPECT_EQ(g_ui.boxes[0].kind, simui::BoxKind::Question);
    EXPECT_TRUE(UpdateReports().empty());
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_TRUE(simui::Enabled(IDC_UPDATE));
    EXPECT_TRUE(IsDeviceHeld(g_device));
}

TEST_F(UpdateTest, AgreeingToTheQuestionInstallsTheImage) {
    StartReady(0x00020000);
    g_ui.answers.push_back({simui::Answer::Yes, nullptr});
    simui::Click(IDC_UPDATE);
    EXPECT_EQ(g_ui.boxes.size(), 1u);
    EXPECT_EQ(UpdateReports().size(), UPDATE_REPORTS);
    EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
}

TEST_F(UpdateTest, BoxPulledOutWhileTheQuestionIsOpenEndsAtTheUnlock) {
    StartReady(IMAGE_VERSION);
    std::u16string hintWhileOpen;
    g_ui.answers.push_back({simui::Answer::Yes, [&] {
                                PullOut(0);
                                hintWhileOpen = Hint();
                            }});
    g_ui.answers.push_back({simui::Answer::Ok, nullptr});
    simui::Click(IDC_UPDATE);

    EXPECT_EQ(hintWhileOpen, WithInstructions(IDS_DISCONNECTED));
    ASSERT_EQ(g_ui.boxes.size(), 2u);
    EXPECT_EQ(g_ui.boxes[1].caption, Message(IDS_UPDATE_FAILED));
    EXPECT_EQ(g_ui.boxes[1].text, Message(IDS_UNLOCK_FAILED) + CodeLine(DEV_ERR_WRITE, sim::ERROR_INVALID_HANDLE));
    EXPECT_TRUE(UpdateReports().empty());
    ExpectFailedFinalState();
}

TEST_F(UpdateTest, FirstEraseFailingPausesOnceAndSendsNothingMore) {
    sim::Faults faults;
    faults.failWriteNumber = QUERY_REPORTS + 2;
    StartReady(0x00010A00, faults);
    g_ui.answers.push_back({simui::Answer::Ok, nullptr});
    sim::g_world.pauses.clear();
    simui::Click(IDC_UPDATE);
    EXPECT_EQ(sim::g_world.pauses, (std::vector<std::uint32_t>{20, 40}));
}

TEST_F(UpdateTest, UpdateWithNoBoxHeldSaysTheBoxIsGoneWithoutACodeLine) {
    Start();
    g_ui.answers.push_back({simui::Answer::Ok, nullptr});
    RunUpdate();
    ASSERT_EQ(g_ui.boxes.size(), 1u);
    EXPECT_EQ(g_ui.boxes[0].text, Message(IDS_BOX_GONE));
    EXPECT_EQ(g_ui.boxes[0].caption, Message(IDS_UPDATE_FAILED));
    EXPECT_TRUE(sim::g_world.wire.empty());
    ExpectFailedFinalState();
}

// Every report of the update in turn fails to be written, and then, separately, the box is pulled
// out right after it: each run ends in the failure box of the step that could not be sent, with
// its code, over a dialog that no progress window covers any more; nothing is sent after it, the
// box is let go, and its removal arriving afterwards changes nothing. Only a box pulled out after
// the very last report has taken the whole update.
TEST_F(UpdateTest, EveryReportFailingOrTheBoxPulledOutAfterItEndsInThatStepsFailure) {
    const auto messageOf = [](std::uint32_t report) {  // counted from the first update report, 1-based
        if (report == 1) return IDS_UNLOCK_FAILED;
        if (report <= 116) return IDS_ERASE_FAILED;
        if (report == 117) return IDS_SET_ADDRESS_FAILED;
        return IDS_WRITE_BLOCK_FAILED;  // the data blocks, and the lock and finish that end them
    };
    constexpr std::uint32_t FIRST_BLOCK_REPORT = 118;  // the progress window comes with it
    for (const bool pulledOut : {false, true}) {
        for (std::uint32_t report = 1; report <= UPDATE_REPORTS && !HasFailure(); ++report) {
            SCOPED_TRACE(std::string(pulledOut ? "pulled out after" : "failing") + " update report " + std::to_string(report));
            SetUp();
            sim::Faults faults;
            (pulledOut ? faults.pullOutAfterReport : faults.failWriteNumber) = static_cast<std::uint32_t>(QUERY_REPORTS) + report;
            faults.failWriteError = ERROR_ACCESS_DENIED;
            StartReady(0x00010A00, faults);
            bool progressGoneWhileBoxOpen = false;
            g_ui.answers.push_back({simui::Answer::Ok, [&] {
                                        progressGoneWhileBoxOpen = g_ui.progress.empty() || g_ui.progress[0].destroyed;
                                    }});
            simui::Click(IDC_UPDATE);

            const auto reports = UpdateReports();
            if (pulledOut && report == UPDATE_REPORTS) {
                EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
                EXPECT_TRUE(Box().finished);
            } else {
                simui::DeliverPendingRemovals();  // the dialog's loop, once the update has returned
                const std::uint32_t failing = pulledOut ? report + 1 : report;
                const std::uint32_t error = pulledOut ? sim::ERROR_DEVICE_NOT_CONNECTED : ERROR_ACCESS_DENIED;
                ASSERT_EQ(g_ui.boxes.size(), 1u);
                EXPECT_EQ(g_ui.boxes[0].caption, Message(IDS_UPDATE_FAILED));
                EXPECT_EQ(g_ui.boxes[0].text, Message(messageOf(failing)) + CodeLine(DEV_ERR_WRITE, error));
                EXPECT_EQ(Narrow(g_ui.boxes[0].text).substr(g_ui.boxes[0].text.size() - 21),
                          pulledOut ? "0xfffffffe-0x0000048f" : "0xfffffffe-0x00000005");
                EXPECT_EQ(g_ui.boxes[0].kind, simui::BoxKind::Error);
                EXPECT_EQ(g_ui.progress.size(), failing >= FIRST_BLOCK_REPORT ? 1u : 0u);
                EXPECT_TRUE(progressGoneWhileBoxOpen);
                ASSERT_EQ(reports.size(), failing) << "a report was sent after the failure";
                EXPECT_FALSE(reports.back().ok);
                EXPECT_FALSE(Box().finished);
                EXPECT_FALSE(Box().claimed) << "a failed update lets the box go";
                ExpectFailedFinalState();
            }
            TearDown();
        }
    }
}

TEST_F(UpdateTest, WithoutAWritableImageNothingIsSentAndTheCodeLineShowsNoStaleSystemError) {
    // Missing, or not whole 16-byte chunks. The last error left by an earlier call (here the
    // discovery's) must not appear as if it had caused the refusal.
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "17 bytes");
        SetUp();
        g_ui.imageMissing = missing;
        g_ui.imageOverridden = !missing;
        g_ui.image.assign(17, 0x5A);
        StartReady();
        const auto before = sim::FlashBytes(Box(), IMAGE_START_ADDRESS, 1024);
        sim::SetLastError(ERROR_ACCESS_DENIED);
        g_ui.answers.push_back({simui::Answer::Ok, nullptr});
        simui::Click(IDC_UPDATE);
        EXPECT_TRUE(UpdateReports().empty());
        EXPECT_EQ(sim::FlashBytes(Box(), IMAGE_START_ADDRESS, 1024), before);
        ASSERT_EQ(g_ui.boxes.size(), 1u);
        EXPECT_EQ(g_ui.boxes[0].text, Message(IDS_UNLOCK_FAILED) + CodeLine(DEV_ERR_ARGUMENT, 0));
        EXPECT_EQ(Hint(), Message(IDS_RETRY));
        TearDown();
    }
}

TEST_F(UpdateTest, WindowsAreRaisedOnceWhenOneOfThemHoldsTheForeground) {
    StartReady();
    simui::Click(IDC_UPDATE);
    using Op = simui::WindowOperation;
    const WindowHandle progress = g_ui.progress.at(0).handle;
    ASSERT_EQ(g_ui.operations.size(), 6u);
    const Op expected[] = {{Op::BringToTop, simui::MAIN_DIALOG}, {Op::BringToTop, progress},
                           {Op::BringToTop, simui::MAIN_DIALOG}, {Op::BringToTop, progress},
                           {Op::Show, simui::MAIN_DIALOG},       {Op::Show, progress}};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(g_ui.operations[i].kind, expected[i].kind) << i;
        EXPECT_EQ(g_ui.operations[i].window, expected[i].window) << i;
    }
}

TEST_F(UpdateTest, WindowsAreNeverPulledOverAnotherProgram) {
    g_ui.foreground = [] { return simui::OTHER_PROGRAM; };
    StartReady();
    simui::Click(IDC_UPDATE);
    EXPECT_EQ(g_ui.operations.size(), 2u) << "only the raise when the progress window appears";
}

TEST_F(UpdateTest, UpdateRunsOnWithoutAProgressWindow) {
    g_ui.progressCreationFails = true;
    StartReady();
    simui::Click(IDC_UPDATE);
    EXPECT_EQ(Hint(), Message(IDS_SUCCESS));
    EXPECT_TRUE(Box().violations.empty());
}

}  // namespace
