// The entry points of the system libraries that the backend reaches only by address.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
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
    decltype(&::HidD_GetSerialNumberString) HidD_GetSerialNumberString;
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

// Null members when setupapi.dll, cfgmgr32.dll or any entry point is missing: where a box is
// plugged in, for the console program.
struct DeviceTreeLibraries {
    decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList;
    decltype(&::SetupDiOpenDeviceInterfaceW) SetupDiOpenDeviceInterfaceW;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
    decltype(&::CM_Get_Parent) CM_Get_Parent;
    decltype(&::CM_Get_Device_IDW) CM_Get_Device_IDW;
    decltype(&::CM_Get_DevNode_Registry_PropertyW) CM_Get_DevNode_Registry_PropertyW;
};

// Makes every later load of a library by name look in System32 only, where the system can be
// told so (Windows 8 and later, Windows 7 with KB2533623); elsewhere does what
// RestrictLibrarySearchByPath does. Called first thing by the programs' entries.
void RestrictLibrarySearch();
// Where the system cannot be told: takes the current directory out of the search, and loads the
// library that comctl32.dll loads by name from System32 first.
void RestrictLibrarySearchByPath();
// LoadLibraryExW of `name` by its full path in System32, with LOAD_WITH_ALTERED_SEARCH_PATH: how
// the libraries are loaded where LOAD_LIBRARY_SEARCH_SYSTEM32 is unknown.
HMODULE LoadFromSystemByPath(const wchar_t* name);

// Resolved on the first call, from the system directory only; later calls return the same.
const HidLibraries& HidLibrariesOnce();
const TimerLibrary& TimerLibraryOnce();
const ControlsLibrary& ControlsLibraryOnce();
const ImageLibrary& ImageLibraryOnce();
const ThemeLibrary& ThemeLibraryOnce();
const DeviceTreeLibraries& DeviceTreeLibrariesOnce();
