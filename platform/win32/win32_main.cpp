// The shipped program's entry: the real box behind the Windows HID stack.
#include <windows.h>

#include "platform/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a library by name: from here on every load without a full path,
    // the program's own and those the dialog manager makes (comctl32.dll, uxtheme.dll), comes
    // from System32 and never from the directory the updater was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunProgram(reinterpret_cast<ModuleHandle>(instance));
}
