// A device path as the system hands it out inside its records (the Setup API's interface detail,
// a device-change notification), copied out of them: the record's size bounds the copy, since a
// record from the system or a driver is not trusted to hold the terminator it should.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

// A copy, zero-terminated, of the path that starts at `path` and may take up to `capacity`
// units; allocated with std::malloc, null when there is no memory.
inline char16_t* CopyDevicePath(const wchar_t* path, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && path[length] != 0) ++length;
    auto* copy = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, path, length * sizeof(char16_t));
    copy[length] = 0;
    return copy;
}
