// Finding the box among the system's HID interfaces, and letting it go again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_record.h"

constexpr std::uint16_t DEVICE_VENDOR_ID = 0x21B8;

// Resets the record (closing a held box), then opens, claims and queries the first interface that
// carries the box's identity and is free, passing over boxes that another program holds or that
// the user may not open. DEV_OK; DEV_ERR_UNUSABLE (no list); when no box could be taken, the
// worst reason met: DEV_ERR_DENIED, DEV_ERR_BUSY or DEV_ERR_NOT_FOUND; or the failed query's
// result, in which case the box stays open and claimed for the caller to decide.
std::int32_t FindDevice(DeviceRecord& record);
// Closes the handle, frees the path and returns the record to the state in which no box is held.
void CloseDevice(DeviceRecord& record);
