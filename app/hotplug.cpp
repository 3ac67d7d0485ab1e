#include <cstddef>

#include "app/globals.h"
#include "app/main_window.h"
#include "platform/window_constants.h"
#include "device/discovery.h"
#include "resources/resource_ids.h"

namespace {

bool IsInterfaceEvent(const void* record) {
    return record != nullptr && static_cast<const DeviceBroadcastHeader*>(record)->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// The name is read only within the record's declared size: a record whose name is not
// terminated inside it is not the held box.
bool IsHeldBoxPath(const DeviceBroadcastInterface& record) {
    const std::size_t nameOffset = offsetof(DeviceBroadcastInterface, dbcc_name);
    if (record.dbcc_size <= nameOffset) return false;
    const std::size_t nameChars = (record.dbcc_size - nameOffset) / sizeof(char16_t);
    const char16_t* name = record.dbcc_name;
    const char16_t* held = g_device.devicePath;
    for (std::size_t i = 0; i < nameChars; ++i) {
        if (LowerAscii(name[i]) != LowerAscii(held[i])) return false;
        if (name[i] == 0) return true;
    }
    return false;
}

void OnArrival() {
    if (IsDeviceHeld(g_device)) return;  // one box at a time
    const std::int32_t found = SearchForBox();
    if (found == DEV_OK) {
        ForgetUnusableBox();
        return ShowArrivedBox();
    }
    // A box that cannot be used says why; any other HID device, or a box whose query failed
    // (held until it is removed), passes silently.
    ShowUnusableBox(found);
}

void OnRemoval(const DeviceBroadcastInterface& record) {
    if (!IsDeviceHeld(g_device)) return LookAgain();  // perhaps the box the hint names
    if (!IsHeldBoxPath(record)) return;
    CloseDevice(g_device);
    UiEnableWindow(UiGetControl(g_hMainDlg, IDC_UPDATE), false);
    ShowVersions();
    SetInfoTextWithInstructions(IDS_DISCONNECTED);
}

}  // namespace

void ShowArrivedBox() {
    const WindowHandle update = UiGetControl(g_hMainDlg, IDC_UPDATE);
    if (g_device.bootloaderMode != 0) {
        SetInfoText(IDS_READY);
        ShowVersions();
        UiEnableWindow(update, true);
        return;
    }
    UiEnableWindow(update, false);
    CloseDevice(g_device);
    SetInfoTextWithInstructions(IDS_WRONG_MODE);
}

std::intptr_t OnDeviceChange(std::uintptr_t eventCode, const void* record) {
    if (eventCode != DBT_DEVICEARRIVAL && eventCode != DBT_DEVICEREMOVECOMPLETE) return 0;
    if (!IsInterfaceEvent(record)) return 1;
    if (eventCode == DBT_DEVICEARRIVAL) {
        OnArrival();
    } else {
        OnRemoval(*static_cast<const DeviceBroadcastInterface*>(record));
    }
    return 1;
}
