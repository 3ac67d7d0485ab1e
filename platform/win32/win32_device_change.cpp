#include "platform/win32/win32_device_change.h"

#include "platform/window.h"

INT_PTR OnDeviceChange(WPARAM eventCode, LPARAM record) {
    if (eventCode != DBT_DEVICEARRIVAL && eventCode != DBT_DEVICEREMOVECOMPLETE) return FALSE;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
    // Volumes, ports and the like share the events; only interfaces are the program's business.
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;
    const char16_t* name = DeviceInterfaceName(*reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header));
    if (eventCode == DBT_DEVICEARRIVAL) OnInterfaceArrival(name);
    else OnInterfaceRemoval(name);
    return TRUE;
}
