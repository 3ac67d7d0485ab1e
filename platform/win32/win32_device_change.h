// WM_DEVICECHANGE, read as the dialog takes it: the event, and the device-interface record with
// the interface's name, which the console program's watch on arrivals reads the same way.
#pragma once

#include <windows.h>

#include <dbt.h>

#include <cstddef>

// TRUE for an arrival or a removal, whatever became of it, after the logic was told of a device
// interface's; FALSE for every other event, which the dialog leaves to the system.
INT_PTR OnDeviceChange(WPARAM eventCode, LPARAM record);

// The interface's name, where the record holds it whole: read only within the record's declared
// size, and null when it is not terminated there, since such a name cannot be any interface's.
inline const char16_t* DeviceInterfaceName(const DEV_BROADCAST_DEVICEINTERFACE_W& record) {
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (record.dbcc_size <= nameOffset) return nullptr;
    const std::size_t units = (record.dbcc_size - nameOffset) / sizeof(wchar_t);
    for (std::size_t i = 0; i < units; ++i)
        if (record.dbcc_name[i] == 0) return reinterpret_cast<const char16_t*>(record.dbcc_name);
    return nullptr;
}
