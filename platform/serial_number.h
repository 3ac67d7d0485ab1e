// A USB serial number as the programs use it: a key to find a box by, printed, recorded and typed.
#pragma once

#include <string>

// The ends trimmed; empty (no serial) for one with a byte below 0x20 or above 0x7E or a comma,
// which Windows' own rule for instance IDs refuses too, so that both systems agree on which
// boxes have one. Never an empty key: a box without a serial is named by its port.
inline std::string UsableSerialNumber(const std::string& raw) {
    const std::size_t first = raw.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    const std::string trimmed = raw.substr(first, raw.find_last_not_of(' ') - first + 1);
    for (const char c : trimmed) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || c == ',') return std::string();
    }
    return trimmed;
}
