// What the device link needs of the system's HID stack, in the program's own words: the present
// interfaces with their paths (and, where the system knows them without opening the device, their
// IDs), an open interface, its reports, and the claim that keeps a box to one program. Each
// backend maps these onto its own system (the Setup API and the HID class driver on Windows,
// udev and hidraw on Linux, the simulated world for tests and the demo) and keeps that system's
// records to itself. Backends are chosen at link time.
#pragma once

#include <cstdint>

// An open HID interface: a HANDLE on Windows, a file descriptor on Linux.
using DeviceHandle = std::intptr_t;

// A box claimed for this program alone (a named mutex on Windows; on Linux the flock lives on
// the device's descriptor). 0: no claim.
using BoxClaim = std::intptr_t;

constexpr DeviceHandle PLATFORM_NO_DEVICE = -1;

// How the calls that can say why they failed ended. Failed: for a reason the logic does not tell
// apart, left in SystemLastError.
enum class HidStatus {
    Ok,
    Failed,
    Denied,       // the user may not open the interface
    Held,         // another program (or this one) has claimed the box
    Unsupported,  // the system cannot make this request of any device
};

// The HID interfaces present when the list was made, in an order that stays the same from one
// list to the next. Each backend defines it.
struct InterfaceList;

// One member of a list.
struct ListedInterface {
    char16_t* path;  // zero-terminated; allocated with std::malloc, the caller frees it
    bool idsListed;  // the system named the IDs below without the interface being opened (udev)
    std::uint16_t vendorId;
    std::uint16_t productId;
};

enum class Listed {
    End,        // no member at this index: the list is over
    Unreadable, // a member whose path cannot be had; the next index may still hold one
    Interface,  // the member, filled in
};

// Null when no list can be had (the reason in SystemLastError).
InterfaceList* HidListInterfaces();
// The member at `index`.
Listed HidInterfaceAt(InterfaceList* list, std::uint32_t index, ListedInterface* member);
void HidFreeInterfaceList(InterfaceList* list);

// Opens an existing interface for reading and writing, shared with other programs.
// PLATFORM_NO_DEVICE on failure, and then `status` (when given) says Denied where the user lacks
// access, else Failed.
DeviceHandle HidOpen(const char16_t* path, HidStatus* status);
// Claims the box open on `device` (listed as `path`) for this program alone, before anything is
// sent to it, so that no second updater talks to a box that is being written. Ok with `claim`
// set; Held when another program, or another connection of this one, has it.
HidStatus HidClaim(DeviceHandle device, const char16_t* path, BoxClaim* claim);
// Lets the claim go; the device stays open.
void HidRelease(DeviceHandle device, BoxClaim claim);
// The device's USB vendor and product IDs.
bool HidGetIds(DeviceHandle device, std::uint16_t* vendorId, std::uint16_t* productId);
// The declared report lengths in bytes, report ID included. False when the capabilities cannot
// be had.
bool HidGetReportLengths(DeviceHandle device, std::uint16_t* inputLength, std::uint16_t* outputLength);
// Sends one output report of `length` bytes; the backend bounds the wait.
bool HidWriteReport(DeviceHandle device, const std::uint8_t* report, std::uint32_t length);
// The next input report the device sent, `length` bytes; false when none arrives within
// `timeoutMs`.
bool HidReadReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
// Asks the device for the input report whose ID stands in report[0] (a GET_REPORT request).
// `received` is set to the bytes that came, report ID included, at most `length`: a device may
// answer with fewer than it declared, or with none, and the bytes past them are left as they
// were; 0 unless Ok. Failed when it does not come within `timeoutMs`; Unsupported where the
// system cannot request input reports.
HidStatus HidGetInputReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs,
                            std::uint32_t* received);
void HidClose(DeviceHandle device);
