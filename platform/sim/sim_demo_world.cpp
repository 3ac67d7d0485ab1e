#include "platform/sim/sim_demo_world.h"

#include <string>

#include "platform/sim/sim_box.h"

void AttachDemoBox() {
    sim::Reset();
    sim::g_world.realTime = true;
    sim::Box box = sim::MakeBox(1, true);
    box.firmwareVersion = 0x00010A00;  // older than the image the program carries, 0x00010B00
    sim::AddBox(box);
}
