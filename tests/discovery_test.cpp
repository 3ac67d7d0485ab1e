#include "device/discovery.h"

#include "sim_fixture.h"

namespace {

using sim::InterfaceKind;

class DiscoveryTest : public SimTest {};

TEST_F(DiscoveryTest, NoInterfacesMeansNotFoundWithTheRecordReset) {
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_NOT_FOUND);
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(g_device.devicePath, nullptr);
}

TEST_F(DiscoveryTest, NoInterfaceListMeansUnusable) {
    sim::g_world.listFails = true;
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_UNUSABLE);
    EXPECT_FALSE(IsDeviceHeld(g_device));
}

TEST_F(DiscoveryTest, SameVendorWithAnotherProductIsOpenedLookedAtAndClosed) {
    sim::AddOtherDevice(0x21B8, 3, u"\\\\?\\hid#vid_21b8&pid_0003#1");
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_NOT_FOUND);
    ASSERT_EQ(sim::g_world.opened.size(), 1u);
    EXPECT_EQ(sim::g_world.openHandles, 0);
    EXPECT_TRUE(sim::g_world.wire.empty());
}

TEST_F(DiscoveryTest, InterfacesBeforeTheBoxAreSkippedAndEveryOneOpenedIsClosed) {
    sim::AddOtherDevice(0x046D, 0xC077);                // a mouse
    sim::AddInterface(InterfaceKind::Unreadable);
    sim::AddInterface(InterfaceKind::CannotOpen);       // a keyboard held by the system
    sim::AddInterface(InterfaceKind::AttributesFail);
    sim::AddOtherDevice(0x21B8, 3);
    const std::u16string boxPath = u"\\\\?\\HID#VID_21B8&PID_0001#8&1b2c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    sim::AddBox(sim::MakeBox(1, true), boxPath);

    ASSERT_EQ(FindDevice(g_device), DEV_OK);

    // Mouse, attributes failure, product 3 and the box: opened once each.
    EXPECT_EQ(sim::g_world.opened.size(), 4u);
    EXPECT_EQ(sim::g_world.openHandles, 1);
    EXPECT_EQ(std::u16string(g_device.devicePath), boxPath);
    EXPECT_EQ(g_device.productId, 1);
    for (const sim::WireEntry& entry : sim::g_world.wire) EXPECT_EQ(entry.box, 0);
}

TEST_F(DiscoveryTest, OnlyTheFirstOfTwoBoxesIsOpenedAndQueried) {
    sim::AddBox(sim::MakeBox(2, true));
    sim::AddBox(sim::MakeBox(1, true));
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(g_device.productId, 2);
    EXPECT_EQ(sim::g_world.opened.size(), 1u);
    EXPECT_EQ(sim::g_world.boxes[1].reportsReceived, 0u);
}

TEST_F(DiscoveryTest, SearchingAgainFirstLetsTheHeldBoxGo) {
    sim::AddBox(sim::MakeBox(1, true));
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    const DeviceHandle first = g_device.handle;
    sim::PullOut(0);

    EXPECT_EQ(FindDevice(g_device), DEV_ERR_NOT_FOUND);
    EXPECT_EQ(sim::g_world.openHandles, 0) << "the handle " << first << " stayed open";
    EXPECT_EQ(g_device.devicePath, nullptr);
}

TEST_F(DiscoveryTest, ClosingANeverHeldRecordDoesNothing) {
    CloseDevice(g_device);
    CloseDevice(g_device);
    EXPECT_FALSE(IsDeviceHeld(g_device));
    EXPECT_EQ(g_device.devicePath, nullptr);
    EXPECT_EQ(g_device.productId, 0);
}

TEST_F(DiscoveryTest, FailedQueryLeavesTheBoxOpenUntilClosed) {
    sim::Box box = sim::MakeBox(1, true);
    box.faults.failWriteNumber = 1;
    sim::AddBox(box);

    EXPECT_EQ(FindDevice(g_device), DEV_ERR_WRITE);
    EXPECT_TRUE(IsDeviceHeld(g_device));
    EXPECT_EQ(g_device.bootloaderMode, 0);
    CloseDevice(g_device);
    EXPECT_EQ(sim::g_world.openHandles, 0);
    EXPECT_EQ(g_device.outputReportLength, 0u);
}

TEST_F(DiscoveryTest, BoxesOthersHoldOrTheUserMayNotOpenArePassedOverAndTheWorstReasonIsTold) {
    // As udev lists them: the IDs are known before anything is opened.
    sim::AddOtherDevice(0x046D, 0xC31C, u"/dev/hidraw0");
    sim::g_world.interfaces.back().idsListed = true;
    sim::Box held = sim::MakeBox(1, true);
    held.heldElsewhere = true;
    sim::AddBox(held, u"/dev/hidraw1");

    EXPECT_EQ(FindDevice(g_device), DEV_ERR_BUSY);
    EXPECT_FALSE(IsDeviceHeld(g_device));
    ASSERT_EQ(sim::g_world.opened.size(), 1u) << "the keyboard udev named was opened";
    EXPECT_EQ(Box(0).reportsReceived, 0u) << "a report reached the box another program holds";

    sim::AddInterface(InterfaceKind::CannotOpen, u"/dev/hidraw2");
    sim::Interface& denied = sim::g_world.interfaces.back();
    denied.idsListed = true;
    denied.vendorId = 0x21B8;
    denied.productId = 2;
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_DENIED) << "the user must act on a box that may not be opened";

    // A third box behind them is free: the first free one wins, and it is claimed until let go.
    sim::AddBox(sim::MakeBox(2, true), u"/dev/hidraw3");
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(std::u16string(g_device.devicePath), u"/dev/hidraw3");
    EXPECT_TRUE(Box(1).claimed);
    DeviceRecord second = {};
    ResetDeviceRecord(second);
    EXPECT_EQ(FindDevice(second), DEV_ERR_DENIED) << "one program's claim keeps its own second search off";
    CloseDevice(g_device);
    EXPECT_FALSE(Box(1).claimed);
}

}  // namespace
