// The dialog of platform/window.h on the Win32 dialog manager: MainDialogProc takes the dialog's
// messages and hands each to the logic's entry for it; the functions below act on the dialog's
// controls by their IDs.
#include <windows.h>

#include <dbt.h>

#include "platform/win32/win32_device_change.h"
#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_handles.h"

static_assert(COMMAND_CANCEL == IDCANCEL, "the template's \"Beenden\" button is the cancel command");

namespace {

HWND g_dialog = nullptr;
HINSTANCE g_module = nullptr;
HDC g_paint = nullptr;

HWND Control(int controlId) { return GetDlgItem(g_dialog, controlId); }

// The dialog manager hands every message here. For WM_CTLCOLORSTATIC a dialog procedure returns
// the brush that paints the control's background: the system's brush for the dialog's face
// colour, which the system owns, so nothing has to be deleted afterwards. FALSE leaves the
// control to the dialog manager's own colours.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_dialog = dialog;
            OnInitDialog(FromWindow(dialog));
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            g_paint = BeginPaint(dialog, &paint);
            OnPaint();
            g_paint = nullptr;
            EndPaint(dialog, &paint);
            return 0;
        }
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_CTLCOLORSTATIC: {
            std::uint32_t colour = 0;
            if (!ControlTextColour(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), &colour)) return FALSE;
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, colour);
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_TIMER:
            return OnTimer(wParam) ? TRUE : FALSE;
        case WM_DEVICECHANGE:
            return OnDeviceChange(wParam, lParam);
        default:
            return FALSE;
    }
}

}  // namespace

HWND MainDialog() { return g_dialog; }
HINSTANCE ProgramModule() { return g_module; }
HDC PaintingContext() { return g_paint; }

// Without comctl32.dll the dialog still comes up; only the progress window would then fail to be
// created, which the update survives.
void UiPrepareWindowSystem() {
    const ControlsLibrary& comctl32 = ControlsLibraryOnce();
    if (comctl32.InitCommonControls != nullptr) comctl32.InitCommonControls();
}

std::intptr_t UiRunDialog(ModuleHandle instance, std::uint16_t templateId) {
    g_module = AsInstance(instance);
    return DialogBoxParamW(g_module, MAKEINTRESOURCEW(templateId), nullptr, MainDialogProc, 0);
}

void UiEndDialog(std::intptr_t result) { EndDialog(g_dialog, result); }

void UiSetTitle(const char16_t* text) { SendMessageW(g_dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }

void UiSetDialogIcon(std::uint16_t iconId) {
    const HICON icon = LoadIconW(g_module, MAKEINTRESOURCEW(iconId));
    SetClassLongPtrW(g_dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

void UiSetControlText(int controlId, const char16_t* text) { SetWindowTextW(Control(controlId), AsWide(text)); }

int UiGetControlTextLength(int controlId) { return GetWindowTextLengthW(Control(controlId)); }

int UiGetControlText(int controlId, char16_t* buffer, int capacity) {
    return GetWindowTextW(Control(controlId), AsWide(buffer), capacity);
}

void UiEnableControl(int controlId, bool enable) { EnableWindow(Control(controlId), enable ? TRUE : FALSE); }

void UiShowControl(int controlId, bool show) { ShowWindow(Control(controlId), show ? SW_SHOW : SW_HIDE); }

bool UiAskYesNo(const char16_t* text, const char16_t* caption) {
    return MessageBoxW(g_dialog, AsWide(text), AsWide(caption), MB_YESNO | MB_ICONWARNING) == IDYES;
}

void UiShowError(const char16_t* text, const char16_t* caption) {
    MessageBoxW(g_dialog, AsWide(text), AsWide(caption), MB_ICONERROR);
}

int UiLoadString(std::uint32_t id, char16_t* buffer, int capacity) {
    return LoadStringW(g_module, id, AsWide(buffer), capacity);
}

// The HID class comes from hid.dll; when that cannot be loaded, the registration fails with the
// load's error, and the program says it cannot follow the box, which without hid.dll it cannot.
NotifyHandle UiWatchHidInterfaces() {
    const HidLibraries& hid = HidLibrariesOnce();
    if (hid.loadError != ERROR_SUCCESS) {
        SetLastError(hid.loadError);
        return 0;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hid.HidD_GetHidGuid(&filter.dbcc_classguid);
    return reinterpret_cast<NotifyHandle>(RegisterDeviceNotificationW(g_dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void UiStopWatching(NotifyHandle watch) { UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(watch)); }
