#include <cstddef>

#include "app/globals.h"
#include "app/main_window.h"
#include "device/discovery.h"
#include "resources/resource_ids.h"

namespace {

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Windows names a removed interface in its own spelling, which may differ from the path the
// search stored in the case of its letters A-Z, and in nothing else.
bool IsHeldBoxPath(const char16_t* path) {
    const char16_t* held = g_device.devicePath;
    for (std::size_t i = 0;; ++i) {
        if (LowerAscii(path[i]) != LowerAscii(held[i])) return false;
        if (path[i] == 0) return true;
    }
}

}  // namespace

void OnInterfaceArrival(const char16_t*) {
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

void OnInterfaceRemoval(const char16_t* path) {
    if (!IsDeviceHeld(g_device)) return LookAgain();  // perhaps the box the hint names
    if (path == nullptr || !IsHeldBoxPath(path)) return;
    CloseDevice(g_device);
    UiEnableControl(IDC_UPDATE, false);
    ShowVersions();
    SetInfoTextWithInstructions(IDS_DISCONNECTED);
}

void ShowArrivedBox() {
    if (g_device.bootloaderMode != 0) {
        SetInfoText(IDS_READY);
        ShowVersions();
        UiEnableControl(IDC_UPDATE, true);
        return;
    }
    UiEnableControl(IDC_UPDATE, false);
    CloseDevice(g_device);
    SetInfoTextWithInstructions(IDS_WRONG_MODE);
}
