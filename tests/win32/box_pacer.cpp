// The pacer of the box emulator's Wine front door (tests/emulated_box/emulated_box.cpp says why
// it is needed): while a box's write that asked for an answer is being handled, it queues a write
// to a device of its own behind it, and that write is held until winebus has stored the answer,
// so that the program's request for the answer, which comes after, finds it stored.
//
//   box_pacer <emulator port>
//
// Prints "pacer ready" once it holds its device, then serves until the emulator hangs up.
#include <windows.h>

// mingw-w64's header declares these without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <string>
#include <vector>

#include "tests/emulated_box/pacer_ids.h"
#include "tests/win32/emulator_link.h"
#include "tests/win32/hid_interface_paths.h"

namespace {

// The pacer's device among the HID interfaces, opened for overlapped writes; null if not listed.
HANDLE OpenPacerDevice() {
    for (const std::wstring& path : e2e::HidInterfacePaths()) {
        const HANDLE device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device == INVALID_HANDLE_VALUE) continue;
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof attributes;
        if (HidD_GetAttributes(device, &attributes) && attributes.VendorID == PACER_VENDOR_ID &&
            attributes.ProductID == PACER_PRODUCT_ID)
            return device;
        CloseHandle(device);
    }
    return nullptr;
}

struct Writer {
    HANDLE device;
    HANDLE queued;  // the write's event: reset by the server when it queues the request
    HANDLE go;
};

DWORD WINAPI Write(void* context) {
    Writer& writer = *static_cast<Writer*>(context);
    for (;;) {
        WaitForSingleObject(writer.go, INFINITE);
        OVERLAPPED ov = {};
        ov.hEvent = writer.queued;
        BYTE report[9] = {1};
        DWORD written = 0;
        if (!WriteFile(writer.device, report, sizeof report, nullptr, &ov) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(writer.device, &ov, &written, TRUE);
        SetEvent(writer.queued);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: box_pacer <emulator port>\n");
        return 2;
    }
    e2e::EmulatorLink link;
    std::string why;
    if (!link.Connect(static_cast<unsigned short>(_wtoi(argv[1])), &why, 0)) {
        std::fprintf(stderr, "box_pacer: %s\n", why.c_str());
        return 1;
    }
    HANDLE device = nullptr;
    for (int attempt = 0; attempt < 300 && (device = OpenPacerDevice()) == nullptr; ++attempt) Sleep(100);
    if (device == nullptr || !link.Send("pacer")) {
        std::fprintf(stderr, "box_pacer: the pacer's device is not there\n");
        return 1;
    }
    std::printf("pacer ready\n");
    std::fflush(stdout);
    Writer writer = {device, CreateEventW(nullptr, TRUE, TRUE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const HANDLE thread = CreateThread(nullptr, 0, Write, &writer, 0, nullptr);
    for (std::string line; (line = link.ReadLine()) != "error link";) {
        if (line != "queue") continue;
        // The write does not return before Wine's dispatcher has taken it up, which is just what
        // it waits for; but the server resets its event the moment it queues the request, and
        // that can be seen from here.
        SetEvent(writer.queued);
        SetEvent(writer.go);
        const ULONGLONG end = GetTickCount64() + 2000;
        while (WaitForSingleObject(writer.queued, 0) == WAIT_OBJECT_0 && GetTickCount64() < end) SwitchToThread();
        if (!link.Send("queued")) break;
    }
    TerminateThread(thread, 0);
    CloseHandle(thread);
    CloseHandle(device);
    return 0;
}
