// The dialog with boxes it cannot use: held by another program, forbidden, on an old kernel, or
// slow to answer just after enumeration.
#include "program_fixture.h"

#include "device/protocol.h"

namespace {

using simui::g_ui;

class BoxSearchTest : public ProgramTest {
protected:
    static constexpr std::uintptr_t LOOK_AGAIN = 1;
    static void ExpectNoBoxShown(std::uint32_t hint) {
        EXPECT_EQ(Narrow(Hint()), Narrow(Message(hint)));
        EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
        EXPECT_FALSE(IsDeviceHeld(g_device));
        EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW1)), "0.0.0");
    }
};

TEST_F(BoxSearchTest, ABoxAnotherProgramHoldsIsWaitedForUntilItIsLetGoOrPulledOut) {
    sim::Box held = sim::MakeBox(2, true);
    held.heldElsewhere = true;
    const int box = sim::AddBox(held);
    Start();
    ExpectNoBoxShown(IDS_BOX_BUSY);
    ASSERT_EQ(g_ui.timers.count(LOOK_AGAIN), 1u);
    EXPECT_LE(g_ui.timers[LOOK_AGAIN], 2000u) << "ready within 2 s of the other letting go";

    const std::u16string busy = Hint();
    EXPECT_TRUE(simui::FireTimer(LOOK_AGAIN));
    EXPECT_EQ(Hint(), busy);
    Box(box).heldElsewhere = false;
    EXPECT_TRUE(simui::FireTimer(LOOK_AGAIN));
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_TRUE(simui::Enabled(IDC_UPDATE));
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTA-HUB");
    EXPECT_EQ(g_ui.timers.count(LOOK_AGAIN), 0u) << "looked again after the box was found";
    // Until now the other program had the box to itself.
    for (const sim::WireEntry& entry : sim::g_world.wire) EXPECT_GE(entry.timeUs, 2000000u);

    // Held again by another program, then pulled out: told as any removal.
    CloseDevice(g_device);
    Box(box).heldElsewhere = true;
    Arrive(box);
    ExpectNoBoxShown(IDS_BOX_BUSY);
    PullOut(box);
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED));
    EXPECT_EQ(g_ui.timers.count(LOOK_AGAIN), 0u);
    simui::Cancel();
}

TEST_F(BoxSearchTest, ForbiddenAndUnqueryableBoxesSayWhyAtStartAndOnArrival) {
    sim::AddInterface(sim::InterfaceKind::CannotOpen, u"/dev/hidraw0");
    sim::Interface& denied = sim::g_world.interfaces.back();
    denied.idsListed = true;
    denied.vendorId = 0x21B8;
    denied.productId = 1;
    Start();
    ExpectNoBoxShown(IDS_BOX_DENIED);

    // Told of the removal while the node was still listed, then gone: the timer finds it gone.
    simui::Removal(u"/dev/hidraw0");
    EXPECT_EQ(Hint(), Message(IDS_BOX_DENIED));
    sim::g_world.interfaces.front().present = false;
    EXPECT_TRUE(simui::FireTimer(LOOK_AGAIN));
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED)) << "the reason outlived the box it names";
    EXPECT_TRUE(g_ui.timers.empty());
    sim::Box oldKernel = sim::MakeBox(1, true);
    oldKernel.faults.infoRequestUnsupported = true;
    Arrive(sim::AddBox(oldKernel));
    ExpectNoBoxShown(IDS_KERNEL_TOO_OLD);
    EXPECT_EQ(sim::g_world.infoRequests, 1u) << "a request no box can answer was asked again";
    EXPECT_FALSE(Box().claimed);
    ASSERT_EQ(g_ui.timers.count(LOOK_AGAIN), 1u);
    EXPECT_TRUE(simui::FireTimer(LOOK_AGAIN));
    EXPECT_EQ(Hint(), Message(IDS_KERNEL_TOO_OLD)) << "the text stays while the box does";
    EXPECT_FALSE(Box().claimed) << "the box looked at again was let go";
}

TEST_F(BoxSearchTest, ABoxRefusingItsFirstQueriesAtOnceIsAskedAgainButASilentOneIsNot) {
    Start();
    sim::Box slow = sim::MakeBox(1, true);
    slow.faults.infoRequestsFailFirst = 2;
    const int box = sim::AddBox(slow);
    Arrive(box);
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_EQ(sim::g_world.infoRequests, 4u) << "two refusals, then CMD_GET_INFO and CMD_READ_MEMORY";
    EXPECT_LE(sim::NowUs(), 1000000u) << "the retries took more than about a second";
    PullOut(box);

    sim::Box silent = sim::MakeBox(1, true);
    silent.faults.infoAnswerNever = true;
    sim::g_world.infoRequests = 0;
    Arrive(sim::AddBox(silent));
    EXPECT_EQ(sim::g_world.infoRequests, 1u);
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED)) << "a failed search on arrival stays silent";
    EXPECT_TRUE(IsDeviceHeld(g_device));
    PullOut(1);

    // Refused by the program itself: asking again would only send it the same query again.
    sim::Box shortReports = sim::MakeBox(1, true);
    shortReports.outputReportLength = 32;
    const std::size_t before = sim::OutputReports().size();
    Arrive(sim::AddBox(shortReports));
    EXPECT_EQ(sim::OutputReports().size() - before, 1u) << "CMD_GET_INFO sent more than once";
}

TEST_F(BoxSearchTest, ShortEmptyOrForeignAnswersAreFailedQueriesAndNothingIsErased) {
    // The info answer whole, the memory answer cut after its first word: read from the zeroed
    // buffer, the firmware would have been 0.0, older than any image.
    sim::Box cut = sim::MakeBox(1, true);
    cut.faults.shortAnswersFrom = 2;
    cut.faults.shortAnswerLength = MEMORY_ANSWER_LENGTH - 8;
    const int first = sim::AddBox(cut);
    Start();
    EXPECT_EQ(Hint(), WithInstructions(IDS_NO_BOX));
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_FALSE(simui::Click(IDC_UPDATE));
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), "0.0.0");
    EXPECT_GT(sim::g_world.infoRequests, 2u) << "a failed transfer is worth asking again";
    PullOut(first);

    // An empty answer (whose buffer still holds the request's report ID), and an answer to
    // another report, on arrival: told as any failed query.
    for (const bool empty : {true, false}) {
        sim::Box odd = sim::MakeBox(1, true);
        odd.faults.shortAnswersFrom = empty ? 1 : 0;
        odd.faults.answerReportId = empty ? 2 : 3;
        const int box = sim::AddBox(odd);
        const std::u16string before = Hint();
        Arrive(box);
        EXPECT_EQ(Hint(), before) << empty;
        EXPECT_FALSE(simui::Click(IDC_UPDATE)) << empty;
        PullOut(box);
    }
    for (const sim::WireEntry& report : sim::OutputReports())
        EXPECT_TRUE(report.bytes[1] == CMD_GET_INFO || report.bytes[1] == CMD_READ_MEMORY) << int(report.bytes[1]);
    for (const sim::Box& box : sim::g_world.boxes) EXPECT_TRUE(box.violations.empty());
}

}  // namespace
