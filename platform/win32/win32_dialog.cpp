// The dialog and device-notification functions of platform/window.h on Win32, one call each.
#include <cstddef>

#include <windows.h>

#include <dbt.h>

#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_handles.h"

// The logic reads the system's device-change record through its own declarations, so they must
// lie over the system's byte for byte.
static_assert(sizeof(DeviceBroadcastHeader) == sizeof(DEV_BROADCAST_HDR) &&
                  alignof(DeviceBroadcastHeader) == alignof(DEV_BROADCAST_HDR),
              "the header record has the system's layout");
static_assert(offsetof(DeviceBroadcastHeader, dbch_size) == offsetof(DEV_BROADCAST_HDR, dbch_size) &&
                  offsetof(DeviceBroadcastHeader, dbch_devicetype) == offsetof(DEV_BROADCAST_HDR, dbch_devicetype) &&
                  offsetof(DeviceBroadcastHeader, dbch_reserved) == offsetof(DEV_BROADCAST_HDR, dbch_reserved),
              "the header fields lie where the system puts them");
static_assert(sizeof(DeviceBroadcastInterface) == sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) &&
                  alignof(DeviceBroadcastInterface) == alignof(DEV_BROADCAST_DEVICEINTERFACE_W),
              "the interface record has the system's layout");
static_assert(offsetof(DeviceBroadcastInterface, dbcc_size) == offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_size) &&
                  offsetof(DeviceBroadcastInterface, dbcc_devicetype) ==
                      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_devicetype) &&
                  offsetof(DeviceBroadcastInterface, dbcc_reserved) ==
                      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_reserved) &&
                  offsetof(DeviceBroadcastInterface, dbcc_classguid) ==
                      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) &&
                  offsetof(DeviceBroadcastInterface, dbcc_name) == offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name),
              "the interface fields lie where the system puts them");
static_assert(sizeof(DeviceBroadcastInterface::dbcc_classguid) == sizeof(GUID) &&
                  sizeof(DeviceBroadcastInterface::dbcc_name[0]) == sizeof(DEV_BROADCAST_DEVICEINTERFACE_W::dbcc_name[0]),
              "the class and the name have the system's widths");

namespace {

// The dialog manager calls a DLGPROC; the logic's procedure has the same parameters in the
// platform's types. Everything passes through, with one exception: for WM_CTLCOLORSTATIC a
// dialog procedure must return the brush that paints the control's background, and the logic,
// which holds no brushes, names it the way a window class names its background, as a system
// colour plus one. COLOR_BTNFACE + 1 therefore becomes the system's brush for that colour. The
// system owns that brush, so nothing has to be deleted afterwards. A 0 stays 0: the dialog
// manager then paints the control as usual.
INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::intptr_t result = MainDialogProc(FromWindow(dialog), message, wParam, lParam);
    if (message == WM_CTLCOLORSTATIC && result == COLOR_BTNFACE + 1)
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    return result;
}

}  // namespace

// Without comctl32.dll the dialog still comes up; only the progress window would then fail to be
// created, which the update survives.
void UiInitCommonControls() {
    const ControlsLibrary& comctl32 = ControlsLibraryOnce();
    if (comctl32.InitCommonControls != nullptr) comctl32.InitCommonControls();
}

std::intptr_t UiRunDialog(ModuleHandle instance, std::uint16_t templateId) {
    return DialogBoxParamW(AsInstance(instance), MAKEINTRESOURCEW(templateId), nullptr, DialogTrampoline, 0);
}

void UiEndDialog(WindowHandle dialog, std::intptr_t result) { EndDialog(AsWindow(dialog), result); }

WindowHandle UiGetControl(WindowHandle dialog, int controlId) { return FromWindow(GetDlgItem(AsWindow(dialog), controlId)); }

void UiSetControlText(WindowHandle dialog, int controlId, const char16_t* text) {
    SetDlgItemTextW(AsWindow(dialog), controlId, AsWide(text));
}

void UiSetWindowText(WindowHandle window, const char16_t* text) { SetWindowTextW(AsWindow(window), AsWide(text)); }

void UiSendSetText(WindowHandle window, const char16_t* text) {
    SendMessageW(AsWindow(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

int UiGetWindowTextLength(WindowHandle window) { return GetWindowTextLengthW(AsWindow(window)); }

int UiGetWindowText(WindowHandle window, char16_t* buffer, int capacity) {
    return GetWindowTextW(AsWindow(window), AsWide(buffer), capacity);
}

void UiEnableWindow(WindowHandle window, bool enable) { EnableWindow(AsWindow(window), enable ? TRUE : FALSE); }

void UiShowWindow(WindowHandle window, int command) { ShowWindow(AsWindow(window), command); }

int UiMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, std::uint32_t type) {
    return MessageBoxW(AsWindow(owner), AsWide(text), AsWide(caption), type);
}

void UiSetDialogIcon(WindowHandle dialog, ModuleHandle instance, std::uint16_t iconId) {
    const HICON icon = LoadIconW(AsInstance(instance), MAKEINTRESOURCEW(iconId));
    SetClassLongPtrW(AsWindow(dialog), GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

int UiLoadString(ModuleHandle instance, std::uint32_t id, char16_t* buffer, int capacity) {
    return LoadStringW(AsInstance(instance), id, AsWide(buffer), capacity);
}

// The HID class comes from hid.dll; when that cannot be loaded, the registration fails with the
// load's error, and the program says it cannot follow the box, which without hid.dll it cannot.
NotifyHandle UiRegisterHidNotifications(WindowHandle window) {
    const HidLibraries& hid = HidLibrariesOnce();
    if (hid.loadError != ERROR_SUCCESS) {
        SetLastError(hid.loadError);
        return 0;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hid.HidD_GetHidGuid(&filter.dbcc_classguid);
    return reinterpret_cast<NotifyHandle>(RegisterDeviceNotificationW(AsWindow(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void UiUnregisterNotifications(NotifyHandle notify) { UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(notify)); }
