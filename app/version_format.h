// The version words as the program shows them, in the dialog and on the console alike.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int VERSION_TEXT_CHARS = 32;

// Writes a version word as "A.B.C" (A only when bits 24-31 are set) or "B.C".
void FormatVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity);
// The bootloader and firmware versions as the version group shows them: the bootloader's word
// without its low byte; the firmware's without a low byte of zero, "----------" when none is known.
void FormatBootloaderVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity);
void FormatFirmwareVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity);
