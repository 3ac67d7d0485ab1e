// The update of one box, from the question before an older image to the finish, as a function of
// the connection, the image and an observer of its steps. It keeps no state of its own, so that
// several boxes can be updated side by side, each on a thread of its own; everything it shows
// or asks goes through the observer.
#pragma once

#include <cstdint>

#include "device/device_record.h"

constexpr std::uint32_t IMAGE_START_ADDRESS = 0x08003000;
constexpr std::uint32_t IMAGE_VERSION = 0x00010B00;
constexpr std::uint32_t NO_FIRMWARE_VERSION = 0xFFFFFFFF;
constexpr std::uint32_t BLOCK_SIZE = 48;
constexpr std::uint8_t FILL_BYTE = 0xFF;
constexpr std::uint32_t STEP_PAUSE_MS = 20;
// The area the update erases; an image that does not fit it could not be written whole.
constexpr std::uint32_t IMAGE_CAPACITY = 115 * 1024;
// What "no system call failed" reads as in the code line.
constexpr std::uint32_t NO_SYSTEM_ERROR = 0;

// What the update tells and asks as it goes. Every member may be null.
struct UpdateObserver {
    void* context;
    // The box's firmware is not older than the image: true to write it all the same.
    bool (*confirmOlderImage)(void* context);
    // Before the unlock and after the finish or the failed step: from here on, nothing may cut
    // the update short.
    void (*writingBegins)(void* context);
    void (*writingEnds)(void* context);
    // As soon as each page's erase command has reached the box.
    void (*pageErased)(void* context);
    // Around the data blocks: before the first, and after the last or the failed one (once the
    // failure's system error has been taken).
    void (*transferBegins)(void* context);
    void (*transferEnds)(void* context);
    // After each data block reached the box, before its pause: the share of the image sent,
    // 0 to 100. The time it takes comes out of the box's pause, not on top of it.
    void (*blockWritten)(void* context, std::uint32_t percent);
    // While the box takes its pause after a step, an erased page or a data block (after
    // pageErased and blockWritten), with the microseconds of it still left: an observer that has
    // something to serve meanwhile does it here and returns by then; the engine waits out the rest.
    void (*boxPausing)(void* context, std::uint32_t microsecondsLeft);
    // Asked after each erased page and each data block: true stops the update there, with the
    // box half written. Only a person who insists on stopping now should make it say so.
    bool (*cutOff)(void* context);
};

enum class UpdateOutcome { Updated, Declined, Failed, CutOff };

// How an update ended. For a failure: the catalogue text of the failed step, its result code
// and the system's error code taken right after it.
struct UpdateResult {
    UpdateOutcome outcome;
    std::uint32_t messageId;
    std::int32_t code;
    std::uint32_t lastError;
};

// The whole update of the box held in `device`: the question (only for firmware that is not
// older than the image), the image check, unlock, erase, start address, the data blocks, lock and
// finish, each paced as the box needs. After success the device's firmware version is the
// image's. The connection is neither closed nor let go: the caller decides.
UpdateResult UpdateBox(DeviceRecord& device, const std::uint8_t* image, std::uint32_t size, const UpdateObserver& observer);

// The share of the image sent, 0 to 100, truncated.
std::uint32_t ProgressPosition(std::uint32_t size, std::uint32_t remaining);
