#include "program_fixture.h"

namespace {

using simui::g_ui;

class MainWindowTest : public ProgramTest {
protected:
    static void ExpectVersionGroup(bool enabled) {
        for (int id : {IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3, IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_LABEL_FW3})
            EXPECT_EQ(simui::Enabled(id), enabled) << id;
    }
    static void ExpectNoBoxValues() {
        for (int id : {IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3}) EXPECT_EQ(Narrow(simui::Text(id)), "0.0.0");
        ExpectVersionGroup(false);
    }
};

TEST_F(MainWindowTest, StartsWithNoBox) {
    Start();
    EXPECT_TRUE(g_ui.windowSystemPrepared);
    EXPECT_EQ(g_ui.templateId, IDD_MAIN);
    EXPECT_EQ(g_ui.icon, IDI_APP);
    EXPECT_EQ(Narrow(g_ui.title), "SORVANTIK VELTABOX Firmware Updater 1.11");
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW1)), "Bootloader");
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTABOX");
    EXPECT_FALSE(simui::Visible(IDC_LABEL_FW3));
    EXPECT_FALSE(simui::Visible(IDC_VALUE_FW3));
    EXPECT_EQ(Hint(), WithInstructions(IDS_NO_BOX));
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    ExpectNoBoxValues();
    EXPECT_NE(g_hDevNotify, 0);
    EXPECT_FALSE(g_ui.ended);
}

TEST_F(MainWindowTest, StartsReadyWithABoxInBootloaderMode) {
    sim::Box box = sim::MakeBox(2, true);
    box.bootloaderVersion = 0x00010200;
    box.firmwareVersion = 0x00010A00;
    sim::AddBox(box);
    Start();
    EXPECT_EQ(Hint(), Message(IDS_READY));
    EXPECT_TRUE(simui::Enabled(IDC_UPDATE));
    EXPECT_TRUE(IsDeviceHeld(g_device));
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW1)), "1.2");
    EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), "1.10");
    EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), "VELTA-HUB");
    ExpectVersionGroup(true);
    EXPECT_FALSE(simui::Visible(IDC_VALUE_FW3)) << "the third line is never shown";
}

TEST_F(MainWindowTest, StartsInWrongModeAndLetsTheApplicationBoxGo) {
    sim::AddBox(sim::MakeBox(1, false));
    Start();
    EXPECT_EQ(Hint(), WithInstructions(IDS_WRONG_MODE));
    EXPECT_FALSE(simui::Enabled(IDC_UPDATE));
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(sim::g_world.openHandles, 0);
    ExpectNoBoxValues();
}

TEST_F(MainWindowTest, BoxWhoseQueryFailsAtStartIsClosedAndShownAsNoBox) {
    sim::Box box = sim::MakeBox(1, true);
    box.faults.infoRequestFails = true;
    sim::AddBox(box);
    Start();
    EXPECT_EQ(Hint(), WithInstructions(IDS_NO_BOX));
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(sim::g_world.openHandles, 0);
}

TEST_F(MainWindowTest, WithoutNotificationsTheProgramSaysSoOnceAndEnds) {
    sim::AddBox(sim::MakeBox(1, true));
    g_ui.watchFails = true;
    g_ui.answers.push_back({simui::Answer::Ok, nullptr});
    EXPECT_EQ(simui::RunProgramWithScript({}), 0);
    ASSERT_EQ(g_ui.boxes.size(), 1u);
    EXPECT_EQ(g_ui.boxes[0].caption, Message(IDS_APPLICATION_ERROR));
    EXPECT_EQ(g_ui.boxes[0].text, Message(IDS_NOTIFY_REGISTRATION_FAILED));
    EXPECT_EQ(g_ui.boxes[0].kind, simui::BoxKind::Error);
    EXPECT_TRUE(g_ui.ended);
    EXPECT_EQ(g_ui.endResult, 1);
    EXPECT_TRUE(sim::g_world.opened.empty()) << "no search without notifications";
    EXPECT_EQ(Hint(), u"");
}

TEST_F(MainWindowTest, CancelReleasesEverythingAndEndsTheProgram) {
    sim::AddBox(sim::MakeBox(1, true));
    const int result = simui::RunProgramWithScript({[] { simui::Cancel(); }});
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(g_ui.ended);
    EXPECT_EQ(g_ui.endResult, 2);
    EXPECT_EQ(g_ui.watchesStopped, 1);
    EXPECT_EQ(sim::g_world.openHandles, 0);
    EXPECT_FALSE(IsDeviceHeld(g_device));
}

TEST_F(MainWindowTest, OnlyTheModelLineIsRed) {
    Start();
    std::uint32_t colour = 0;
    for (int id : {IDC_LABEL_FW2, IDC_VALUE_FW2}) {
        EXPECT_TRUE(ControlTextColour(id, &colour)) << id;
        EXPECT_EQ(colour, 0x000000FFu);
    }
    for (int id : {IDC_INFO_TEXT, IDC_VALUE_FW1, IDC_LABEL_FW1}) EXPECT_FALSE(ControlTextColour(id, &colour)) << id;
    EXPECT_FALSE(OnCommand(1234));
}

TEST_F(MainWindowTest, VersionWordsAreShownAsTheBoxMeansThem) {
    sim::AddBox(sim::MakeBox(1, true));
    Start();
    struct Case {
        std::uint32_t firmware;
        const char* shown;
    };
    for (const Case c : {Case{0x00010B00, "1.11"}, {0x0001020B, "2.11"}, {0x01020304, "1.3.4"}, {0x05000001, "5.0.1"},
                         {0xFF0000FF, "255.0.255"}, {0, "0.0"}, {0x0A0B0C00, "11.12"}, {0xFFFFFFFF, "----------"}}) {
        g_device.firmwareVersion = c.firmware;
        ShowVersions();
        EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW2)), c.shown) << std::hex << c.firmware;
    }
    for (const Case c : {Case{0x00010200, "1.2"}, {0x12345678, "52.86"}, {0xFFFFFFFF, "255.255"}}) {
        g_device.bootloaderVersion = c.firmware;
        ShowVersions();
        EXPECT_EQ(Narrow(simui::Text(IDC_VALUE_FW1)), c.shown) << std::hex << c.firmware;
    }
    for (const auto& product : {std::pair<std::uint16_t, const char*>{1, "VELTABOX"}, {2, "VELTA-HUB"}, {7, "VELTA-HUB"}}) {
        g_device.productId = product.first;
        ShowVersions();
        EXPECT_EQ(Narrow(simui::Text(IDC_LABEL_FW2)), product.second);
    }
    char16_t longest[VERSION_TEXT_CHARS];
    FormatVersion(0xFFFFFFFF, longest, VERSION_TEXT_CHARS);
    EXPECT_EQ(Narrow(longest), "255.255.255");
}

TEST_F(MainWindowTest, LogoIsDrawnRightOfTheGroupAtMostHalfSize) {
    const WindowRect window = {100, 200, 706, 622};
    WindowRect group = {126, 242, 354, 345};
    LogoPlacement at = ComputeLogoPlacement(window, group, 3, 22, 365, 122);
    EXPECT_EQ(at.width, 182);
    EXPECT_EQ(at.height, 60);
    EXPECT_EQ(at.x, 354 - (100 + 3) + 20);
    EXPECT_EQ(at.y, 242 - (200 + 22));
    group.right = window.right - 110;  // room for 100 pixels only
    at = ComputeLogoPlacement(window, group, 3, 22, 365, 122);
    EXPECT_EQ(at.width, 100);
    EXPECT_EQ(at.height, 33);
}

TEST_F(MainWindowTest, PaintingDrawsTheLogoWithTheKeyColourWhereTheGroupLeavesRoom) {
    Start();
    simui::Paint();
    ASSERT_EQ(g_ui.logos.size(), 1u);
    const simui::LogoDrawn& logo = g_ui.logos.back();
    EXPECT_EQ(logo.bitmapId, IDB_LOGO);
    EXPECT_EQ(logo.at.width, 182);
    EXPECT_EQ(logo.at.height, 60);
    EXPECT_EQ(logo.at.x, 354 - (100 + 3) + 20);
    EXPECT_EQ(logo.keyColour, 0x0000FF00u);
}

}  // namespace
