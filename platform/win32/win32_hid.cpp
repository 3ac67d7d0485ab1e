// The HID functions of platform/hid.h on the Windows HID and Setup APIs.
#include "platform/hid.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>

#include <winioctl.h>

#include <hidclass.h>
#include <hidsdi.h>
#include <setupapi.h>

#include "platform/win32/win32_device_path.h"
#include "platform/win32/win32_dll.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "device paths are handed out as UTF-16");
static_assert(sizeof(HANDLE) == sizeof(DeviceHandle), "device handles pass through unchanged");

// A Setup API device-information set of the HID interface class, and the class it was made for:
// every later SetupDi call on the set names it again.
struct InterfaceList {
    HDEVINFO set;
    GUID hidGuid;
    std::uint32_t failuresInRow;  // members the set would not hand out, since the last it did
};

namespace {

// A box that stops answering must not hold the update up for longer than this per report.
constexpr DWORD REPORT_WRITE_TIMEOUT_MS = 1000;

// A set that refuses every index for a reason other than its end (a handle gone bad) would never
// say ERROR_NO_MORE_ITEMS, and the caller would ask for ever: after this many refusals in a row
// the list counts as over. No machine has that many HID interfaces that cannot be read.
constexpr std::uint32_t MOST_FAILURES_IN_ROW = 256;

HANDLE AsHandle(DeviceHandle device) { return reinterpret_cast<HANDLE>(device); }

// A list or a device reaches the other functions only after HidListInterfaces loaded the
// libraries; the check keeps a call out of that order from jumping through a null pointer.
const HidLibraries* Libraries() {
    const HidLibraries& libraries = HidLibrariesOnce();
    if (libraries.loadError == ERROR_SUCCESS) return &libraries;
    SetLastError(libraries.loadError);
    return nullptr;
}

// The member's path from its detail record: asked for the size the record needs, then for the
// record in a buffer of that size. Null when either call fails or there is no memory.
char16_t* DetailPath(const HidLibraries& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    // Fails by design with ERROR_INSUFFICIENT_BUFFER; only `required` matters.
    DWORD required = 0;
    api.SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
    if (required == 0) return nullptr;
    // Never smaller than the record's fixed part, which is written before the call.
    const std::size_t room = required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                                                                   : required;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, room));
    if (detail == nullptr) return nullptr;
    // The system checks cbSize against the fixed part of the record, never the buffer's size.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    char16_t* path = nullptr;
    if (api.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr))
        path = CopyDevicePath(detail->DevicePath, (room - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t));
    std::free(detail);
    return path;
}

// Waits for a ReadFile, WriteFile or DeviceIoControl that was started on `ov`. Whatever happens,
// the transfer is over when this returns, since the caller's buffer and `ov` are about to go
// away. The thread's last error on failure is the transfer's, not that of the clean-up. The bytes
// moved go to `moved` when it is given (0 on failure).
bool FinishTransfer(HANDLE file, OVERLAPPED& ov, BOOL started, DWORD timeoutMs, DWORD* moved = nullptr) {
    DWORD error = ERROR_SUCCESS;
    DWORD transferred = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
    } else {
        const DWORD waited = WaitForSingleObject(ov.hEvent, timeoutMs);
        if (waited != WAIT_OBJECT_0) {
            error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
            CancelIoEx(file, &ov);
        }
        // After a cancel the transfer may still have completed first, and then it counts: else a
        // command the box received would be taken for unsent, or an answer that came be dropped.
        if (GetOverlappedResult(file, &ov, &transferred, TRUE)) error = ERROR_SUCCESS;
        else if (error == ERROR_SUCCESS) error = GetLastError();
    }
    CloseHandle(ov.hEvent);
    if (moved != nullptr) *moved = error == ERROR_SUCCESS ? transferred : 0;
    if (error == ERROR_SUCCESS) return true;
    SetLastError(error);
    return false;
}

}  // namespace

InterfaceList* HidListInterfaces() {
    const HidLibraries* api = Libraries();
    if (api == nullptr) return nullptr;
    GUID hidGuid;
    api->HidD_GetHidGuid(&hidGuid);
    const HDEVINFO set = api->SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    auto* list = static_cast<InterfaceList*>(std::malloc(sizeof(InterfaceList)));
    if (list == nullptr) {
        api->SetupDiDestroyDeviceInfoList(set);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    *list = InterfaceList{set, hidGuid, 0};
    return list;
}

// The Setup API names an interface's IDs only in its hardware IDs, as text; the search opens each
// interface and asks HidD_GetAttributes instead, as it always has.
Listed HidInterfaceAt(InterfaceList* list, std::uint32_t index, ListedInterface* member) {
    *member = ListedInterface{};
    const HidLibraries* api = Libraries();
    if (api == nullptr) return Listed::End;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    // Only ERROR_NO_MORE_ITEMS ends the list. Another refusal (a member that went while the set
    // was read, no memory for a moment) is that member's alone, and the box may be the next one.
    if (!api->SetupDiEnumDeviceInterfaces(list->set, nullptr, &list->hidGuid, index, &data)) {
        if (GetLastError() == ERROR_NO_MORE_ITEMS || ++list->failuresInRow > MOST_FAILURES_IN_ROW) return Listed::End;
        return Listed::Unreadable;
    }
    list->failuresInRow = 0;
    member->path = DetailPath(*api, list->set, data);
    return member->path != nullptr ? Listed::Interface : Listed::Unreadable;
}

void HidFreeInterfaceList(InterfaceList* list) {
    if (list == nullptr) return;
    const HidLibraries* api = Libraries();
    if (api != nullptr) api->SetupDiDestroyDeviceInfoList(list->set);
    std::free(list);
}

DeviceHandle HidOpen(const char16_t* path, HidStatus* status) {
    HidStatus ignored;
    if (status == nullptr) status = &ignored;
    // Overlapped, so that every read and write can be given up after a bounded wait.
    const HANDLE device = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        *status = GetLastError() == ERROR_ACCESS_DENIED ? HidStatus::Denied : HidStatus::Failed;
        return PLATFORM_NO_DEVICE;
    }
    *status = HidStatus::Ok;
    return reinterpret_cast<DeviceHandle>(device);
}

namespace {

// The mutex that stands for a box: in the Global namespace, so that the programs of every session
// and user see the same one; named after the interface path with A-Z folded to a-z, as the removal
// notification is compared, and its backslashes (which would name a namespace) turned into '_'.
// A path too long for an object name (MAX_PATH) is named by a 64-bit FNV-1a hash of the same text.
void BoxMutexName(const char16_t* path, wchar_t (&name)[MAX_PATH]) {
    static const wchar_t PREFIX[] = L"Global\\VELTABOX-box-";
    std::size_t length = 0;
    while (PREFIX[length] != 0) {
        name[length] = PREFIX[length];
        ++length;
    }
    const std::size_t prefix = length;
    std::uint64_t hash = 0xcbf29ce484222325ull;
    bool fits = true;
    for (const char16_t* c = path; *c != 0; ++c) {
        char16_t unit = *c >= u'A' && *c <= u'Z' ? static_cast<char16_t>(*c - u'A' + u'a') : *c;
        if (unit == u'\\') unit = u'_';
        hash = (hash ^ unit) * 0x100000001b3ull;
        if (length + 1 < MAX_PATH) name[length++] = static_cast<wchar_t>(unit);
        else fits = false;
    }
    if (!fits) {
        length = prefix;
        for (int shift = 60; shift >= 0; shift -= 4) name[length++] = L"0123456789abcdef"[(hash >> shift) & 0xF];
    }
    name[length] = 0;
}

}  // namespace

// hidclass lets any number of programs open the box for shared reading and writing; opening it
// without sharing is no claim either (Wine's hidclass checks no share access, and the program
// documents the open as shared). A named mutex is: CreateMutexW makes it, or opens the one another
// program made (ERROR_ALREADY_EXISTS), or is refused access to one that another user's program
// made, whose default security admits only that user (ERROR_ACCESS_DENIED); both mean the box is
// held. The object lives as long as a handle to it does, so the claim ends when the holder lets
// go or its process ends, however it ends. Ownership of the mutex is never taken: it belongs to a
// thread, and the claim to the connection.
HidStatus HidClaim(DeviceHandle, const char16_t* path, BoxClaim* claim) {
    wchar_t name[MAX_PATH];
    BoxMutexName(path, name);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return GetLastError() == ERROR_ACCESS_DENIED ? HidStatus::Held : HidStatus::Failed;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        SetLastError(ERROR_ALREADY_EXISTS);
        return HidStatus::Held;
    }
    *claim = reinterpret_cast<BoxClaim>(mutex);
    return HidStatus::Ok;
}

void HidRelease(DeviceHandle, BoxClaim claim) {
    if (claim != 0) CloseHandle(reinterpret_cast<HANDLE>(claim));
}

// HidD_GetAttributes and HidD_GetPreparsedData below also send their requests without an
// OVERLAPPED structure. They stay: the HID class driver answers both from what it already holds,
// at once, without ever leaving them pending, so nothing is left to wait for on the overlapped
// handle. HidD_GetInputReport is the one that goes to the box and may pend.
bool HidGetIds(DeviceHandle device, std::uint16_t* vendorId, std::uint16_t* productId) {
    const HidLibraries* api = Libraries();
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (api == nullptr || !api->HidD_GetAttributes(AsHandle(device), &attributes)) return false;
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return true;
}

bool HidGetReportLengths(DeviceHandle device, std::uint16_t* inputLength, std::uint16_t* outputLength) {
    const HidLibraries* api = Libraries();
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (api == nullptr || !api->HidD_GetPreparsedData(AsHandle(device), &preparsed)) return false;
    HIDP_CAPS caps = {};
    const bool known = api->HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    api->HidD_FreePreparsedData(preparsed);
    if (!known) {
        // HidP_GetCaps reports through its result alone; the thread's last error would be stale.
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    *inputLength = caps.InputReportByteLength;
    *outputLength = caps.OutputReportByteLength;
    return true;
}

bool HidWriteReport(DeviceHandle device, const std::uint8_t* report, std::uint32_t length) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return false;
    const BOOL started = WriteFile(AsHandle(device), report, length, nullptr, &ov);
    return FinishTransfer(AsHandle(device), ov, started, REPORT_WRITE_TIMEOUT_MS);
}

bool HidReadReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return false;
    const BOOL started = ReadFile(AsHandle(device), report, length, nullptr, &ov);
    return FinishTransfer(AsHandle(device), ov, started, timeoutMs);
}

// HidD_GetInputReport is this very request, sent without an OVERLAPPED structure and waited for
// without a bound. DeviceIoControl's documentation leaves that undefined on a handle opened with
// FILE_FLAG_OVERLAPPED ("the function fails in unpredictable ways"), and a box that never answers
// would hold the program up for good. So the request goes out as the other transfers do, with an
// OVERLAPPED and a bounded wait. As for HidD_GetInputReport, the buffer is the output buffer and
// its first byte names the report; the bytes the request returned are those the box answered
// with, report ID included, which HidD_GetInputReport would not tell.
// Every Windows the program runs on has the request, so it is never Unsupported here.
HidStatus HidGetInputReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs,
                            std::uint32_t* received) {
    *received = 0;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return HidStatus::Failed;
    const BOOL started = DeviceIoControl(AsHandle(device), IOCTL_HID_GET_INPUT_REPORT, nullptr, 0, report, length, nullptr, &ov);
    DWORD moved = 0;
    if (!FinishTransfer(AsHandle(device), ov, started, timeoutMs, &moved)) return HidStatus::Failed;
    *received = moved < length ? moved : length;
    return HidStatus::Ok;
}

void HidClose(DeviceHandle device) { CloseHandle(AsHandle(device)); }
