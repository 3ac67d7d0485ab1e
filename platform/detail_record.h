// The interface detail record of the backends that make their own (the simulated box, hidraw),
// laid out as SP_DEVICE_INTERFACE_DETAIL_DATA_W so that the logic reads every backend's record
// alike: a 32-bit word, then the zero-terminated UTF-16 path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr std::uint32_t DETAIL_PATH_OFFSET = 4;

// What HidInterfaceDetailSize answers for a path of `length` units.
inline std::uint32_t DetailRecordSize(std::size_t length) {
    return DETAIL_PATH_OFFSET + static_cast<std::uint32_t>((length + 1) * sizeof(char16_t));
}

// Fills a record of at least DetailRecordSize(length) bytes. The word is the cbSize that 64-bit
// Windows expects, the size of the fixed part, since that is what a caller of the system finds
// there; nothing reads it.
inline void WriteDetailRecord(void* detail, const char16_t* path, std::size_t length) {
    constexpr std::uint32_t FIXED_PART = 8;
    auto* bytes = static_cast<std::uint8_t*>(detail);
    std::memcpy(bytes, &FIXED_PART, sizeof FIXED_PART);
    std::memcpy(bytes + DETAIL_PATH_OFFSET, path, (length + 1) * sizeof(char16_t));
}

inline const char16_t* DetailRecordPath(const void* detail) {
    return reinterpret_cast<const char16_t*>(static_cast<const std::uint8_t*>(detail) + DETAIL_PATH_OFFSET);
}
