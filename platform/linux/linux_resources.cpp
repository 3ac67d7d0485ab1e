// The program's own resources on Linux: the catalogue and the firmware image come from the
// portable tables every non-Windows build carries (resources/catalogue_table.cpp and the image
// embedded at build time); the logo and the icon are embedded beside them (linux_embedded.h).
#include <cstring>

#include "platform/window.h"
#include "resources/catalogue.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"

// LoadStringW: the text cut to the buffer, zero-terminated, its length returned; an unknown
// number yields the empty text and 0.
int UiLoadString(ModuleHandle, std::uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    const char16_t* text = FindCatalogueText(id);
    std::size_t length = 0;
    if (text != nullptr)
        while (text[length] != 0 && length + 1 < static_cast<std::size_t>(capacity)) ++length;
    if (length > 0) std::memcpy(buffer, text, length * sizeof(char16_t));
    buffer[length] = 0;
    return static_cast<int>(length);
}

bool UiLoadRawResource(ModuleHandle, std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size) {
    if (resourceId != IDR_FIRMWARE) return false;
    *bytes = FIRMWARE_IMAGE;
    *size = FIRMWARE_IMAGE_SIZE;
    return true;
}
