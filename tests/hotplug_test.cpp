#include "program_fixture.h"

namespace {

using simui::g_ui;

class HotplugTest : public ProgramTest {};

TEST_F(HotplugTest, BoxInBootloaderModeArrivingMakesTheWindowReady) {
    Start();
    const int box = sim::AddBox(sim::MakeBox(2, true));
    Arrive(box);
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_TRUE(simui::Enabled(IDC_UPDATE));
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTA-HUB");
    EXPECT_TRUE(simui::Enabled(IDC_VALUE_FW2));
}

TEST_F(HotplugTest, BoxInApplicationModeIsLetGoThenWelcomedInBootloaderMode) {
    Start();
    const int app = sim::AddBox(sim::MakeBox(1, false));
    Arrive(app);
    EXPECT_EQ(Hint(), WithInstructions(IDS_WRONG_MODE));
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW1)), "0.0.0");

    PullOut(app);
    EXPECT_EQ(Hint(), WithInstructions(IDS_WRONG_MODE)) << "no box was held, so nothing to report";
    const int boot = sim::AddBox(sim::MakeBox(1, true));
    Arrive(boot);
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_TRUE(simui::Enabled(IDC_UPDATE));
}

TEST_F(HotplugTest, OtherDevicesArrivingChangeNothing) {
    Start();
    const std::u16string before = Hint();
    sim::AddOtherDevice(0x046D, 0xC31C, u"\\\\?\\hid#vid_046d&pid_c31c#keyboard");
    simui::Arrival(u"\\\\?\\hid#vid_046d&pid_c31c#keyboard");
    EXPECT_EQ(Hint(), before);
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    EXPECT_FALSE(simui::Enabled(IDC_VALUE_FW1));
    EXPECT_EQ(sim::g_world.openHandles, 0);
}

TEST_F(HotplugTest, WhileABoxIsHeldArrivalsAreNotLookedAt) {
    sim::AddBox(sim::MakeBox(1, true));
    Start();
    const std::size_t opened = sim::g_world.opened.size();
    const int second = sim::AddBox(sim::MakeBox(2, true));
    Arrive(second);
    EXPECT_EQ(sim::g_world.opened.size(), opened) << "no search while a box is held";
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTABOX");
}

TEST_F(HotplugTest, RemovalOfTheHeldBoxIsRecognisedIgnoringLetterCase) {
    const int box = sim::AddBox(sim::MakeBox(2, true), u"\\\\?\\HID#VID_21B8&PID_0002#8&2f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    Start();
    const std::u16string stored = g_device.devicePath;

    simui::Removal(u"\\\\?\\hid#vid_046d&pid_c077#mouse");
    std::u16string almost = stored;
    almost.back() = u']';  // differs in a character that is not a letter
    simui::Removal(almost);
    simui::Removal(stored.substr(0, stored.size() - 1));
    EXPECT_TRUE(IsDeviceHeld(g_device));
    EXPECT_EQ(Hint(), Message(IDS_READY));

    std::u16string lower = stored;
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    sim::PullOut(box);
    sim::g_world.removedPaths.clear();
    simui::Removal(lower);
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED));
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), "0.0.0");
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTA-HUB") << "the model name stays, greyed";
    EXPECT_FALSE(simui::Enabled(IDC_LABEL_FW2));
}

TEST_F(HotplugTest, RemovalAfterASuccessfulUpdateReplacesTheSuccessText) {
    sim::AddBox(sim::MakeBox(1, true));
    Start();
    simui::Click(IDC_UPDATE);
    ASSERT_EQ(Hint(), Message(IDS_SUCCESS));
    PullOut(0);
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED));
}

TEST_F(HotplugTest, BoxWhoseQueryFailedOnArrivalStaysHeldUntilRemoved) {
    Start();
    sim::Box broken = sim::MakeBox(1, true);
    broken.faults.infoRequestFails = true;
    const int box = sim::AddBox(broken);
    const std::u16string before = Hint();
    Arrive(box);
    EXPECT_TRUE(IsDeviceHeld(g_device));
    EXPECT_EQ(Hint(), before);
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));

    const int good = sim::AddBox(sim::MakeBox(1, true));
    Arrive(good);
    EXPECT_EQ(Hint(), before) << "ignored while the broken box is held";

    PullOut(box);
    EXPECT_EQ(Hint(), WithInstructions(IDS_DISCONNECTED));
    EXPECT_FALSE(IsDeviceHeld(g_device));
}

}  // namespace
