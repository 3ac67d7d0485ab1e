#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "device/device_record.h"
#include "resources/resource_ids.h"

void FormatVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity) {
    if (capacity == 0) return;
    buffer[0] = 0;
    if ((version >> 24) != 0) FormatText(buffer, capacity, u"%u.", {version >> 24});
    char16_t rest[VERSION_TEXT_CHARS];
    FormatText(rest, VERSION_TEXT_CHARS, u"%u.%u", {(version >> 8) & 0xFF, version & 0xFF});
    TextAppend(buffer, capacity, rest);
}

void ShowVersions() {
    static const int kGroup[] = {IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3, IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_LABEL_FW3};
    const bool held = IsDeviceHeld(g_device);
    if (!held) {
        UiSetControlText(g_hMainDlg, IDC_VALUE_FW1, u"0.0.0");
        UiSetControlText(g_hMainDlg, IDC_VALUE_FW2, u"0.0.0");
        UiSetControlText(g_hMainDlg, IDC_VALUE_FW3, u"0.0.0");
    }
    for (int id : kGroup) UiEnableWindow(UiGetControl(g_hMainDlg, id), held);
    if (!held) return;

    char16_t text[VERSION_TEXT_CHARS];
    FormatVersion(g_device.bootloaderVersion >> 8, text, VERSION_TEXT_CHARS);
    UiSetControlText(g_hMainDlg, IDC_VALUE_FW1, text);
    if (g_device.firmwareVersion == 0xFFFFFFFFu) {
        UiSetControlText(g_hMainDlg, IDC_VALUE_FW2, u"----------");
    } else {
        std::uint32_t version = g_device.firmwareVersion;
        if ((version & 0xFF) == 0) version >>= 8;
        FormatVersion(version, text, VERSION_TEXT_CHARS);
        UiSetControlText(g_hMainDlg, IDC_VALUE_FW2, text);
    }
    UiSetControlText(g_hMainDlg, IDC_LABEL_FW2, g_device.productId == PRODUCT_ID_VELTABOX ? u"VELTABOX" : u"VELTA-HUB");
}
