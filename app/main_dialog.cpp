#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "platform/window_constants.h"
#include "device/discovery.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "update/update.h"

void ShutdownDevice() {
    ForgetUnusableBox();
    if (g_hDevNotify != 0) UiUnregisterNotifications(g_hDevNotify);
    CloseDevice(g_device);
}

void OnInitDialog(WindowHandle dialog) {
    g_hMainDlg = dialog;
    UiSetDialogIcon(dialog, g_hInstance, IDI_APP);
    char16_t title[TITLE_CHARS];
    FormatText(title, TITLE_CHARS, u"SORVANTIK VELTABOX Firmware Updater %u.%u", {PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR});
    UiSendSetText(dialog, title);
    UiSetControlText(dialog, IDC_LABEL_FW1, u"Bootloader");
    UiSetControlText(dialog, IDC_LABEL_FW2, u"VELTABOX");
    UiShowWindow(UiGetControl(dialog, IDC_LABEL_FW3), SW_HIDE);
    UiShowWindow(UiGetControl(dialog, IDC_VALUE_FW3), SW_HIDE);

    g_hDevNotify = UiRegisterHidNotifications(dialog);
    if (g_hDevNotify == 0) {
        // Without notifications the program could not follow the box being plugged in or out.
        MessageBuffer caption;
        MessageBuffer text;
        LoadMessage(IDS_APPLICATION_ERROR, caption);
        LoadMessage(IDS_NOTIFY_REGISTRATION_FAILED, text);
        UiMessageBox(dialog, text, caption, MB_ICONERROR);
        ShutdownDevice();
        UiEndDialog(dialog, 1);
        return;
    }

    const std::int32_t found = SearchForBox();
    if (ShowUnusableBox(found)) return;
    if (found != DEV_OK) {
        UiEnableWindow(UiGetControl(dialog, IDC_UPDATE), false);
        CloseDevice(g_device);  // never hold a box that was not queried at start
        SetInfoTextWithInstructions(IDS_NO_BOX);
    } else if (g_device.bootloaderMode == 0) {
        UiEnableWindow(UiGetControl(dialog, IDC_UPDATE), false);
        CloseDevice(g_device);
        SetInfoTextWithInstructions(IDS_WRONG_MODE);
    } else {
        SetInfoText(IDS_READY);
        UiEnableWindow(UiGetControl(dialog, IDC_UPDATE), true);
    }
    ShowVersions();
}

std::intptr_t MainDialogProc(WindowHandle dialog, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog);
            return 1;
        case WM_PAINT: {
            PaintSession session;
            const DrawContext dc = UiBeginPaint(dialog, &session);
            PaintLogo(dc);
            UiEndPaint(dialog, &session);
            return 0;
        }
        case WM_COMMAND:
            switch (wParam & 0xFFFF) {
                case IDCANCEL:
                    ShutdownDevice();
                    UiEndDialog(dialog, IDCANCEL);
                    return 1;
                case IDC_UPDATE:
                    RunUpdate();
                    return 1;
                default:
                    return 0;
            }
        case WM_CTLCOLORSTATIC: {
            const auto control = static_cast<WindowHandle>(lParam);
            if (control != UiGetControl(g_hMainDlg, IDC_LABEL_FW2) && control != UiGetControl(g_hMainDlg, IDC_VALUE_FW2)) return 0;
            const auto dc = static_cast<DrawContext>(wParam);
            UiSetTextColor(dc, RGB(255, 0, 0));
            UiSetBkMode(dc, TRANSPARENT);
            return COLOR_BTNFACE + 1;  // taken as the face colour's system brush
        }
        case WM_TIMER:
            return OnTimer(wParam);
        case WM_DEVICECHANGE:
            return OnDeviceChange(wParam, reinterpret_cast<const void*>(lParam)) != 0 ? 1 : 0;
        default:
            return 0;
    }
}
