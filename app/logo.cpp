#include "app/globals.h"
#include "app/main_window.h"
#include "resources/resource_ids.h"

LogoPlacement ComputeLogoPlacement(const WindowRect& window, const WindowRect& group, int frameWidth, int captionHeight,
                                   std::int32_t bitmapWidth, std::int32_t bitmapHeight) {
    LogoPlacement placement{};
    placement.width = window.right - group.right - 10;
    if (placement.width > (bitmapWidth >> 1)) placement.width = bitmapWidth >> 1;
    placement.height = static_cast<std::int32_t>(static_cast<double>(placement.width) / bitmapWidth * bitmapHeight);
    placement.x = group.right - (window.left + frameWidth) + 20;
    placement.y = group.top - (window.top + captionHeight);
    return placement;
}

namespace {

// The geometry from the window system's own figures, asked once the bitmap's size is known.
LogoPlacement PlaceLogo(std::int32_t bitmapWidth, std::int32_t bitmapHeight) {
    WindowRect window{};
    WindowRect group{};
    UiGetWindowRect(g_hMainDlg, &window);
    UiGetControlRect(IDC_VERSION_GROUP, &group);
    std::int32_t frameWidth = 0;
    std::int32_t captionHeight = 0;
    UiGetDialogFrame(&frameWidth, &captionHeight);
    return ComputeLogoPlacement(window, group, frameWidth, captionHeight, bitmapWidth, bitmapHeight);
}

}  // namespace

// A bitmap without a size has nothing to scale by: the window system then draws nothing.
void PaintLogo() { UiDrawLogo(IDB_LOGO, Colour(0, 255, 0), PlaceLogo); }
