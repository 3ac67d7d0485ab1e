// The hidraw backend under the device link: the search among other HID devices, the query in
// both modes, report lengths from the descriptors the nodes hand out, and the bounded waits.
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "device/protocol.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "tests/linux/hid/descriptors.h"
#include "tests/linux/hid/hidraw_fixture.h"

namespace {

// Root opens a node whatever its mode; without these two capabilities in its effective set, the
// test's thread meets a node as a user without the box's udev rule does. The kernel keeps
// capabilities per thread, and this thread is the one that opens the nodes.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
        dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutFileOverride() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;
    bool Dropped() const { return dropped_; }

private:
    __user_cap_header_struct header_ = {};
    __user_cap_data_struct saved_[2] = {};
    bool dropped_ = false;
};

bool IsPowerOfTen(unsigned value) {
    while (value >= 10 && value % 10 == 0) value /= 10;
    return value == 1;
}

TEST_F(HidrawTest, SearchTakesTheFirstFreeBoxInNodeOrderNeverOpeningOtherDevicesAndNamingABoxItMayNotOpen) {
    const int other = PlugOther();
    const int lockedOther = PlugOther();
    ASSERT_EQ(chmod(emu::NodeOf(lockedOther).c_str(), 0), 0);
    const int locked = PlugBox(sim::MakeBox(1, true));
    ASSERT_EQ(chmod(emu::NodeOf(locked).c_str(), 0), 0);
    // The two boxes get /dev/hidraw9 and /dev/hidraw10 (or 99 and 100): in the order of their
    // names the second would come first.
    for (int last = locked; !IsPowerOfTen(NodeNumber(last) + 2);) last = PlugOther(0x1209, 0x0001);
    const int held = PlugBox(sim::MakeBox(1, true));
    const int first = PlugBox(sim::MakeBox(2, true));
    const int second = PlugBox(sim::MakeBox(1, true));
    // Another updater holds the box before the first free one.
    DeviceRecord holder = {};
    ResetDeviceRecord(holder);
    HidStatus opened = HidStatus::Failed;
    holder.handle = HidOpen(Path(held).c_str(), &opened);
    ASSERT_EQ(opened, HidStatus::Ok);
    ASSERT_EQ(HidClaim(holder.handle, Path(held).c_str(), &holder.claim), HidStatus::Ok);

    testing::internal::CaptureStderr();
    std::int32_t found;
    {
        const WithoutFileOverride user;
        ASSERT_TRUE(user.Dropped());
        found = FindDevice(g_device);
    }
    const std::string said = testing::internal::GetCapturedStderr();

    ASSERT_EQ(found, DEV_OK);
    EXPECT_EQ(std::u16string(g_device.devicePath), Path(first));
    EXPECT_EQ(g_device.productId, 2);
    EXPECT_EQ(emu::Opens(other), 0) << "a device udev names as no box was opened";
    EXPECT_EQ(emu::RequestsServed(locked), 0);
    // Served once the search's request on it was: its holder's open, and the search's to find it
    // claimed, after which nothing but its IDs was asked.
    EXPECT_EQ(emu::Opens(held), 2);
    EXPECT_EQ(emu::RequestsServed(held), 1) << "the held box was asked more than its IDs";
    EXPECT_EQ(emu::RequestsServed(second), 0) << "the search went on past the first box";
    HidRelease(holder.handle, holder.claim);
    HidClose(holder.handle);
    // One line for the box's node that could not be opened (the node, the device behind it, the
    // rule); none for the other device's, which the rule would not open.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(emu::NodeOf(locked) + " (0003:000021B8:00000001, SORVANTIK VELTABOX)"), std::string::npos) << said;
    EXPECT_NE(said.find("70-veltabox.rules"), std::string::npos) << said;
}

TEST_F(HidrawTest, QueryTakesTheInfoAnswersInBootloaderModeAndTheBlockAnswersInApplicationMode) {
    sim::Box boot = sim::MakeBox(1, true);
    boot.bootloaderVersion = 0x00010300;
    boot.firmwareVersion = 0x00010A07;
    const int bootSlot = PlugBox(boot);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_NE(g_device.bootloaderMode, 0);
    EXPECT_EQ(g_device.bootloaderVersion, 0x00010300u) << "CMD_GET_INFO's answer";
    EXPECT_EQ(g_device.firmwareVersion, 0x00010A07u) << "CMD_READ_MEMORY's answer";
    EXPECT_EQ(g_device.inputReportLength, 64u);
    EXPECT_EQ(g_device.outputReportLength, 64u);
    const sim::Box afterQuery = BoxState(bootSlot);
    EXPECT_EQ(afterQuery.reportsReceived, 2u);
    EXPECT_TRUE(afterQuery.violations.empty());
    CloseDevice(g_device);
    emu::Unplug(bootSlot);

    sim::Box app = sim::MakeBox(2, false);
    app.appKind = 3;
    app.firmwareVersion = 0x00010B00;
    PlugBox(app);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(g_device.bootloaderMode, 0);
    EXPECT_EQ(g_device.appKind, 3);
    EXPECT_EQ(g_device.firmwareVersion, 0x00010B00u);
    // The simulated box fills a block of n bytes with 0xC0 + n + i.
    for (unsigned i = 0; i < 32; ++i) EXPECT_EQ(g_device.block32[i], static_cast<std::uint8_t>(0xC0 + 32 + i)) << i;
    for (unsigned i = 0; i < 40; ++i) EXPECT_EQ(g_device.block40[i], static_cast<std::uint8_t>(0xC0 + 40 + i)) << i;
}

TEST_F(HidrawTest, ReportLengthsComeFromTheDescriptorTheNodeHandsOut) {
    // The box takes only reports of its declared length, so its query shows them used.
    sim::Box odd = sim::MakeBox(1, true);
    odd.inputReportLength = 33;
    odd.outputReportLength = 51;
    const int oddSlot = PlugBox(odd);
    ASSERT_EQ(FindDevice(g_device), DEV_OK);
    EXPECT_EQ(g_device.inputReportLength, 33u);
    EXPECT_EQ(g_device.outputReportLength, 51u);
    EXPECT_TRUE(BoxState(oddSlot).violations.empty());
    CloseDevice(g_device);
    emu::Unplug(oddSlot);

    const int keyboard = emu::AddOtherDeviceSlot(0x046D, 0xC31C, "KB1");
    ASSERT_TRUE(emu::SetReportDescriptor(keyboard, BOOT_KEYBOARD));
    emu::Plug(keyboard);
    const DeviceHandle handle = HidOpen(Path(keyboard).c_str(), nullptr);
    ASSERT_NE(handle, PLATFORM_NO_DEVICE);
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    EXPECT_TRUE(HidGetReportLengths(handle, &input, &output));
    EXPECT_EQ(input, 9);
    EXPECT_EQ(output, 2);
    HidClose(handle);
    emu::Unplug(keyboard);

    // A box whose descriptor cannot be parsed has no capabilities: refused before any report.
    const int hostile = AddBox(sim::MakeBox(1, true));
    ASSERT_TRUE(emu::SetReportDescriptor(hostile, {0xA1, 0x01, 0x85, 0x00, 0x81, 0x02, 0xC0}));
    emu::Plug(hostile);
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_UNUSABLE);
    EXPECT_EQ(SystemLastError(), static_cast<std::uint32_t>(EINVAL));
    EXPECT_EQ(BoxState(hostile).reportsReceived, 0u);
}

TEST_F(HidrawTest, AnswersThatDoNotComeEndTheQueryWithTheSystemsReason) {
    // No block answer: read() is given up after the bound the logic sets.
    sim::Box silent = sim::MakeBox(1, false);
    silent.appKind = 3;
    silent.faults.blockAnswerNever = true;
    const int silentSlot = PlugBox(silent);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_READ);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(SystemLastError(), static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_GE(waited, BLOCK_ANSWER_TIMEOUT_MS);
    EXPECT_LT(waited, BLOCK_ANSWER_TIMEOUT_MS + 500);
    EXPECT_EQ(BoxState(silentSlot).reportsReceived, 2u) << "CMD_GET_INFO, CMD_READ_BLOCK32 and nothing after";
    CloseDevice(g_device);
    emu::Unplug(silentSlot);

    // An info request the box stalls: the kernel's EPIPE.
    sim::Box stalling = sim::MakeBox(1, true);
    stalling.faults.infoRequestFails = true;
    const int stallingSlot = PlugBox(stalling);
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_READ);
    EXPECT_EQ(SystemLastError(), static_cast<std::uint32_t>(EPIPE));
    EXPECT_EQ(BoxState(stallingSlot).reportsReceived, 1u);
}

TEST_F(HidrawTest, AShortAnswerComesWithItsCountAndFailsTheQuery) {
    sim::Box cut = sim::MakeBox(1, true);
    cut.faults.shortAnswersFrom = 1;
    cut.faults.shortAnswerLength = INFO_ANSWER_LENGTH - 1;
    const int slot = PlugBox(cut);
    EXPECT_EQ(FindDevice(g_device), DEV_ERR_READ);
    EXPECT_EQ(BoxState(slot).reportsReceived, 1u) << "nothing after the short CMD_GET_INFO answer";
    ASSERT_TRUE(IsDeviceHeld(g_device));

    // The kernel copies what came and says how much; the rest of the buffer is left alone.
    const auto box = static_cast<std::size_t>(emu::BoxOf(slot));
    for (const std::uint32_t length : {INFO_ANSWER_LENGTH - 1, 0u}) {
        {
            std::lock_guard<std::mutex> hold(emu::WorldLock());
            sim::g_world.boxes.at(box).faults.shortAnswerLength = length;
        }
        Report request;
        BuildRequest(request, CMD_GET_INFO, 0);
        ASSERT_TRUE(SendRequest(g_device, request));
        std::uint8_t answer[REPORT_BUFFER_SIZE];
        std::fill(std::begin(answer), std::end(answer), 0xEE);
        answer[0] = REPORT_ID_RESPONSE;
        std::uint32_t received = 99;
        EXPECT_EQ(HidGetInputReport(g_device.handle, answer, REPORT_BUFFER_SIZE, INFO_ANSWER_TIMEOUT_MS, &received), HidStatus::Ok);
        EXPECT_EQ(received, length);
        EXPECT_EQ(answer[0], REPORT_ID_RESPONSE);
        EXPECT_EQ(answer[3], length > 3 ? 1 : 0xEE) << "the mode byte, when it came";
        EXPECT_EQ(answer[length > 0 ? length : 1], 0xEE);
        EXPECT_EQ(QueryDeviceInfo(g_device), DEV_ERR_READ) << length;
    }
    EXPECT_TRUE(BoxState(slot).violations.empty());
}

}  // namespace
