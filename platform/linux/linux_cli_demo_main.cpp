// The console demo: the same program with simulated boxes (--boxes N, 4 unless told), each in
// bootloader mode with an older firmware and paced on the real clock as a real box is.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli_run.h"
#include "platform/sim/sim_demo_world.h"

int main(int argc, char** argv) {
    int boxes = 4;
    std::vector<const char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--boxes") == 0 && i + 1 < argc) {
            boxes = std::atoi(argv[++i]);
            if (boxes < 0 || boxes > 64) boxes = 4;
            continue;
        }
        rest.push_back(argv[i]);
    }
    AttachDemoBoxes(boxes);
    return RunConsoleProgram(static_cast<int>(rest.size()), rest.data(), "veltabox-cli-demo");
}
