// The console demo on Windows: the same program with simulated boxes (--boxes N, 4 unless told, at
// most a full USB bus), each in bootloader mode with an older firmware. The boxes are paced on the real clock and the
// program pauses with the Win32 pause, so an update takes as long as with real boxes.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli_run.h"
#include "platform/console.h"
#include "platform/sim/sim_demo_world.h"
#include "platform/win32/win32_arguments.h"
#include "platform/win32/win32_dll.h"

int wmain(int argc, wchar_t** argv) {
    // As in the real program: winmm.dll, which the pause may load, from System32 only.
    RestrictLibrarySearch();
    const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    int boxes = 4;
    std::vector<const char*> rest;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0 && arguments[i] == "--boxes") {
            char* end = nullptr;
            const long count = i + 1 < arguments.size() ? std::strtol(arguments[++i].c_str(), &end, 10) : -1;
            if (end == nullptr || *end != 0 || count < 0 || count > MOST_DEMO_BOXES) {
                ConsoleWrite(ConsoleStream::Err, "veltabox-cli-demo: --boxes needs a number of boxes from 0 to " +
                                                     std::to_string(MOST_DEMO_BOXES) + "\n");
                return EXIT_USAGE;
            }
            boxes = static_cast<int>(count);
            continue;
        }
        rest.push_back(arguments[i].c_str());
    }
    AttachDemoBoxes(boxes);
    return RunConsoleProgram(static_cast<int>(rest.size()), rest.data(), "veltabox-cli-demo", true);
}
