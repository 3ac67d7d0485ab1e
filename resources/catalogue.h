// The message catalogue: every sentence the program shows, loaded by number.
#pragma once

#include <cstdint>

constexpr int MESSAGE_BUFFER_CHARS = 2048;
using MessageBuffer = char16_t[MESSAGE_BUFFER_CHARS];

// Loads message `id` afresh into the buffer, cut to it and zero-terminated.
void LoadMessage(std::uint32_t id, MessageBuffer& buffer);

// The catalogue as the portable builds carry it (the Windows build has its string table).
struct CatalogueEntry {
    std::uint32_t id;
    const char16_t* text;
};
// Null for a number that is not in the catalogue.
const char16_t* FindCatalogueText(std::uint32_t id);
// LoadStringW's contract over that table, for the backends that have no string table: the text
// cut to `capacity` and zero-terminated, its length returned; an unknown number yields the empty
// text and 0.
int CopyCatalogueText(std::uint32_t id, char16_t* buffer, int capacity);
