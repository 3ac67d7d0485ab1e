#include "fuzz/fuzz_platform.h"

#include <cstdlib>
#include <cstring>

#include "platform/hid.h"
#include "platform/system.h"

namespace {

const std::uint8_t* g_data = nullptr;
std::size_t g_left = 0;
int g_handles = 0;
int g_lists = 0;
int g_claims = 0;
std::uint64_t g_clock = 0;
volatile std::uint8_t g_sink = 0;

bool Exhausted() { return g_left == 0; }

std::uint16_t Word() { return static_cast<std::uint16_t>(FuzzByte() | FuzzByte() << 8); }

// Most answers succeed, so that the fuzzer reaches the deeper steps of discovery and query.
bool Succeeds() { return !Exhausted() && FuzzByte() < 0xE0; }

void Fill(void* buffer, std::uint32_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < length; ++i) bytes[i] = FuzzByte();
}

}  // namespace

void FuzzPlatformStart(const std::uint8_t* data, std::size_t size) {
    g_data = data;
    g_left = size;
    g_handles = 0;
    g_lists = 0;
    g_claims = 0;
    g_clock = 0;
}

int FuzzPlatformOpenHandles() { return g_handles; }
int FuzzPlatformOpenLists() { return g_lists; }
int FuzzPlatformClaims() { return g_claims; }

std::uint8_t FuzzByte() {
    if (g_left == 0) return 0;
    --g_left;
    return *g_data++;
}

// One list at a time: the logic never holds two.
struct InterfaceList {
    int unused;
};
InterfaceList g_list;

InterfaceList* HidListInterfaces() {
    if (!Succeeds()) return nullptr;
    ++g_lists;
    return &g_list;
}

Listed HidInterfaceAt(InterfaceList*, std::uint32_t index, ListedInterface* member) {
    *member = ListedInterface{};
    if (index >= 32 || !Succeeds()) return Listed::End;
    if (FuzzByte() < 0x20) return Listed::Unreadable;
    // Any units at all, up to the terminator the backends promise.
    const std::size_t length = FuzzByte() % 64;
    member->path = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
    if (member->path == nullptr) return Listed::Unreadable;
    for (std::size_t i = 0; i < length; ++i) member->path[i] = static_cast<char16_t>(Word());
    member->path[length] = 0;
    member->idsListed = Succeeds();
    if (member->idsListed) {
        member->vendorId = Word();
        member->productId = Word();
    }
    return Listed::Interface;
}

void HidFreeInterfaceList(InterfaceList*) { --g_lists; }

DeviceHandle HidOpen(const char16_t* path, HidStatus* status) {
    std::size_t length = 0;
    while (path[length] != 0) ++length;  // a runaway copy shows up here
    if (!Succeeds()) {
        if (status != nullptr) *status = FuzzByte() < 0x80 ? HidStatus::Denied : HidStatus::Failed;
        return PLATFORM_NO_DEVICE;
    }
    if (status != nullptr) *status = HidStatus::Ok;
    ++g_handles;
    return 0x100;
}

HidStatus HidClaim(DeviceHandle, const char16_t* path, BoxClaim* claim) {
    std::size_t length = 0;
    while (path[length] != 0) ++length;
    if (!Succeeds()) return FuzzByte() < 0x80 ? HidStatus::Held : HidStatus::Failed;
    ++g_claims;
    *claim = 0x200;
    return HidStatus::Ok;
}

void HidRelease(DeviceHandle, BoxClaim claim) {
    if (g_claims <= 0 || claim != 0x200) std::abort();  // let go of something never claimed
    --g_claims;
}

bool HidGetIds(DeviceHandle, std::uint16_t* vendorId, std::uint16_t* productId) {
    if (!Succeeds()) return false;
    const std::uint8_t kind = FuzzByte();
    *vendorId = kind < 0xC0 ? 0x21B8 : Word();
    *productId = kind < 0xC0 ? static_cast<std::uint16_t>(1 + (kind & 1)) : Word();
    return true;
}

bool HidGetReportLengths(DeviceHandle, std::uint16_t* inputLength, std::uint16_t* outputLength) {
    if (!Succeeds()) return false;
    const std::uint8_t kind = FuzzByte();
    *inputLength = kind < 0x80 ? 64 : Word();
    *outputLength = kind < 0x80 ? 64 : Word();
    return true;
}

bool HidWriteReport(DeviceHandle, const std::uint8_t* report, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) g_sink = static_cast<std::uint8_t>(g_sink + report[i]);
    return Succeeds();
}

bool HidReadReport(DeviceHandle, std::uint8_t* report, std::uint32_t length, std::uint32_t) {
    if (!Succeeds()) return false;
    Fill(report, length);
    return true;
}

HidStatus HidGetInputReport(DeviceHandle, std::uint8_t* report, std::uint32_t length, std::uint32_t, std::uint32_t* received) {
    *received = 0;
    if (!Succeeds()) return FuzzByte() < 0x80 ? HidStatus::Unsupported : HidStatus::Failed;
    // Any count the system may hand back, from none to the whole buffer.
    const std::uint32_t count = FuzzByte();
    *received = count < length ? count : length;
    Fill(report, *received);
    return HidStatus::Ok;
}

void HidClose(DeviceHandle) {
    if (g_handles <= 0) std::abort();  // closed something that was never opened
    --g_handles;
}

// The pauses take no time here: a clock of its own, moved on by each reading and each pause, so
// that a deadline counted from it is always reached and never lies before its reading.
void SystemPause(std::uint32_t milliseconds) { g_clock += static_cast<std::uint64_t>(milliseconds) * 1000u; }

std::uint64_t SystemClockMicroseconds() { return ++g_clock; }

void SystemPauseUntil(std::uint64_t deadline) {
    if (deadline > g_clock) g_clock = deadline;
}
