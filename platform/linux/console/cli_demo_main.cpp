// The console demo: the same program with simulated boxes (--boxes N, 4 unless told, at most a
// full USB bus), each in bootloader mode with an older firmware and paced on the real clock as a
// real box is; each restarts into its new firmware after the finish. --failing K makes box K fail
// a tenth into its image, for a line's failure on show.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli_run.h"
#include "platform/sim/sim_demo_world.h"

int main(int argc, char** argv) {
    int boxes = 4;
    long failing = 0;
    std::vector<const char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--failing") == 0) {
            char* end = nullptr;
            failing = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : -1;
            if (end == nullptr || *end != 0 || failing < 1 || failing > MOST_DEMO_BOXES) {
                std::fprintf(stderr, "veltabox-cli-demo: --failing needs the number of a box, from 1 to %d\n", MOST_DEMO_BOXES);
                return EXIT_USAGE;
            }
            continue;
        }
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
    if (failing > boxes) {
        std::fprintf(stderr, "veltabox-cli-demo: --failing %ld names no box of the %d simulated\n", failing, boxes);
        return EXIT_USAGE;
    }
    if (failing > 0) FailDemoBox(static_cast<int>(failing));
    return RunConsoleProgram(static_cast<int>(rest.size()), rest.data(), "veltabox-cli-demo", true);
}
