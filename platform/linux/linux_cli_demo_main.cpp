// The console demo: the same program with simulated boxes (--boxes N, 4 unless told, at most a
// full USB bus), each in bootloader mode with an older firmware and paced on the real clock as a
// real box is; each restarts into its new firmware after the finish.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli_run.h"
#include "platform/sim/sim_demo_world.h"

int main(int argc, char** argv) {
    int boxes = 4;
    std::vector<const char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--boxes") == 0) {
            char* end = nullptr;
            const long count = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : -1;
            if (end == nullptr || *end != 0 || count < 0 || count > MOST_DEMO_BOXES) {
                std::fprintf(stderr, "veltabox-cli-demo: --boxes needs a number of boxes from 0 to %d\n", MOST_DEMO_BOXES);
                return EXIT_USAGE;
            }
            boxes = static_cast<int>(count);
            continue;
        }
        rest.push_back(argv[i]);
    }
    AttachDemoBoxes(boxes);
    return RunConsoleProgram(static_cast<int>(rest.size()), rest.data(), "veltabox-cli-demo", true);
}
