// Why the libraries are loaded by hand: hid.dll, setupapi.dll, cfgmgr32.dll, winmm.dll,
// msimg32.dll and uxtheme.dll are not KnownDLLs, so an ordinary import would be looked for in
// the program's own directory first, and a hid.dll left beside the downloaded updater would run
// with the user's rights. The linker flag that limits static imports to System32
// (--dependent-load-flag, /DEPENDENTLOADFLAG) is missing from the mingw-w64 binutils we build
// with (2.40 rejects it), so the program links none of these libraries and loads each one from
// System32 itself. What the programs still import, kernel32.dll, user32.dll, gdi32.dll and
// msvcrt.dll, are KnownDLLs and always come from System32.
//
// How a library is named to come from System32 depends on the system. Windows 8 and later, and
// Windows 7 with update KB2533623, know LOAD_LIBRARY_SEARCH_SYSTEM32 and SetDefaultDllDirectories:
// the flag confines a library and its own dependencies to System32, and the process default set
// at start covers the libraries that others load by name later (the dialog manager's uxtheme.dll,
// setupapi.dll's helpers while it enumerates devices). Windows 7 without the update knows
// neither, and refuses to start a program that imports the function; so it is looked up at run
// time, and where it is missing each library is loaded by its full path in System32 with
// LOAD_WITH_ALTERED_SEARCH_PATH, under which its dependencies are looked for in System32 first
// and the program's directory takes no part in the search. What such a system cannot be told is to
// skip the program's directory when a system library loads another one by name; the program
// takes the current directory out of that search, and loads uxtheme.dll, which comctl32.dll
// loads by name, by its full path before anything else, so that the later load finds it already
// there (a load by name takes a module of that name that is already loaded).
//
// comctl32.dll is not a KnownDLL either. The manifest asks for Common Controls 6, and side-by-side
// redirection, which the loader applies before it searches any directory, sends every load of that
// name to the copy in WinSxS; so an import would be safe, but only for as long as the manifest is
// embedded and right. Loaded here it is safe without that condition: it comes from WinSxS or from
// System32, never from beside the program.
#include "platform/win32/win32_dll.h"

#include <cwchar>

namespace {

// GetProcAddress hands back a generic FARPROC; the declared type comes from the SDK header.
template <typename Function>
bool Resolve(HMODULE library, const char* name, Function& entry) {
    entry = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return entry != nullptr;
}

// Each (name, entry) pair in turn from `library`, up to the first one missing; false as well when
// the library did not load, with its load's error left for GetLastError.
inline bool ResolveAll(HMODULE library) { return library != nullptr; }

template <typename Function, typename... More>
bool ResolveAll(HMODULE library, const char* name, Function& entry, More&... more) {
    return library != nullptr && Resolve(library, name, entry) && ResolveAll(library, more...);
}

// A record of every entry point or of none, so that a caller tests one member: `resolve` loads
// the libraries and fills the record, and true means it found them all. The modules stay loaded
// for the life of the process: the pointers point into them.
template <typename Record, typename Resolver>
Record AllOrNothing(Resolver resolve) {
    Record found = {};
    return resolve(found) ? found : Record{};
}

// Null where the system does not have it (Windows 7 without KB2533623). kernel32.dll is in
// every process, so its handle needs no load.
decltype(&::SetDefaultDllDirectories) DefaultDirectoriesEntry() {
    static const auto entry = [] {
        decltype(&::SetDefaultDllDirectories) found = nullptr;
        Resolve(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories", found);
        return found;
    }();
    return entry;
}

// LoadLibraryExW documents the LOAD_LIBRARY_SEARCH_ flags as available exactly where
// SetDefaultDllDirectories is.
HMODULE LoadFromSystem(const wchar_t* name) {
    if (DefaultDirectoriesEntry() != nullptr) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LoadFromSystemByPath(name);
}

}  // namespace

// GetSystemDirectoryW's path ends in a backslash only when it is a drive's root.
HMODULE LoadFromSystemByPath(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const UINT directory = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t length = std::wcslen(name);
    const bool separator = directory > 0 && directory < MAX_PATH && path[directory - 1] != L'\\';
    if (directory == 0 || directory + (separator ? 1 : 0) + length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    wchar_t* end = path + directory;
    if (separator) *end++ = L'\\';
    std::wmemcpy(end, name, length + 1);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// comctl32.dll loads uxtheme.dll by name after its own load has finished, outside the search
// that LOAD_WITH_ALTERED_SEARCH_PATH alters; loaded first by its full path, it is already there.
void RestrictLibrarySearchByPath() {
    SetDllDirectoryW(L"");
    LoadFromSystemByPath(L"uxtheme.dll");
}

void RestrictLibrarySearch() {
    if (const auto setDefaultDllDirectories = DefaultDirectoriesEntry()) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        return;
    }
    RestrictLibrarySearchByPath();
}

const HidLibraries& HidLibrariesOnce() {
    static const HidLibraries libraries = [] {
        RestrictLibrarySearch();
        HidLibraries found = AllOrNothing<HidLibraries>([](HidLibraries& entries) {
            return ResolveAll(LoadFromSystem(L"hid.dll"),
                              "HidD_GetHidGuid", entries.HidD_GetHidGuid,
                              "HidD_GetAttributes", entries.HidD_GetAttributes,
                              "HidD_GetPreparsedData", entries.HidD_GetPreparsedData,
                              "HidD_FreePreparsedData", entries.HidD_FreePreparsedData,
                              "HidP_GetCaps", entries.HidP_GetCaps,
                              "HidD_GetSerialNumberString", entries.HidD_GetSerialNumberString) &&
                   ResolveAll(LoadFromSystem(L"setupapi.dll"),
                              "SetupDiGetClassDevsW", entries.SetupDiGetClassDevsW,
                              "SetupDiEnumDeviceInterfaces", entries.SetupDiEnumDeviceInterfaces,
                              "SetupDiGetDeviceInterfaceDetailW", entries.SetupDiGetDeviceInterfaceDetailW,
                              "SetupDiDestroyDeviceInfoList", entries.SetupDiDestroyDeviceInfoList);
        });
        // Nothing since the failure has touched the last error.
        if (found.HidD_GetHidGuid == nullptr) {
            const DWORD error = GetLastError();
            found.loadError = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
        }
        return found;
    }();
    return libraries;
}

const TimerLibrary& TimerLibraryOnce() {
    static const TimerLibrary library = AllOrNothing<TimerLibrary>([](TimerLibrary& entries) {
        return ResolveAll(LoadFromSystem(L"winmm.dll"),
                          "timeBeginPeriod", entries.timeBeginPeriod,
                          "timeEndPeriod", entries.timeEndPeriod);
    });
    return library;
}

const ControlsLibrary& ControlsLibraryOnce() {
    static const ControlsLibrary library = AllOrNothing<ControlsLibrary>([](ControlsLibrary& entries) {
        return ResolveAll(LoadFromSystem(L"comctl32.dll"), "InitCommonControls", entries.InitCommonControls);
    });
    return library;
}

const ImageLibrary& ImageLibraryOnce() {
    static const ImageLibrary library = AllOrNothing<ImageLibrary>([](ImageLibrary& entries) {
        return ResolveAll(LoadFromSystem(L"msimg32.dll"), "TransparentBlt", entries.TransparentBlt);
    });
    return library;
}

const ThemeLibrary& ThemeLibraryOnce() {
    static const ThemeLibrary library = AllOrNothing<ThemeLibrary>([](ThemeLibrary& entries) {
        return ResolveAll(LoadFromSystem(L"uxtheme.dll"), "SetWindowTheme", entries.SetWindowTheme);
    });
    return library;
}

// cfgmgr32.dll is where the configuration manager's functions are documented; setupapi.dll
// carries them too, but only as a leftover of older systems.
const DeviceTreeLibraries& DeviceTreeLibrariesOnce() {
    static const DeviceTreeLibraries libraries = AllOrNothing<DeviceTreeLibraries>([](DeviceTreeLibraries& entries) {
        return ResolveAll(LoadFromSystem(L"setupapi.dll"),
                          "SetupDiCreateDeviceInfoList", entries.SetupDiCreateDeviceInfoList,
                          "SetupDiOpenDeviceInterfaceW", entries.SetupDiOpenDeviceInterfaceW,
                          "SetupDiEnumDeviceInfo", entries.SetupDiEnumDeviceInfo,
                          "SetupDiDestroyDeviceInfoList", entries.SetupDiDestroyDeviceInfoList) &&
               ResolveAll(LoadFromSystem(L"cfgmgr32.dll"),
                          "CM_Get_Parent", entries.CM_Get_Parent,
                          "CM_Get_Device_IDW", entries.CM_Get_Device_IDW,
                          "CM_Get_DevNode_Registry_PropertyW", entries.CM_Get_DevNode_Registry_PropertyW);
    });
    return libraries;
}
