// The logo of platform/window.h on cairo and gdk-pixbuf.
#include "platform/linux/gtk/cairo_logo.h"

#include <gdk/gdk.h>

#include "platform/linux/gtk/embedded.h"
#include "resources/resource_ids.h"

namespace {

cairo_t* g_dialogPaintTarget = nullptr;

}  // namespace

GdkPixbuf* DecodeEmbedded(const char* type, const std::uint8_t* bytes, std::uint32_t size) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, nullptr);
    if (loader == nullptr) return nullptr;
    const bool written = gdk_pixbuf_loader_write(loader, bytes, size, nullptr) != FALSE;
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr) != FALSE;
    GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf != nullptr) g_object_ref(pixbuf);  // the loader's own goes with it
    g_object_unref(loader);
    return pixbuf;
}

void SetDialogPaintTarget(cairo_t* target) { g_dialogPaintTarget = target; }

// gdk_pixbuf_add_alpha gives exactly the key colour zero opacity. The stretch is filtered
// (Windows' TransparentBlt stretches by dropping pixels): cairo's premultiplied alpha keeps the
// left-out pixels' green out of the edges, so the logo's edges stay clean.
bool DrawKeyedLogo(cairo_t* target, std::uint32_t keyColour,
                   LogoPlacement (*place)(std::int32_t width, std::int32_t height)) {
    GdkPixbuf* bitmap = DecodeEmbedded("bmp", LOGO_BMP, LOGO_BMP_SIZE);
    if (bitmap == nullptr) return false;
    const int width = gdk_pixbuf_get_width(bitmap);
    const int height = gdk_pixbuf_get_height(bitmap);
    GdkPixbuf* keyed = gdk_pixbuf_add_alpha(bitmap, TRUE, static_cast<guchar>(keyColour & 0xFF),
                                            static_cast<guchar>((keyColour >> 8) & 0xFF),
                                            static_cast<guchar>((keyColour >> 16) & 0xFF));
    g_object_unref(bitmap);
    if (keyed == nullptr) return false;
    const LogoPlacement at = place(width, height);
    const bool drawn = at.width > 0 && at.height > 0;
    if (drawn) {
        cairo_save(target);
        cairo_rectangle(target, at.x, at.y, at.width, at.height);
        cairo_clip(target);
        cairo_translate(target, at.x, at.y);
        cairo_scale(target, static_cast<double>(at.width) / width, static_cast<double>(at.height) / height);
        gdk_cairo_set_source_pixbuf(target, keyed, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(target), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(target), CAIRO_FILTER_GOOD);
        cairo_paint(target);
        cairo_restore(target);
    }
    g_object_unref(keyed);
    return drawn;
}

// Only the logo is a bitmap of the program's.
void UiDrawLogo(std::uint16_t bitmapId, std::uint32_t keyColour,
                LogoPlacement (*place)(std::int32_t width, std::int32_t height)) {
    if (g_dialogPaintTarget == nullptr || bitmapId != IDB_LOGO) return;
    DrawKeyedLogo(g_dialogPaintTarget, keyColour, place);
}
