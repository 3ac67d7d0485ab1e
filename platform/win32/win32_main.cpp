// The shipped program's entry: the real box behind the Windows HID stack.
#include <windows.h>

#include "platform/win32/win32_dll.h"
#include "platform/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a library by name: from here on the program's own libraries and
    // those the dialog manager loads (comctl32.dll, uxtheme.dll) come from System32 and never
    // from the directory the updater was downloaded to. win32_dll.cpp says how, on each Windows.
    RestrictLibrarySearch();
    // The update runs 31 s inside the "Update" command and takes no messages meanwhile, by
    // design. A top-level window that has taken no messages for about 5 s is replaced by a ghost
    // window ("Keine Rueckmeldung" in its title) whose close box offers to end the program: in
    // the middle of a flash write. Without ghosting the dialog and the progress window stay as
    // they are, and a click on them waits until the update is done.
    DisableProcessWindowsGhosting();
    return RunProgram(reinterpret_cast<ModuleHandle>(instance));
}
