// The entry points of the system libraries that the backend reaches only by address.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <hidsdi.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <uxtheme.h>

// Every member is null when `loadError` is not ERROR_SUCCESS.
struct HidLibraries {
    DWORD loadError;
    decltype(&::HidD_GetHidGuid) HidD_GetHidGuid;
    decltype(&::HidD_GetAttributes) HidD_GetAttributes;
    decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData;
    decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData;
    decltype(&::HidP_GetCaps) HidP_GetCaps;
    decltype(&::HidD_GetInputReport) HidD_GetInputReport;
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
};

// Both null when winmm.dll or either entry point is missing.
struct TimerLibrary {
    decltype(&::timeBeginPeriod) timeBeginPeriod;
    decltype(&::timeEndPeriod) timeEndPeriod;
};

// Null when comctl32.dll or the entry point is missing.
struct ControlsLibrary {
    decltype(&::InitCommonControls) InitCommonControls;
};

// Null when msimg32.dll or the entry point is missing.
struct ImageLibrary {
    decltype(&::TransparentBlt) TransparentBlt;
};

// Null when uxtheme.dll or the entry point is missing.
struct ThemeLibrary {
    decltype(&::SetWindowTheme) SetWindowTheme;
};

// Resolved on the first call, from the system directory only; later calls return the same.
const HidLibraries& HidLibrariesOnce();
const TimerLibrary& TimerLibraryOnce();
const ControlsLibrary& ControlsLibraryOnce();
const ImageLibrary& ImageLibraryOnce();
const ThemeLibrary& ThemeLibraryOnce();
