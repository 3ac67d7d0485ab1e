// Why the libraries are loaded by hand: hid.dll, setupapi.dll, winmm.dll, msimg32.dll and
// uxtheme.dll are not KnownDLLs, so an ordinary import would be looked for in the program's own directory first, and
// a hid.dll left beside the downloaded updater would run with the user's rights. The linker flag
// that limits static imports to System32 (--dependent-load-flag, /DEPENDENTLOADFLAG) is missing
// from the mingw-w64 binutils we build with (2.40 rejects it), so the program links none of these
// libraries and asks for each one with LOAD_LIBRARY_SEARCH_SYSTEM32. That flag also confines the
// libraries' own dependencies to System32. The process default set first covers the libraries
// that setupapi.dll itself loads by name while it enumerates devices. What the program still
// imports, kernel32.dll, user32.dll, gdi32.dll and msvcrt.dll, are KnownDLLs and always come from
// System32.
//
// comctl32.dll is not a KnownDLL either. The manifest asks for Common Controls 6, and side-by-side
// redirection, which the loader applies before it searches any directory, sends every load of that
// name to the copy in WinSxS; so an import would be safe, but only for as long as the manifest is
// embedded and right. Loaded here it is safe without that condition: with the manifest it is still
// the WinSxS copy, without it System32's own, never one beside the program.
#include "platform/win32/win32_dll.h"

namespace {

// GetProcAddress hands back a generic FARPROC; the declared type comes from the SDK header.
template <typename Function>
bool Resolve(HMODULE library, const char* name, Function& entry) {
    entry = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return entry != nullptr;
}

HMODULE LoadFromSystem(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HidLibraries LoadHidLibraries() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    HidLibraries none = {};
    HidLibraries found = {};
    const HMODULE hid = LoadFromSystem(L"hid.dll");
    const HMODULE setupapi = hid == nullptr ? nullptr : LoadFromSystem(L"setupapi.dll");
    // The modules stay loaded for the life of the process: the pointers below point into them.
    const bool complete = setupapi != nullptr &&
        Resolve(hid, "HidD_GetHidGuid", found.HidD_GetHidGuid) &&
        Resolve(hid, "HidD_GetAttributes", found.HidD_GetAttributes) &&
        Resolve(hid, "HidD_GetPreparsedData", found.HidD_GetPreparsedData) &&
        Resolve(hid, "HidD_FreePreparsedData", found.HidD_FreePreparsedData) &&
        Resolve(hid, "HidP_GetCaps", found.HidP_GetCaps) &&
        Resolve(hid, "HidD_GetInputReport", found.HidD_GetInputReport) &&
        Resolve(setupapi, "SetupDiGetClassDevsW", found.SetupDiGetClassDevsW) &&
        Resolve(setupapi, "SetupDiEnumDeviceInterfaces", found.SetupDiEnumDeviceInterfaces) &&
        Resolve(setupapi, "SetupDiGetDeviceInterfaceDetailW", found.SetupDiGetDeviceInterfaceDetailW) &&
        Resolve(setupapi, "SetupDiDestroyDeviceInfoList", found.SetupDiDestroyDeviceInfoList);
    if (complete) return found;
    const DWORD error = GetLastError();
    none.loadError = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    return none;
}

TimerLibrary LoadTimerLibrary() {
    TimerLibrary found = {};
    const HMODULE winmm = LoadFromSystem(L"winmm.dll");
    if (winmm != nullptr && Resolve(winmm, "timeBeginPeriod", found.timeBeginPeriod) &&
        Resolve(winmm, "timeEndPeriod", found.timeEndPeriod))
        return found;
    return TimerLibrary{};
}

ControlsLibrary LoadControlsLibrary() {
    ControlsLibrary found = {};
    const HMODULE comctl32 = LoadFromSystem(L"comctl32.dll");
    if (comctl32 != nullptr && Resolve(comctl32, "InitCommonControls", found.InitCommonControls)) return found;
    return ControlsLibrary{};
}

ImageLibrary LoadImageLibrary() {
    ImageLibrary found = {};
    const HMODULE msimg32 = LoadFromSystem(L"msimg32.dll");
    if (msimg32 != nullptr && Resolve(msimg32, "TransparentBlt", found.TransparentBlt)) return found;
    return ImageLibrary{};
}

ThemeLibrary LoadThemeLibrary() {
    ThemeLibrary found = {};
    const HMODULE uxtheme = LoadFromSystem(L"uxtheme.dll");
    if (uxtheme != nullptr && Resolve(uxtheme, "SetWindowTheme", found.SetWindowTheme)) return found;
    return ThemeLibrary{};
}

}  // namespace

const HidLibraries& HidLibrariesOnce() {
    static const HidLibraries libraries = LoadHidLibraries();
    return libraries;
}

const TimerLibrary& TimerLibraryOnce() {
    static const TimerLibrary library = LoadTimerLibrary();
    return library;
}

const ControlsLibrary& ControlsLibraryOnce() {
    static const ControlsLibrary library = LoadControlsLibrary();
    return library;
}

const ImageLibrary& ImageLibraryOnce() {
    static const ImageLibrary library = LoadImageLibrary();
    return library;
}

const ThemeLibrary& ThemeLibraryOnce() {
    static const ThemeLibrary library = LoadThemeLibrary();
    return library;
}
