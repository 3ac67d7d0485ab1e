#include "app/globals.h"
#include "app/main_window.h"
#include "platform/window_constants.h"
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

void PaintLogo(DrawContext dc) {
    const GdiObject bitmap = UiLoadBitmap(g_hInstance, IDB_LOGO);
    std::int32_t width = 0;
    std::int32_t height = 0;
    // A missing bitmap has no size to scale by; there is then nothing to draw.
    if (bitmap == 0 || !UiGetBitmapSize(bitmap, &width, &height) || width <= 0 || height <= 0) {
        if (bitmap != 0) UiDeleteObject(bitmap);
        return;
    }
    const DrawContext memory = UiCreateCompatibleDC(dc);
    UiSelectObject(memory, bitmap);
    WindowRect window{};
    WindowRect group{};
    UiGetWindowRect(g_hMainDlg, &window);
    UiGetWindowRect(UiGetControl(g_hMainDlg, IDC_VERSION_GROUP), &group);
    const LogoPlacement at = ComputeLogoPlacement(window, group, UiGetSystemMetrics(SM_CXDLGFRAME),
                                                  UiGetSystemMetrics(SM_CYCAPTION), width, height);
    UiTransparentBlt(dc, at.x, at.y, at.width, at.height, memory, 0, 0, width, height, RGB(0, 255, 0));
    UiDeleteDC(memory);
    UiDeleteObject(bitmap);
}
