// The console program's entry on Windows: the real boxes behind the Windows HID stack.
#include <windows.h>

#include <vector>

#include "cli/cli_run.h"
#include "platform/win32/win32_arguments.h"
#include "platform/win32/win32_dll.h"

int wmain(int argc, wchar_t** argv) {
    // Before anything can load a library by name, as in the dialog: hid.dll, setupapi.dll and
    // cfgmgr32.dll from System32, never from the folder the program was copied to.
    RestrictLibrarySearch();
    const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    return RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(), "veltabox-cli", false);
}
