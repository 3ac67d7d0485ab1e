// The console demo's boxes: apart from the dialog demo's world, since they carry the image the
// program writes (their check after the finish compares it), which the Windows dialog demo
// carries only as a resource.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/sim/sim_box.h"
#include "platform/sim/sim_demo_world.h"
#include "resources/firmware_image.h"
#include "update/engine.h"

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

void FailDemoBox(int number) {
    const std::lock_guard<std::recursive_mutex> hold(sim::WorldMutex());
    if (number < 1 || static_cast<std::size_t>(number) > sim::g_world.boxes.size()) return;
    sim::Faults& faults = sim::g_world.boxes[static_cast<std::size_t>(number - 1)].faults;
    // About a tenth into the image: after the unlock, the erase and 130 blocks.
    faults.failWriteNumber = 250;
    faults.failWriteError = sim::ERROR_GEN_FAILURE;
}
