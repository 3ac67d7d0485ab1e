#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "device/discovery.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "update/update.h"

void ShutdownDevice() {
    ForgetUnusableBox();
    if (g_hDevNotify != 0) UiStopWatching(g_hDevNotify);
    CloseDevice(g_device);
}

void OnInitDialog(WindowHandle dialog) {
    g_hMainDlg = dialog;
    UiSetDialogIcon(IDI_APP);
    char16_t title[TITLE_CHARS];
    FormatText(title, TITLE_CHARS, u"SORVANTIK VELTABOX Firmware Updater %u.%u", {PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR});
    UiSetTitle(title);
    UiSetControlText(IDC_LABEL_FW1, u"Bootloader");
    UiSetControlText(IDC_LABEL_FW2, u"VELTABOX");
    UiShowControl(IDC_LABEL_FW3, false);
    UiShowControl(IDC_VALUE_FW3, false);

    g_hDevNotify = UiWatchHidInterfaces();
    if (g_hDevNotify == 0) {
        // Without notifications the program could not follow the box being plugged in or out.
        MessageBuffer caption;
        MessageBuffer text;
        LoadMessage(IDS_APPLICATION_ERROR, caption);
        LoadMessage(IDS_NOTIFY_REGISTRATION_FAILED, text);
        UiShowError(text, caption);
        ShutdownDevice();
        UiEndDialog(1);
        return;
    }

    const std::int32_t found = SearchForBox();
    if (ShowUnusableBox(found)) return;
    if (found != DEV_OK) {
        UiEnableControl(IDC_UPDATE, false);
        CloseDevice(g_device);  // never hold a box that was not queried at start
        SetInfoTextWithInstructions(IDS_NO_BOX);
    } else if (g_device.bootloaderMode == 0) {
        UiEnableControl(IDC_UPDATE, false);
        CloseDevice(g_device);
        SetInfoTextWithInstructions(IDS_WRONG_MODE);
    } else {
        SetInfoText(IDS_READY);
        UiEnableControl(IDC_UPDATE, true);
    }
    ShowVersions();
}

bool OnCommand(int commandId) {
    switch (commandId) {
        case COMMAND_CANCEL:
            ShutdownDevice();
            UiEndDialog(COMMAND_CANCEL);
            return true;
        case IDC_UPDATE:
            RunUpdate();
            return true;
        default:
            return false;
    }
}

void OnPaint() { PaintLogo(); }

// The model's line of the version group is red; every other static control, the hint box
// among them, keeps the system's colours.
bool ControlTextColour(int controlId, std::uint32_t* colour) {
    if (controlId != IDC_LABEL_FW2 && controlId != IDC_VALUE_FW2) return false;
    *colour = Colour(255, 0, 0);
    return true;
}
