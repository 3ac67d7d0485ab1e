// The step of the search that the programs handling several boxes take one box at a time.
#pragma once

#include <cstdint>

#include "device/device_record.h"
#include "platform/hid.h"

// Vendor 0x21B8 with the product ID of a VELTABOX or a VELTA-HUB.
bool IsBox(std::uint16_t vendorId, std::uint16_t productId);
// Opens and claims the interface at `path` (owned, and freed unless taken) if it is the box:
// DEV_OK with handle, path, product ID and claim set; DEV_ERR_BUSY for a box another program
// holds, DEV_ERR_DENIED for one the user may not open (known only where the system listed it as
// a box); DEV_ERR_NOT_FOUND when it is something else or cannot be looked at. Releases whatever
// it obtained for an interface that is not taken.
std::int32_t TakeInterface(char16_t* path, bool listedBox, DeviceRecord& record);
