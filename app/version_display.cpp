#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "device/device_record.h"
#include "resources/resource_ids.h"

void ShowVersions() {
    static const int kGroup[] = {IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3, IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_LABEL_FW3};
    const bool held = IsDeviceHeld(g_device);
    if (!held) {
        UiSetControlText(IDC_VALUE_FW1, u"0.0.0");
        UiSetControlText(IDC_VALUE_FW2, u"0.0.0");
        UiSetControlText(IDC_VALUE_FW3, u"0.0.0");
    }
    for (int id : kGroup) UiEnableControl(id, held);
    if (!held) return;

    char16_t text[VERSION_TEXT_CHARS];
    FormatBootloaderVersion(g_device.bootloaderVersion, text, VERSION_TEXT_CHARS);
    UiSetControlText(IDC_VALUE_FW1, text);
    FormatFirmwareVersion(g_device.firmwareVersion, text, VERSION_TEXT_CHARS);
    UiSetControlText(IDC_VALUE_FW2, text);
    UiSetControlText(IDC_LABEL_FW2, g_device.productId == PRODUCT_ID_VELTABOX ? u"VELTABOX" : u"VELTA-HUB");
}
