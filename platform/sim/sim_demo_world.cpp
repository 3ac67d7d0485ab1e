#include "platform/sim/sim_demo_world.h"

#include <cstdio>
#include <string>

#include "platform/sim/sim_box.h"
#include "resources/firmware_image.h"
#include "update/engine.h"

void AttachDemoBox() {
    sim::Reset();
    sim::g_world.realTime = true;
    sim::Box box = sim::MakeBox(1, true);
    box.firmwareVersion = 0x00010A00;  // older than the image the program carries, 0x00010B00
    sim::AddBox(box);
}

void AttachDemoBoxes(int count) {
    sim::Reset();
    sim::g_world.realTime = true;
    for (int i = 0; i < count; ++i) {
        sim::Box box = sim::MakeBox(i % 2 == 0 ? 1 : 2, true);
        box.firmwareVersion = 0x00010A00;
        char serial[16];
        std::snprintf(serial, sizeof serial, "SIM%04d", i + 1);
        box.serial = serial;
        box.restart.enabled = true;
        box.restart.image.assign(FIRMWARE_IMAGE, FIRMWARE_IMAGE + FIRMWARE_IMAGE_SIZE);
        box.restart.version = IMAGE_VERSION;
        const std::string path = "simulated:box-" + std::to_string(i + 1);
        sim::AddBox(box, std::u16string(path.begin(), path.end()));
    }
}
