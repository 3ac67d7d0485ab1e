// The logo on GDI, drawn into the paint context of the dialog's WM_PAINT: the bitmap selected
// into a memory context and copied with TransparentBlt, which leaves out the key colour.
#include <windows.h>

#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_handles.h"

// TransparentBlt lives in msimg32.dll, which is loaded from System32 only (win32_dll.cpp says
// why); without it the logo is not drawn and the dialog works on.
void UiDrawLogo(std::uint16_t bitmapId, std::uint32_t keyColour,
                LogoPlacement (*place)(std::int32_t width, std::int32_t height)) {
    const HDC dc = PaintingContext();
    if (dc == nullptr) return;
    const HBITMAP bitmap = LoadBitmapW(ProgramModule(), MAKEINTRESOURCEW(bitmapId));
    if (bitmap == nullptr) return;
    BITMAP info = {};
    if (GetObjectW(bitmap, sizeof(BITMAP), &info) == 0 || info.bmWidth <= 0 || info.bmHeight <= 0) {
        DeleteObject(bitmap);
        return;
    }
    const HDC memory = CreateCompatibleDC(dc);
    SelectObject(memory, bitmap);
    const LogoPlacement at = place(info.bmWidth, info.bmHeight);
    const ImageLibrary& msimg32 = ImageLibraryOnce();
    if (msimg32.TransparentBlt != nullptr)
        msimg32.TransparentBlt(dc, at.x, at.y, at.width, at.height, memory, 0, 0, info.bmWidth, info.bmHeight, keyColour);
    DeleteDC(memory);
    DeleteObject(bitmap);
}
