// What the device link needs of the operating system's HID stack, and nothing more.
// Each function stands for one system call (or the fixed group of calls named beside it) so that
// a backend can be read against the system documentation line by line. Backends are chosen at
// link time: the Win32 one for the shipped program, the simulated box for tests and the demo.
#pragma once

#include <cstdint>

// An open HID interface. Same width and invalid value as a Win32 HANDLE, so the Win32 backend
// passes it through unchanged.
using DeviceHandle = std::intptr_t;
// The list of present HID interfaces (a Setup API device-information set on Windows).
using InterfaceList = std::intptr_t;

// A box claimed for this program alone (a named mutex on Windows; on Linux the flock lives on
// the device's descriptor). 0: no claim.
using BoxClaim = std::intptr_t;

constexpr DeviceHandle PLATFORM_NO_DEVICE = -1;
constexpr InterfaceList PLATFORM_NO_LIST = -1;

// How the calls that can say why they failed ended. Failed: for a reason the logic does not tell
// apart, left in SystemLastError.
enum class HidStatus {
    Ok,
    Failed,
    Denied,       // the user may not open the interface
    Held,         // another program (or this one) has claimed the box
    Unsupported,  // the system cannot make this request of any device
};

// HidD_GetHidGuid, then SetupDiGetClassDevsW(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE).
// PLATFORM_NO_LIST when no list can be had.
InterfaceList HidListInterfaces();
// SetupDiEnumDeviceInterfaces for member `index`; false ends the enumeration.
bool HidEnumInterface(InterfaceList list, std::uint32_t index);
// SetupDiGetDeviceInterfaceDetailW without a buffer: the byte size the detail record needs,
// 0 when none comes back.
std::uint32_t HidInterfaceDetailSize(InterfaceList list, std::uint32_t index);
// SetupDiGetDeviceInterfaceDetailW into `detail` (`size` bytes, as returned above).
bool HidInterfaceDetail(InterfaceList list, std::uint32_t index, void* detail, std::uint32_t size);
// The zero-terminated UTF-16 device path inside a detail record filled by HidInterfaceDetail.
const char16_t* HidDetailPath(const void* detail);
// The vendor and product IDs of member `index` where the system has them without opening the
// interface (udev's HID_ID on Linux); false where it has not (Windows), and the interface must
// be opened to be looked at.
bool HidInterfaceIds(InterfaceList list, std::uint32_t index, std::uint16_t* vendorId, std::uint16_t* productId);
// SetupDiDestroyDeviceInfoList.
void HidFreeInterfaceList(InterfaceList list);

// CreateFileW for shared reading and writing of an existing device. PLATFORM_NO_DEVICE on
// failure, and then `status` (when given) says Denied where the user lacks access, else Failed.
DeviceHandle HidOpen(const char16_t* path, HidStatus* status);
// Claims the box open on `device` (listed as `path`) for this program alone, before anything is
// sent to it, so that no second updater talks to a box that is being written. Ok with `claim`
// set; Held when another program, or another connection of this one, has it.
HidStatus HidClaim(DeviceHandle device, const char16_t* path, BoxClaim* claim);
// Lets the claim go; the device stays open.
void HidRelease(DeviceHandle device, BoxClaim claim);
// HidD_GetAttributes.
bool HidGetIds(DeviceHandle device, std::uint16_t* vendorId, std::uint16_t* productId);
// HidD_GetPreparsedData, HidP_GetCaps, HidD_FreePreparsedData: the declared report lengths in
// bytes, report ID included. False when the capabilities cannot be had.
bool HidGetReportLengths(DeviceHandle device, std::uint16_t* inputLength, std::uint16_t* outputLength);
// WriteFile of one output report of `length` bytes; the backend bounds the wait.
bool HidWriteReport(DeviceHandle device, const std::uint8_t* report, std::uint32_t length);
// ReadFile of the next input report, `length` bytes; false when none arrives within `timeoutMs`.
bool HidReadReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
// HidD_GetInputReport: requests the input report whose ID stands in report[0]. Failed when it
// does not come within `timeoutMs`; Unsupported where the system cannot request input reports.
HidStatus HidGetInputReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
// CloseHandle.
void HidClose(DeviceHandle device);
