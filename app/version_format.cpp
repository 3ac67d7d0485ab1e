#include "app/version_format.h"

#include "app/text.h"

void FormatVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity) {
    if (capacity == 0) return;
    buffer[0] = 0;
    if ((version >> 24) != 0) FormatText(buffer, capacity, u"%u.", {version >> 24});
    char16_t rest[VERSION_TEXT_CHARS];
    FormatText(rest, VERSION_TEXT_CHARS, u"%u.%u", {(version >> 8) & 0xFF, version & 0xFF});
    TextAppend(buffer, capacity, rest);
}

void FormatBootloaderVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity) {
    FormatVersion(version >> 8, buffer, capacity);
}

void FormatFirmwareVersion(std::uint32_t version, char16_t* buffer, std::size_t capacity) {
    if (version == 0xFFFFFFFFu) {
        buffer[0] = 0;
        TextAppend(buffer, capacity, u"----------");
        return;
    }
    if ((version & 0xFF) == 0) version >>= 8;
    FormatVersion(version, buffer, capacity);
}
