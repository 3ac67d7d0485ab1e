// The demo's entry: the same program with the simulated box of platform/sim/, on the real clock
// (sim_pause.cpp pauses on the simulated world's clock, which AttachDemoBox puts in real time).
#include "platform/linux/gtk/start.h"
#include "platform/sim/sim_demo_world.h"
#include "platform/window.h"

int main() {
    if (!StartWindowSystem("veltabox-updater-demo")) return 1;
    AttachDemoBox();
    return RunProgram(0);
}
