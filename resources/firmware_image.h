// The firmware image as the portable builds embed it (the Windows program carries it as a
// raw-data resource instead).
#pragma once

#include <cstdint>

extern const std::uint8_t FIRMWARE_IMAGE[];
extern const std::uint32_t FIRMWARE_IMAGE_SIZE;
