// The logo as the logic has it drawn, onto a cairo image: the key colour left out, everything
// else drawn, scaled into its place without fringes.
#include <gtest/gtest.h>

#include <cairo.h>

#include "platform/linux/gtk/cairo_logo.h"
#include "platform/window.h"
#include "resources/resource_ids.h"

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

std::int32_t g_width = 0;
std::int32_t g_height = 0;
LogoPlacement g_at = {};

// Where the dialog's logic would put it, recording the size the backend answered.
LogoPlacement Place(std::int32_t width, std::int32_t height) {
    g_width = width;
    g_height = height;
    return g_at;
}

bool DrawLogo(Canvas& canvas, int x, int y, int width, int height) {
    g_at = {x, y, width, height};
    return DrawKeyedLogo(canvas.cr, Colour(0, 255, 0), Place);
}

}  // namespace

TEST(LogoPainting, KeyColourIsLeftOutAndTheRestIsDrawnAtTheBitmapsOwnSize) {
    Canvas canvas(365, 122);
    ASSERT_TRUE(DrawLogo(canvas, 0, 0, 365, 122));
    EXPECT_EQ(g_width, 365);
    EXPECT_EQ(g_height, 122);
    // The logo's corner is the key colour: the background shows through. The emblem's blue
    // square (10,15 to 101,106 in make_artwork.sh) is drawn: dark blue, opaque.
    EXPECT_EQ(canvas.Pixel(2, 2), BACKGROUND);
    EXPECT_EQ(canvas.Pixel(360, 118), BACKGROUND);
    const std::uint32_t emblem = canvas.Pixel(20, 100);
    EXPECT_EQ(emblem >> 24, 0xFFu);
    EXPECT_EQ(emblem & 0xFFFFFF, 0x14306Au);
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

TEST(LogoPainting, TheLogoIsDrawnOnlyWhileTheDialogIsBeingDrawn) {
    Canvas canvas(40, 40);
    g_at = {0, 0, 40, 40};
    UiDrawLogo(IDB_LOGO, Colour(0, 255, 0), Place);
    EXPECT_EQ(canvas.Pixel(6, 20), BACKGROUND) << "outside a paint of the dialog";
    SetDialogPaintTarget(canvas.cr);
    UiDrawLogo(IDB_LOGO + 1, Colour(0, 255, 0), Place);
    EXPECT_EQ(canvas.Pixel(6, 20), BACKGROUND) << "only the logo is a bitmap";
    UiDrawLogo(IDB_LOGO, Colour(0, 255, 0), Place);
    SetDialogPaintTarget(nullptr);
    EXPECT_NE(canvas.Pixel(6, 20), BACKGROUND) << "inside one";
}
