// The demo's entry: the same program, with a simulated box in place of the HID stack. The
// simulated world is set up in platform/sim/sim_demo_world.cpp, because its declarations and
// windows.h would clash (both name ERROR_FILE_NOT_FOUND and INVALID_HANDLE_VALUE).
#include <windows.h>

#include "platform/sim/sim_demo_world.h"
#include "platform/win32/win32_dll.h"
#include "platform/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // As in the real program: the dialog manager's own loads come from System32 only.
    RestrictLibrarySearch();
    // As in the real program: no ghost window over a running update.
    DisableProcessWindowsGhosting();
    AttachDemoBox();
    return RunProgram(reinterpret_cast<ModuleHandle>(instance));
}
