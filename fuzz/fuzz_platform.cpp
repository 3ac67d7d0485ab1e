#include "fuzz/fuzz_platform.h"

#include <cstdlib>
#include <cstring>

#include "platform/detail_record.h"
#include "platform/hid.h"
#include "platform/system.h"

namespace {

const std::uint8_t* g_data = nullptr;
std::size_t g_left = 0;
int g_handles = 0;
int g_lists = 0;
int g_claims = 0;
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
}

int FuzzPlatformOpenHandles() { return g_handles; }
int FuzzPlatformOpenLists() { return g_lists; }
int FuzzPlatformClaims() { return g_claims; }

std::uint8_t FuzzByte() {
    if (g_left == 0) return 0;
    --g_left;
    return *g_data++;
}

InterfaceList HidListInterfaces() {
    if (!Succeeds()) return PLATFORM_NO_LIST;
    ++g_lists;
    return 0x40;
}

bool HidEnumInterface(InterfaceList, std::uint32_t index) { return index < 32 && Succeeds(); }

std::uint32_t HidInterfaceDetailSize(InterfaceList, std::uint32_t) { return FuzzByte(); }

bool HidInterfaceDetail(InterfaceList, std::uint32_t, void* detail, std::uint32_t size) {
    if (!Succeeds()) return false;
    // The whole record, and not one byte more: an unterminated path is the logic's problem.
    Fill(detail, size);
    return true;
}

const char16_t* HidDetailPath(const void* detail) { return DetailRecordPath(detail); }

void HidFreeInterfaceList(InterfaceList) { --g_lists; }

bool HidInterfaceIds(InterfaceList, std::uint32_t, std::uint16_t* vendorId, std::uint16_t* productId) {
    if (!Succeeds()) return false;
    *vendorId = Word();
    *productId = Word();
    return true;
}

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

HidStatus HidGetInputReport(DeviceHandle, std::uint8_t* report, std::uint32_t length, std::uint32_t) {
    if (!Succeeds()) return FuzzByte() < 0x80 ? HidStatus::Unsupported : HidStatus::Failed;
    Fill(report, length);
    return HidStatus::Ok;
}

void HidClose(DeviceHandle) {
    if (g_handles <= 0) std::abort();  // closed something that was never opened
    --g_handles;
}

void SystemPause(std::uint32_t) {}
