// The bootloader's flash commands. None has an answer: a step is done when its report is written.
#pragma once

#include <cstdint>

#include "device/device_record.h"

constexpr std::uint32_t FLASH_PAGE_SIZE = 1024;
constexpr std::uint32_t ERASE_LAST_ADDRESS = 0x0801FBFF;
constexpr std::uint32_t FLASH_ADDRESS_LIMIT = 0x08020000;
constexpr std::uint32_t ERASE_PAUSE_MS = 40;

std::int32_t UnlockFlash(DeviceRecord& record);
// Called as soon as each page's erase command has reached the box, with the moment its pause ends
// (SystemClockMicroseconds), so that a caller can keep its window answering through the 4.6 s of
// the erase in the box's own time; false stops the erase there, with DEV_ERR_STOPPED. Either way
// the page's pause is waited out before anything else goes to the box.
using PageErased = bool (*)(void* context, std::uint64_t pauseEnds);
// Erases every page from the one holding `start` up to ERASE_LAST_ADDRESS, pausing after each.
std::int32_t ErasePages(DeviceRecord& record, std::uint32_t start, PageErased afterPage = nullptr, void* context = nullptr);
std::int32_t SetAddress(DeviceRecord& record, std::uint32_t address);
// Sends `chunks` (1 to 3) chunks of 16 bytes; the box places them after the previous data.
std::int32_t WriteData(DeviceRecord& record, std::uint8_t chunks, const std::uint8_t* data);
std::int32_t LockFlash(DeviceRecord& record);
std::int32_t SendFinish(DeviceRecord& record);
