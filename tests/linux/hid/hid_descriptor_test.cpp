// The report lengths the hidraw backend takes from a report descriptor, against what Windows'
// HidP_GetCaps gives for the same descriptors, and descriptors made to break the parser.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/linux/hidraw/hidraw_descriptor.h"
#include "tests/linux/hid/descriptors.h"
#include "tests/emulated_box/emulated_box.h"

namespace {

struct Lengths {
    std::uint16_t input;
    std::uint16_t output;
};

bool Parse(const Bytes& descriptor, Lengths* lengths) {
    return DescriptorReportLengths(descriptor.data(), descriptor.size(), &lengths->input, &lengths->output);
}

TEST(ReportDescriptor, LengthsOfRealDevicesAreThoseWindowsDeclares) {
    struct Case {
        const char* what;
        Bytes descriptor;
        Lengths expected;
    };
    const Case cases[] = {
        {"the box", emu::BoxReportDescriptor(64, 64), {64, 64}},
        {"a box with odd lengths", emu::BoxReportDescriptor(33, 51), {33, 51}},
        {"boot keyboard", BOOT_KEYBOARD, {9, 2}},
        {"mouse and consumer control", MOUSE_AND_CONSUMER, {5, 0}},
    };
    for (const Case& c : cases) {
        Lengths lengths = {0xEEEE, 0xEEEE};
        ASSERT_TRUE(Parse(c.descriptor, &lengths)) << c.what;
        EXPECT_EQ(lengths.input, c.expected.input) << c.what;
        EXPECT_EQ(lengths.output, c.expected.output) << c.what;
    }
}

TEST(ReportDescriptor, PushPopRestoreTheSizesAndLongItemsAreSkipped) {
    const Bytes descriptor = {
        0xA1, 0x01,                    // collection
        0x85, 0x02, 0x75, 0x08, 0x95, 0x04,  // report 2: 4 x 8 bits
        0xA4,                          // push
        0x75, 0x10, 0x95, 0x0A,        // 10 x 16 bits
        0x81, 0x02,                    // input: 160 bits in report 2
        0xFE, 0x03, 0x10, 0x91, 0x02, 0xC0,  // a long item whose data look like an output and an end
        0xB4,                          // pop: 4 x 8 bits again
        0x81, 0x02,                    // input: 32 more bits in report 2
        0x85, 0x01, 0x91, 0x02,        // report 1: output of 32 bits
        0xC0};
    Lengths lengths = {};
    ASSERT_TRUE(Parse(descriptor, &lengths));
    EXPECT_EQ(lengths.input, 1 + (160 + 32) / 8);
    EXPECT_EQ(lengths.output, 1 + 32 / 8);
}

TEST(ReportDescriptor, HostileDescriptorsGiveNoCapabilities) {
    struct Case {
        const char* what;
        Bytes descriptor;
    };
    const Case cases[] = {
        {"empty", {}},
        {"a short item cut off", {0xA1, 0x01, 0x75, 0x08, 0x96, 0x01}},
        {"a four-byte item cut off", {0xA1, 0x01, 0x97, 0xFF, 0xFF, 0xFF}},
        {"a long item cut off", {0xA1, 0x01, 0xC0, 0xFE, 0x05, 0x00, 0x01, 0x02}},
        {"a long item without its header", {0xA1, 0x01, 0xC0, 0xFE, 0x05}},
        {"a pop without a push", {0xA1, 0x01, 0xB4, 0xC0}},
        {"pushes deeper than the kernel allows", {0xA4, 0xA4, 0xA4, 0xA4, 0xA4}},
        {"report ID 0", {0xA1, 0x01, 0x85, 0x00, 0x81, 0x02, 0xC0}},
        {"report ID 256", {0xA1, 0x01, 0x86, 0x00, 0x01, 0x81, 0x02, 0xC0}},
        {"an end without a collection", {0x81, 0x02, 0xC0}},
        {"a collection never ended", {0xA1, 0x01, 0xA1, 0x00, 0x81, 0x02, 0xC0}},
    };
    for (const Case& c : cases) {
        Lengths lengths = {0xEEEE, 0xEEEE};
        EXPECT_FALSE(Parse(c.descriptor, &lengths)) << c.what;
        EXPECT_EQ(lengths.input, 0xEEEE) << c.what << ": lengths set although the descriptor was refused";
    }
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    EXPECT_FALSE(DescriptorReportLengths(nullptr, 16, &input, &output));
}

TEST(ReportDescriptor, HugeReportsSaturateInsteadOfOverflowing) {
    // Report size and count of 2^32 - 1 each, added twice: far beyond 16 bits of bytes.
    const Bytes item = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81, 0x02, 0x91, 0x02};
    Lengths lengths = {};
    ASSERT_TRUE(Parse(item, &lengths));
    EXPECT_EQ(lengths.input, 0xFFFF);
    EXPECT_EQ(lengths.output, 0xFFFF);

    // 65534 data bytes and the ID byte make 0xFFFF exactly: the cap lies above every length that fits.
    const Bytes exact = {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02};
    ASSERT_TRUE(Parse(exact, &lengths));
    EXPECT_EQ(lengths.input, 0xFFFF);
    EXPECT_EQ(lengths.output, 0);
}

}  // namespace
