// The program's own resources on Linux: the catalogue and the firmware image come from the
// portable tables every non-Windows build carries (resources/catalogue_table.cpp and the image
// embedded at build time); the logo and the icon are embedded beside them (embedded.h).

#include "platform/window.h"
#include "resources/catalogue.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"

int UiLoadString(std::uint32_t id, char16_t* buffer, int capacity) {
    return CopyCatalogueText(id, buffer, capacity);
}

bool UiLoadRawResource(std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size) {
    if (resourceId != IDR_FIRMWARE) return false;
    *bytes = FIRMWARE_IMAGE;
    *size = FIRMWARE_IMAGE_SIZE;
    return true;
}
