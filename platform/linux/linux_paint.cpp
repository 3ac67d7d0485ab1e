// The painting functions of platform/window.h on cairo and gdk-pixbuf.
#include "platform/linux/linux_paint.h"

#include <cstring>
#include <vector>

#include <gdk/gdk.h>

#include "platform/linux/linux_embedded.h"
#include "platform/linux/linux_windows.h"
#include "resources/resource_ids.h"

namespace {

struct Context {
    bool live;
    cairo_t* target;     // null for a memory context and for a colour query
    GdiObject selected;  // the bitmap a memory context holds, 0 for none
    bool colourSet;
    std::uint32_t colour;
};

constexpr DrawContext FIRST_CONTEXT = 0x20000;
constexpr GdiObject FIRST_BITMAP = 0x30000;

std::vector<Context> g_contexts;
std::vector<GdkPixbuf*> g_bitmaps;  // null once deleted
cairo_t* g_dialogPaintTarget = nullptr;

Context* ContextOf(DrawContext dc) {
    if (dc < FIRST_CONTEXT) return nullptr;
    const auto index = static_cast<std::size_t>(dc - FIRST_CONTEXT);
    if (index >= g_contexts.size() || !g_contexts[index].live) return nullptr;
    return &g_contexts[index];
}

GdkPixbuf* BitmapOf(GdiObject bitmap) {
    if (bitmap < FIRST_BITMAP) return nullptr;
    const auto index = static_cast<std::size_t>(bitmap - FIRST_BITMAP);
    return index < g_bitmaps.size() ? g_bitmaps[index] : nullptr;
}

// Each paint takes two contexts and a bitmap and gives them back; once nothing is held the
// tables start afresh, so that they do not grow with every paint of a long session.
void ForgetReleased() {
    for (const Context& context : g_contexts)
        if (context.live) return;
    for (const GdkPixbuf* bitmap : g_bitmaps)
        if (bitmap != nullptr) return;
    g_contexts.clear();
    g_bitmaps.clear();
}

DrawContext NewContext(cairo_t* target) {
    g_contexts.push_back({true, target, 0, false, 0});
    return FIRST_CONTEXT + static_cast<DrawContext>(g_contexts.size() - 1);
}

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

DrawContext OpenPaintContext(cairo_t* target) { return NewContext(target); }

void ClosePaintContext(DrawContext dc) {
    if (Context* context = ContextOf(dc)) context->live = false;
    ForgetReleased();
}

bool PaintContextTextColour(DrawContext dc, std::uint32_t* colour) {
    const Context* context = ContextOf(dc);
    if (context == nullptr || !context->colourSet) return false;
    *colour = context->colour;
    return true;
}

void SetDialogPaintTarget(cairo_t* target) { g_dialogPaintTarget = target; }

int LivePaintObjects() {
    int live = 0;
    for (const Context& context : g_contexts) live += context.live ? 1 : 0;
    for (const GdkPixbuf* bitmap : g_bitmaps) live += bitmap != nullptr ? 1 : 0;
    return live;
}

// BeginPaint outside a paint of the dialog yields no context, and the drawing calls on it fail.
// The session carries the context to UiEndPaint.
DrawContext UiBeginPaint(WindowHandle window, PaintSession* session) {
    DrawContext dc = 0;
    if (g_dialogPaintTarget != nullptr && WidgetOf(window, WindowKind::Dialog) != nullptr) dc = NewContext(g_dialogPaintTarget);
    std::memcpy(session->storage, &dc, sizeof dc);
    return dc;
}

void UiEndPaint(WindowHandle, PaintSession* session) {
    DrawContext dc = 0;
    std::memcpy(&dc, session->storage, sizeof dc);
    ClosePaintContext(dc);
}

GdiObject UiLoadBitmap(ModuleHandle, std::uint16_t bitmapId) {
    if (bitmapId != IDB_LOGO) return 0;
    GdkPixbuf* pixbuf = DecodeEmbedded("bmp", LOGO_BMP, LOGO_BMP_SIZE);
    if (pixbuf == nullptr) return 0;
    g_bitmaps.push_back(pixbuf);
    return FIRST_BITMAP + static_cast<GdiObject>(g_bitmaps.size() - 1);
}

bool UiGetBitmapSize(GdiObject bitmap, std::int32_t* width, std::int32_t* height) {
    const GdkPixbuf* pixbuf = BitmapOf(bitmap);
    if (pixbuf == nullptr) return false;
    *width = gdk_pixbuf_get_width(pixbuf);
    *height = gdk_pixbuf_get_height(pixbuf);
    return true;
}

DrawContext UiCreateCompatibleDC(DrawContext) { return NewContext(nullptr); }

// Only bitmaps are selected by the logic. The previous selection comes back, 0 for none.
GdiObject UiSelectObject(DrawContext dc, GdiObject object) {
    Context* context = ContextOf(dc);
    if (context == nullptr || BitmapOf(object) == nullptr) return 0;
    const GdiObject previous = context->selected;
    context->selected = object;
    return previous;
}

// TransparentBlt: the source rectangle, every pixel of the key colour left out, stretched onto
// the destination rectangle. gdk_pixbuf_add_alpha gives exactly the key colour zero opacity.
// The stretch is filtered (Windows stretches by dropping pixels): cairo's premultiplied alpha
// keeps the left-out pixels' green out of the edges, so the logo's edges stay clean.
bool UiTransparentBlt(DrawContext destination, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      DrawContext source, std::int32_t sourceX, std::int32_t sourceY, std::int32_t sourceWidth,
                      std::int32_t sourceHeight, std::uint32_t transparentColour) {
    const Context* to = ContextOf(destination);
    const Context* from = ContextOf(source);
    if (to == nullptr || to->target == nullptr || from == nullptr) return false;
    GdkPixbuf* bitmap = BitmapOf(from->selected);
    if (bitmap == nullptr || width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0 || sourceX < 0 ||
        sourceY < 0 || sourceX > gdk_pixbuf_get_width(bitmap) - sourceWidth ||
        sourceY > gdk_pixbuf_get_height(bitmap) - sourceHeight)
        return false;
    GdkPixbuf* part = gdk_pixbuf_new_subpixbuf(bitmap, sourceX, sourceY, sourceWidth, sourceHeight);
    GdkPixbuf* keyed = gdk_pixbuf_add_alpha(part, TRUE, static_cast<guchar>(transparentColour & 0xFF),
                                            static_cast<guchar>((transparentColour >> 8) & 0xFF),
                                            static_cast<guchar>((transparentColour >> 16) & 0xFF));
    g_object_unref(part);
    if (keyed == nullptr) return false;
    cairo_t* cr = to->target;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, width, height);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, static_cast<double>(width) / sourceWidth, static_cast<double>(height) / sourceHeight);
    gdk_cairo_set_source_pixbuf(cr, keyed, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
    g_object_unref(keyed);
    return true;
}

void UiDeleteDC(DrawContext dc) { ClosePaintContext(dc); }

void UiDeleteObject(GdiObject object) {
    if (BitmapOf(object) == nullptr) return;
    const auto index = static_cast<std::size_t>(object - FIRST_BITMAP);
    g_object_unref(g_bitmaps[index]);
    g_bitmaps[index] = nullptr;
    ForgetReleased();
}

void UiSetTextColor(DrawContext dc, std::uint32_t colour) {
    if (Context* context = ContextOf(dc)) {
        context->colourSet = true;
        context->colour = colour;
    }
}

// GTK draws labels without a background of their own, which is what TRANSPARENT asks for.
void UiSetBkMode(DrawContext, int) {}
