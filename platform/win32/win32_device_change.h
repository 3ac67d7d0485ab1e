// WM_DEVICECHANGE, read as the dialog takes it: the event, and the device-interface record with
// the interface's name.
#pragma once

#include <windows.h>

// TRUE for an arrival or a removal, whatever became of it, after the logic was told of a device
// interface's; FALSE for every other event, which the dialog leaves to the system.
INT_PTR OnDeviceChange(WPARAM eventCode, LPARAM record);
