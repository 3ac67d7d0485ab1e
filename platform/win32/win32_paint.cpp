// The painting functions of platform/window.h on GDI, one call each.
#include <cstddef>
#include <new>

#include <windows.h>

#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_handles.h"

static_assert(sizeof(PAINTSTRUCT) <= sizeof(PaintSession::storage) && offsetof(PaintSession, storage) == 0 &&
                  alignof(PAINTSTRUCT) <= alignof(PaintSession),
              "the paint record fits the logic's room for it");

namespace {

PAINTSTRUCT* PaintRecord(PaintSession* session) { return std::launder(reinterpret_cast<PAINTSTRUCT*>(session->storage)); }

}  // namespace

DrawContext UiBeginPaint(WindowHandle window, PaintSession* session) {
    PAINTSTRUCT* paint = ::new (static_cast<void*>(session->storage)) PAINTSTRUCT;
    return FromDC(BeginPaint(AsWindow(window), paint));
}

void UiEndPaint(WindowHandle window, PaintSession* session) { EndPaint(AsWindow(window), PaintRecord(session)); }

GdiObject UiLoadBitmap(ModuleHandle instance, std::uint16_t bitmapId) {
    return FromGdiObject(LoadBitmapW(AsInstance(instance), MAKEINTRESOURCEW(bitmapId)));
}

bool UiGetBitmapSize(GdiObject bitmap, std::int32_t* width, std::int32_t* height) {
    BITMAP info = {};
    if (GetObjectW(AsGdiObject(bitmap), sizeof(BITMAP), &info) == 0) return false;
    *width = info.bmWidth;
    *height = info.bmHeight;
    return true;
}

DrawContext UiCreateCompatibleDC(DrawContext dc) { return FromDC(CreateCompatibleDC(AsDC(dc))); }

GdiObject UiSelectObject(DrawContext dc, GdiObject object) { return FromGdiObject(SelectObject(AsDC(dc), AsGdiObject(object))); }

// TransparentBlt lives in msimg32.dll, which is loaded from System32 only (win32_dll.cpp says
// why); without it the logo is not drawn and the dialog works on.
bool UiTransparentBlt(DrawContext destination, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      DrawContext source, std::int32_t sourceX, std::int32_t sourceY, std::int32_t sourceWidth,
                      std::int32_t sourceHeight, std::uint32_t transparentColour) {
    const ImageLibrary& msimg32 = ImageLibraryOnce();
    if (msimg32.TransparentBlt == nullptr) return false;
    return msimg32.TransparentBlt(AsDC(destination), x, y, width, height, AsDC(source), sourceX, sourceY, sourceWidth,
                                  sourceHeight, transparentColour) != FALSE;
}

void UiDeleteDC(DrawContext dc) { DeleteDC(AsDC(dc)); }

void UiDeleteObject(GdiObject object) { DeleteObject(AsGdiObject(object)); }

void UiSetTextColor(DrawContext dc, std::uint32_t colour) { SetTextColor(AsDC(dc), colour); }

void UiSetBkMode(DrawContext dc, int mode) { SetBkMode(AsDC(dc), mode); }
