#include "app/globals.h"
#include "device/device_record.h"
#include "platform/window.h"
#include "resources/resource_ids.h"

int RunProgram(ModuleHandle instance) {
    UiPrepareWindowSystem();
    g_hInstance = instance;
    ResetDeviceRecord(g_device);
    UiRunDialog(instance, IDD_MAIN);
    return 0;
}
