// The device paths of the present HID interfaces, as the Setup API lists them to every program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// The HID interface class (GUID_DEVINTERFACE_HID), as HidD_GetHidGuid returns it.
constexpr GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::vector<std::wstring> HidInterfacePaths();

}  // namespace e2e
