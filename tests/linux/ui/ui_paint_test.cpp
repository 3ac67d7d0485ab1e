// The logo as the logic draws it (PaintLogo's calls), onto a cairo image: the key colour left
// out, everything else drawn, and every context and bitmap given back.
#include <gtest/gtest.h>

#include <cairo.h>

#include "platform/linux/linux_paint.h"
#include "platform/linux/linux_windows.h"
#include "platform/window.h"
#include "platform/window_constants.h"
#include "resources/resource_ids.h"
#include "tests/linux/ui/ui_recorder.h"

namespace {

constexpr std::uint32_t BACKGROUND = 0xFF336699;  // opaque ARGB, far from anything in the logo

struct Canvas {
    cairo_surface_t* surface;
    cairo_t* cr;
    Canvas(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)), cr(cairo_create(surface)) {
        cairo_set_source_rgb(cr, 0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0);
        cairo_paint(cr);
    }
    ~Canvas() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    std::uint32_t Pixel(int x, int y) {
        cairo_surface_flush(surface);
        const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const std::uint32_t*>(row)[x];
    }
};

// PaintLogo's sequence: load, size, memory context, select, blit, delete both.
bool DrawLogo(Canvas& canvas, int x, int y, int width, int height) {
    const DrawContext dc = OpenPaintContext(canvas.cr);
    const GdiObject bitmap = UiLoadBitmap(0, IDB_LOGO);
    std::int32_t bitmapWidth = 0;
    std::int32_t bitmapHeight = 0;
    const bool sized = UiGetBitmapSize(bitmap, &bitmapWidth, &bitmapHeight);
    const DrawContext memory = UiCreateCompatibleDC(dc);
    UiSelectObject(memory, bitmap);
    const bool drawn = UiTransparentBlt(dc, x, y, width, height, memory, 0, 0, bitmapWidth, bitmapHeight, RGB(0, 255, 0));
    UiDeleteDC(memory);
    UiDeleteObject(bitmap);
    ClosePaintContext(dc);
    return sized && drawn;
}

}  // namespace

TEST(LogoPainting, TheEmbeddedLogoHasItsSize) {
    const GdiObject bitmap = UiLoadBitmap(0, IDB_LOGO);
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(UiGetBitmapSize(bitmap, &width, &height));
    EXPECT_EQ(width, 365);
    EXPECT_EQ(height, 122);
    UiDeleteObject(bitmap);
    EXPECT_EQ(UiLoadBitmap(0, IDB_LOGO + 1), 0) << "only the logo is a bitmap";
    EXPECT_EQ(LivePaintObjects(), 0);
}

TEST(LogoPainting, KeyColourIsLeftOutAndTheRestIsDrawn) {
    Canvas canvas(365, 122);
    ASSERT_TRUE(DrawLogo(canvas, 0, 0, 365, 122));
    // The logo's corner is the key colour: the background shows through. The emblem's blue
    // square (10,15 to 101,106 in make_artwork.sh) is drawn: dark blue, opaque.
    EXPECT_EQ(canvas.Pixel(2, 2), BACKGROUND);
    EXPECT_EQ(canvas.Pixel(360, 118), BACKGROUND);
    const std::uint32_t emblem = canvas.Pixel(20, 100);
    EXPECT_EQ(emblem >> 24, 0xFFu);
    EXPECT_EQ(emblem & 0xFFFFFF, 0x14306Au);
    EXPECT_EQ(LivePaintObjects(), 0) << "each paint gives back its contexts and its bitmap";
}

TEST(LogoPainting, ScaledLogoStaysInItsRectangleWithoutGreenFringes) {
    // The size the dialog draws it at: 182 x 60 at 20, 10.
    Canvas canvas(240, 90);
    ASSERT_TRUE(DrawLogo(canvas, 20, 10, 182, 60));
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 240; ++x) {
            const std::uint32_t pixel = canvas.Pixel(x, y);
            const int red = static_cast<int>((pixel >> 16) & 0xFF);
            const int green = static_cast<int>((pixel >> 8) & 0xFF);
            const int blue = static_cast<int>(pixel & 0xFF);
            if (x < 20 || x >= 202 || y < 10 || y >= 70) {
                ASSERT_EQ(pixel, BACKGROUND) << x << "," << y;
            }
            // No pixel may lean towards the key colour's green.
            ASSERT_FALSE(green > red + 40 && green > blue + 40) << x << "," << y << " " << std::hex << pixel;
        }
    }
    EXPECT_NE(canvas.Pixel(20 + 91 * 182 / 365 / 2, 10 + 30), BACKGROUND) << "the emblem is drawn";
}

TEST(LogoPainting, StaleAndForeignHandlesAreRefused) {
    Canvas canvas(10, 10);
    const DrawContext dc = OpenPaintContext(canvas.cr);
    const GdiObject bitmap = UiLoadBitmap(0, IDB_LOGO);
    const DrawContext memory = UiCreateCompatibleDC(dc);
    UiDeleteObject(bitmap);
    EXPECT_EQ(UiSelectObject(memory, bitmap), 0) << "a deleted bitmap";
    EXPECT_FALSE(UiTransparentBlt(dc, 0, 0, 10, 10, memory, 0, 0, 10, 10, RGB(0, 255, 0))) << "nothing selected";
    std::int32_t width = 0;
    std::int32_t height = 0;
    EXPECT_FALSE(UiGetBitmapSize(12345, &width, &height));
    EXPECT_FALSE(UiTransparentBlt(0x5000, 0, 0, 10, 10, memory, 0, 0, 10, 10, 0)) << "a context never handed out";
    // A paint context's text colour is what WM_CTLCOLORSTATIC's answer is read from.
    std::uint32_t colour = 0;
    EXPECT_FALSE(PaintContextTextColour(dc, &colour));
    UiSetTextColor(dc, RGB(255, 0, 0));
    ASSERT_TRUE(PaintContextTextColour(dc, &colour));
    EXPECT_EQ(colour, RGB(255, 0, 0));
    UiDeleteDC(memory);
    ClosePaintContext(dc);
    UiSetTextColor(dc, RGB(0, 0, 255));
    EXPECT_FALSE(PaintContextTextColour(dc, &colour)) << "a closed context";
    EXPECT_EQ(LivePaintObjects(), 0);
}

TEST(LogoPainting, BeginPaintGivesAContextOnlyWhileTheDialogIsBeingDrawn) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const WindowHandle dialog = AddWindow(window, WindowKind::Dialog, 0);
    Canvas canvas(10, 10);
    PaintSession session;
    EXPECT_EQ(UiBeginPaint(dialog, &session), 0) << "outside a paint of the dialog";
    UiEndPaint(dialog, &session);
    SetDialogPaintTarget(canvas.cr);
    EXPECT_NE(UiBeginPaint(dialog, &session), 0) << "inside one";
    UiEndPaint(dialog, &session);
    SetDialogPaintTarget(nullptr);
    gtk_widget_destroy(window);
    EXPECT_EQ(LivePaintObjects(), 0);
}
