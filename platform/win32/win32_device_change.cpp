#include "platform/win32/win32_device_change.h"

#include <dbt.h>

#include <cstddef>

#include "platform/window.h"

namespace {

// The interface's name, where the record holds it whole: read only within the record's declared
// size, and null when it is not terminated there, since such a name cannot be the held box's.
const char16_t* InterfaceName(const DEV_BROADCAST_DEVICEINTERFACE_W& record) {
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (record.dbcc_size <= nameOffset) return nullptr;
    const std::size_t units = (record.dbcc_size - nameOffset) / sizeof(wchar_t);
    for (std::size_t i = 0; i < units; ++i)
        if (record.dbcc_name[i] == 0) return reinterpret_cast<const char16_t*>(record.dbcc_name);
    return nullptr;
}

}  // namespace

INT_PTR OnDeviceChange(WPARAM eventCode, LPARAM record) {
    if (eventCode != DBT_DEVICEARRIVAL && eventCode != DBT_DEVICEREMOVECOMPLETE) return FALSE;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
    // Volumes, ports and the like share the events; only interfaces are the program's business.
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;
    const char16_t* name = InterfaceName(*reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header));
    if (eventCode == DBT_DEVICEARRIVAL) OnInterfaceArrival(name);
    else OnInterfaceRemoval(name);
    return TRUE;
}
