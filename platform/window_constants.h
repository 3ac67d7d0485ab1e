// The window system's numbers that the dialog logic and the recording backend speak: message
// numbers, notification codes, message-box types and answers, show commands and metrics. Their
// values are the system's own, so the Win32 backend passes them through unchanged; it never
// includes this file, whose names <windows.h> defines as macros.
#pragma once

#include <cstdint>

constexpr std::uint32_t WM_SETTEXT = 0x000C;
constexpr std::uint32_t WM_PAINT = 0x000F;
constexpr std::uint32_t WM_INITDIALOG = 0x0110;
constexpr std::uint32_t WM_COMMAND = 0x0111;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_CTLCOLORSTATIC = 0x0138;
constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;

constexpr std::uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr std::uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

constexpr int IDCANCEL = 2;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr std::uint32_t MB_OK = 0x00;
constexpr std::uint32_t MB_YESNO = 0x04;
constexpr std::uint32_t MB_ICONERROR = 0x10;
constexpr std::uint32_t MB_ICONWARNING = 0x30;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXDLGFRAME = 7;
constexpr int TRANSPARENT = 1;
constexpr int COLOR_BTNFACE = 15;

constexpr std::uint32_t RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
}
