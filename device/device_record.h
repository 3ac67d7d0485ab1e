// The one box the program holds, and the result codes of every device operation.
#pragma once

#include <cstdint>

#include "platform/hid.h"

constexpr DeviceHandle INVALID_HANDLE_VALUE = PLATFORM_NO_DEVICE;

// Result codes. 1 to 65535 are the box's own error words from a refused block read.
constexpr std::int32_t DEV_OK = 0;
constexpr std::int32_t DEV_ERR_UNUSABLE = -1;
constexpr std::int32_t DEV_ERR_WRITE = -2;
constexpr std::int32_t DEV_ERR_READ = -3;
constexpr std::int32_t DEV_ERR_NOT_FOUND = -4;
constexpr std::int32_t DEV_ERR_ARGUMENT = 4;
// Why a search found no box it could use although one is attached, worst first. A box the user
// may not open, or whose versions the system cannot ask for, needs the user to act; a box that
// another program holds is shown here once that program lets it go.
constexpr std::int32_t DEV_ERR_DENIED = -5;
constexpr std::int32_t DEV_ERR_UNSUPPORTED = -6;
constexpr std::int32_t DEV_ERR_BUSY = -7;
// The caller stopped a run of flash commands between two of them.
constexpr std::int32_t DEV_ERR_STOPPED = -8;

constexpr std::uint16_t PRODUCT_ID_VELTABOX = 1;
constexpr std::uint16_t PRODUCT_ID_VELTA_HUB = 2;

struct DeviceRecord {
    DeviceHandle handle;
    char16_t* devicePath;  // owned; exactly as the system listed it
    std::uint32_t outputReportLength;
    std::uint32_t inputReportLength;
    std::uint8_t bootloaderMode;
    std::uint32_t firmwareVersion;  // 0xFFFFFFFF: no firmware version known
    std::uint32_t firmwareInfo;
    std::uint16_t appKind;
    std::uint16_t appInfo;
    std::uint8_t bootInfo1;
    std::uint16_t bootInfo2;
    std::uint32_t bootloaderVersion;
    std::uint32_t bootInfo3;
    std::uint8_t bootInfo4;
    std::uint8_t block32[32];
    std::uint8_t block40[40];
    std::uint16_t productId;
    BoxClaim claim;  // this program's claim on the box, taken before the first report
};

extern DeviceRecord g_device;

// Every byte zero, no path, no handle: the state in which no box is held. Closes nothing.
void ResetDeviceRecord(DeviceRecord& record);
inline bool IsDeviceHeld(const DeviceRecord& record) { return record.handle != INVALID_HANDLE_VALUE; }
