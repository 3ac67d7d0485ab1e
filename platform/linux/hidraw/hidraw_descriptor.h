// The report lengths that a HID report descriptor declares, computed the way HidP_GetCaps gives
// them on Windows: for input and for output reports, the byte length of the longest report,
// its report ID byte included. The descriptor comes from the box (or any device) and is parsed
// as untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads `size` bytes from `descriptor` and nothing outside them. True with both lengths set
// (0 for a kind of report the device does not declare); false for a malformed descriptor: empty,
// an item cut off by the end, a pop without a push, pushes deeper than the kernel allows, report
// ID 0 or above 255, or collections that do not balance. Lengths that would exceed 16 bits are
// given as 0xFFFF.
bool DescriptorReportLengths(const std::uint8_t* descriptor, std::size_t size, std::uint16_t* inputLength,
                             std::uint16_t* outputLength);
