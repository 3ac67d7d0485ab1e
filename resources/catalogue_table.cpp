// The portable builds' copy of the string table, made from the same file as the Windows one.
#include "resources/catalogue.h"

#include <cstddef>
#include <cstring>

namespace {

#define MESSAGE(id, text) {id, u"" text},
const CatalogueEntry kCatalogue[] = {
#include "resources/messages.def"
};
#undef MESSAGE

}  // namespace

const char16_t* FindCatalogueText(std::uint32_t id) {
    for (const CatalogueEntry& entry : kCatalogue)
        if (entry.id == id) return entry.text;
    return nullptr;
}

int CopyCatalogueText(std::uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    const char16_t* text = FindCatalogueText(id);
    std::size_t length = 0;
    if (text != nullptr)
        while (text[length] != 0 && length + 1 < static_cast<std::size_t>(capacity)) ++length;
    if (length > 0) std::memcpy(buffer, text, length * sizeof(char16_t));
    buffer[length] = 0;
    return static_cast<int>(length);
}
