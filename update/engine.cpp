#include "update/engine.h"

#include <cstring>

#include "device/flash.h"
#include "device/protocol.h"
#include "platform/system.h"
#include "resources/resource_ids.h"

namespace {

constexpr UpdateResult UPDATED = {UpdateOutcome::Updated, 0, DEV_OK, NO_SYSTEM_ERROR};

UpdateResult Failed(std::uint32_t messageId, std::int32_t code) {
    return {UpdateOutcome::Failed, messageId, code, SystemLastError()};
}

void Tell(void (*step)(void*), const UpdateObserver& observer) {
    if (step != nullptr) step(observer.context);
}

bool IsCutOff(const UpdateObserver& observer) { return observer.cutOff != nullptr && observer.cutOff(observer.context); }

void UsePause(const UpdateObserver& observer, std::uint64_t pauseEnds) {
    if (observer.boxPausing == nullptr) return;
    const std::uint64_t now = SystemClockMicroseconds();
    observer.boxPausing(observer.context, pauseEnds > now ? static_cast<std::uint32_t>(pauseEnds - now) : 0);
}

// The pause after a step (the unlock, the erase, the start address), counted from its end.
void StepPause(const UpdateObserver& observer) {
    const std::uint64_t pauseEnds = SystemClockMicroseconds() + STEP_PAUSE_MS * 1000u;
    UsePause(observer, pauseEnds);
    SystemPauseUntil(pauseEnds);
}

bool AfterPage(void* observer, std::uint64_t pauseEnds) {
    const auto& steps = *static_cast<const UpdateObserver*>(observer);
    Tell(steps.pageErased, steps);
    if (IsCutOff(steps)) return false;
    UsePause(steps, pauseEnds);
    return true;
}

// The box was stopped between two reports; its firmware is incomplete, as after a failure.
constexpr UpdateResult CUT_OFF = {UpdateOutcome::CutOff, 0, DEV_ERR_STOPPED, NO_SYSTEM_ERROR};

// Sends the image block by block; the observer hears of the transfer's end after the last error
// of a failed block has been taken.
UpdateResult TransferImage(DeviceRecord& device, const std::uint8_t* image, std::uint32_t size, const UpdateObserver& observer) {
    Tell(observer.transferBegins, observer);
    std::uint32_t remaining = size;
    const std::uint8_t* position = image;
    while (remaining > 0) {
        std::int32_t result;
        if (remaining >= BLOCK_SIZE) {
            result = WriteData(device, MAX_CHUNKS, position);
            remaining -= BLOCK_SIZE;
            position += BLOCK_SIZE;
        } else {
            std::uint8_t staging[BLOCK_SIZE];
            std::memset(staging, FILL_BYTE, sizeof staging);
            std::memcpy(staging, position, remaining);
            result = WriteData(device, static_cast<std::uint8_t>(remaining / CHUNK_SIZE), staging);
            remaining = 0;
        }
        if (result != DEV_OK) {
            const UpdateResult failure = Failed(IDS_WRITE_BLOCK_FAILED, result);
            Tell(observer.transferEnds, observer);
            return failure;
        }
        // The box's 20 ms run from the moment the block reached it. What the observer does takes
        // its time out of them, instead of adding to every one of the 1311 blocks.
        const std::uint64_t written = SystemClockMicroseconds();
        if (observer.blockWritten != nullptr) observer.blockWritten(observer.context, ProgressPosition(size, remaining));
        if (IsCutOff(observer)) {
            Tell(observer.transferEnds, observer);
            return CUT_OFF;
        }
        UsePause(observer, written + STEP_PAUSE_MS * 1000u);
        SystemPauseUntil(written + STEP_PAUSE_MS * 1000u);
    }
    Tell(observer.transferEnds, observer);
    return UPDATED;
}

// Everything from the unlock to the finish. The box is erased from the first page on, so no
// step may be skipped or reordered, and the pauses are what keeps the box in step.
UpdateResult WriteFirmware(DeviceRecord& device, const std::uint8_t* image, std::uint32_t size, const UpdateObserver& observer) {
    std::int32_t result = UnlockFlash(device);
    if (result != DEV_OK) return Failed(IDS_UNLOCK_FAILED, result);
    StepPause(observer);
    result = ErasePages(device, IMAGE_START_ADDRESS, AfterPage, const_cast<UpdateObserver*>(&observer));
    if (result == DEV_ERR_STOPPED) return CUT_OFF;
    if (result != DEV_OK) return Failed(IDS_ERASE_FAILED, result);
    StepPause(observer);
    result = SetAddress(device, IMAGE_START_ADDRESS);
    if (result != DEV_OK) return Failed(IDS_SET_ADDRESS_FAILED, result);
    StepPause(observer);
    const UpdateResult transferred = TransferImage(device, image, size, observer);
    if (transferred.outcome != UpdateOutcome::Updated) return transferred;
    // The box holds the whole image now, but only the lock and the finish make it the box's
    // firmware. When either report does not get through, the user is told that the end of the
    // transfer failed and updates again, rather than unplugging a box that never finished.
    result = LockFlash(device);
    if (result != DEV_OK) return Failed(IDS_WRITE_BLOCK_FAILED, result);
    device.firmwareVersion = IMAGE_VERSION;
    result = SendFinish(device);
    if (result != DEV_OK) return Failed(IDS_WRITE_BLOCK_FAILED, result);
    return UPDATED;
}

// An image the box could not take whole: empty, not whole 16-byte chunks (the tail would be
// dropped) or larger than the erased area.
bool IsWritableImage(const std::uint8_t* image, std::uint32_t size) {
    return image != nullptr && size > 0 && size % CHUNK_SIZE == 0 && size <= IMAGE_CAPACITY;
}

}  // namespace

UpdateResult UpdateBox(DeviceRecord& device, const std::uint8_t* image, std::uint32_t size, const UpdateObserver& observer) {
    const std::uint32_t installed = device.firmwareVersion;
    if (installed >= IMAGE_VERSION && installed != NO_FIRMWARE_VERSION &&
        (observer.confirmOlderImage == nullptr || !observer.confirmOlderImage(observer.context)))
        return {UpdateOutcome::Declined, 0, DEV_OK, NO_SYSTEM_ERROR};
    if (!IsWritableImage(image, size)) {
        // Caught before the first report: the box keeps its firmware. The code line shows the
        // system error 0 (ERROR_SUCCESS, no system call failed): the refusal is the program's
        // own, and whatever an earlier call left in the last error has nothing to do with it.
        return {UpdateOutcome::Failed, IDS_UNLOCK_FAILED, DEV_ERR_ARGUMENT, NO_SYSTEM_ERROR};
    }
    Tell(observer.writingBegins, observer);
    const UpdateResult result = WriteFirmware(device, image, size, observer);
    Tell(observer.writingEnds, observer);
    return result;
}

std::uint32_t ProgressPosition(std::uint32_t size, std::uint32_t remaining) { return (size - remaining) * 100u / size; }
