// The portable builds' copy of the string table, made from the same file as the Windows one.
#include "resources/catalogue.h"

#include "app/text.h"

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
    return CopyText(FindCatalogueText(id), buffer, capacity);
}
