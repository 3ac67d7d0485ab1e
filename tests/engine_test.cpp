// Several boxes updated at once, each on a thread of its own: the update keeps no state outside
// its connection, so each box gets its own update at its own pace.
#include <atomic>
#include <thread>

#include "device/protocol.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"
#include "sim_fixture.h"
#include "update/engine.h"

namespace {

class EngineTest : public SimTest {};

TEST_F(EngineTest, BoxesUpdatedSideBySideEachGetOneWholeUpdateAtTheirOwnPaceAndOneFailureStopsOnlyItsBox) {
    constexpr int BOXES = 4;
    for (int i = 0; i < BOXES; ++i) sim::AddBox(sim::MakeBox(1, true));
    Box(2).faults.pullOutAfterReport = 2 + 400;  // the query's two reports, then 400 of the update

    UpdateResult results[BOXES];
    std::uint16_t percents[BOXES] = {};
    std::thread threads[BOXES];
    std::atomic<int> claimed{0};
    for (int i = 0; i < BOXES; ++i) {
        threads[i] = std::thread([i, &results, &percents, &claimed] {
            DeviceRecord device;
            ResetDeviceRecord(device);
            // Each thread claims the first box no other thread holds, and keeps it until every
            // thread has one: on the virtual clock an update is over before the next thread runs.
            const std::int32_t found = FindDevice(device);
            ++claimed;
            while (claimed < BOXES) std::this_thread::yield();
            if (found != DEV_OK) return;
            UpdateObserver observer = {};
            observer.context = &percents[i];
            observer.blockWritten = [](void* context, std::uint32_t percent) { *static_cast<std::uint16_t*>(context) = static_cast<std::uint16_t>(percent); };
            // The last box's operator insists on stopping half way.
            if (device.devicePath == sim::g_world.interfaces.back().path)
                observer.cutOff = [](void* context) { return *static_cast<std::uint16_t*>(context) >= 50; };
            results[i] = UpdateBox(device, FIRMWARE_IMAGE, FIRMWARE_IMAGE_SIZE, observer);
            CloseDevice(device);
        });
    }
    for (std::thread& thread : threads) thread.join();

    int updated = 0;
    for (int i = 0; i < BOXES; ++i) updated += results[i].outcome == UpdateOutcome::Updated ? 1 : 0;
    EXPECT_EQ(updated, BOXES - 2);
    for (int b = 0; b < BOXES; ++b) {
        SCOPED_TRACE("box " + std::to_string(b));
        const sim::Box& box = Box(b);
        EXPECT_TRUE(box.violations.empty()) << box.violations.front();
        EXPECT_FALSE(box.claimed);
        // The box's reports, in the order it took them: one query and one update, nothing of another's.
        std::vector<std::uint8_t> commands;
        for (const sim::WireEntry& entry : sim::OutputReports())
            if (entry.box == b && entry.ok) commands.push_back(entry.bytes.at(1));
        ASSERT_GE(commands.size(), 2u + 117u);
        EXPECT_EQ(commands[0], CMD_GET_INFO);
        EXPECT_EQ(commands[1], CMD_READ_MEMORY);
        EXPECT_EQ(commands[2], CMD_UNLOCK_FLASH);
        if (b == 2) {
            EXPECT_EQ(commands.size(), 2u + 400u) << "the pulled box was sent more after its failure";
            EXPECT_FALSE(box.finished);
            continue;
        }
        if (b == BOXES - 1) {
            EXPECT_EQ(commands.size(), 2u + 117u + 1311u / 2u + 1u) << "the box cut off was sent more after its block at 50 %";
            EXPECT_FALSE(box.finished);
            continue;
        }
        ASSERT_EQ(commands.size(), 2u + 1430u);
        EXPECT_EQ(commands.back(), CMD_FINISH);
        EXPECT_TRUE(box.finished);
        EXPECT_EQ(sim::FlashBytes(box, IMAGE_START_ADDRESS, FIRMWARE_IMAGE_SIZE),
                  std::vector<std::uint8_t>(FIRMWARE_IMAGE, FIRMWARE_IMAGE + FIRMWARE_IMAGE_SIZE));
    }
    for (int i = 0; i < BOXES; ++i) {
        if (results[i].outcome == UpdateOutcome::CutOff) {
            EXPECT_EQ(percents[i], 50);
        }
        if (results[i].outcome != UpdateOutcome::Failed) continue;
        EXPECT_EQ(results[i].messageId, IDS_WRITE_BLOCK_FAILED);
        EXPECT_EQ(results[i].code, DEV_ERR_WRITE);
        EXPECT_EQ(results[i].lastError, sim::ERROR_DEVICE_NOT_CONNECTED) << "another thread's last error";
        EXPECT_LT(percents[i], 100);
    }
}

}  // namespace
