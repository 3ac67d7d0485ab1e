// The progress window of the update on GTK 3: a top-level window owned by the dialog with a
// progress bar as its whole content, and the bar's position shown at once although the update
// takes no events (linux_hold.h says how the desktop is answered meanwhile).
#include <algorithm>

#include <gtk/gtk.h>

#include "platform/linux/linux_hold.h"
#include "platform/linux/linux_text.h"
#include "platform/linux/linux_windows.h"
#include "platform/window.h"

namespace {

// What the desktop adds around the owner's content (title bar, borders), so that the progress
// window's outer size comes out as asked; 0 where there is no frame (no window manager, or
// client-side decorations, which are part of the content).
void DecorationOf(GtkWidget* owner, int* width, int* height) {
    *width = 0;
    *height = 0;
    GdkWindow* window = owner != nullptr ? gtk_widget_get_window(owner) : nullptr;
    if (window == nullptr) return;
    GdkRectangle frame;
    gdk_window_get_frame_extents(window, &frame);
    *width = std::max(0, frame.width - gdk_window_get_width(window));
    *height = std::max(0, frame.height - gdk_window_get_height(window));
}

// Paints the bar now, into the window's surface, without the main loop: what UpdateWindow does
// on Windows. A new fraction asks for the bar to be laid out again, which the frame clock would
// do before its next paint; here the bar is given its own allocation again (its size asked for
// first, as GTK wants). gdk_window_begin_draw_frame is GDK's way of drawing outside the frame
// clock's cycle, and gtk_widget_draw draws the bar into it as its next frame would. The flush
// hands the drawing to the X server before the update goes on.
void PaintNow(GtkWidget* window) {
    GtkWidget* bar = gtk_bin_get_child(GTK_BIN(window));
    GdkWindow* surface = gtk_widget_get_window(window);
    if (bar == nullptr || surface == nullptr || !gtk_widget_get_mapped(bar)) return;
    GtkRequisition size;
    gtk_widget_get_preferred_size(bar, &size, nullptr);
    GtkAllocation allocation;
    gtk_widget_get_allocation(bar, &allocation);
    gtk_widget_size_allocate(bar, &allocation);
    const cairo_rectangle_int_t area = {allocation.x, allocation.y, allocation.width, allocation.height};
    cairo_region_t* region = cairo_region_create_rectangle(&area);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(surface, region);
    cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
    cairo_translate(cr, allocation.x, allocation.y);
    gtk_widget_draw(bar, cr);
    gdk_window_end_draw_frame(surface, context);
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(surface));
}

// The bar is the window's whole content, as the progress control is on Windows; GTK's own bar
// is a thin line, so its trough and fill are made as tall as the window leaves room for.
GtkWidget* FillingBar(int clientHeight) {
    constexpr int MARGIN = 4;
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_widget_set_margin_start(bar, MARGIN);
    gtk_widget_set_margin_end(bar, MARGIN);
    gtk_widget_set_valign(bar, GTK_ALIGN_CENTER);
    char css[128];
    g_snprintf(css, sizeof css, "progressbar trough, progressbar progress { min-height: %dpx; }",
               std::max(6, clientHeight - 2 * MARGIN - 4));
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    for (GtkWidget* widget : {bar}) {
        gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    g_object_unref(provider);
    return bar;
}

}  // namespace

// CreateWindowExW(msctls_progress32, WS_VISIBLE | PBS_SMOOTH): titled with the text, owned by
// the dialog (transient for it: kept above it, no taskbar entry, no close box), placed at x, y
// (the window manager places the frame's corner there) with the outer size asked for.
WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height, WindowHandle owner, ModuleHandle) {
    GtkWidget* ownerWidget = WidgetOf(owner);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), Utf8FromUtf16(text).c_str());
    if (ownerWidget != nullptr && GTK_IS_WINDOW(ownerWidget)) gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(ownerWidget));
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
    int decorationWidth = 0;
    int decorationHeight = 0;
    DecorationOf(ownerWidget, &decorationWidth, &decorationHeight);
    gtk_window_set_default_size(GTK_WINDOW(window), std::max(1, width - decorationWidth), std::max(1, height - decorationHeight));
    gtk_window_move(GTK_WINDOW(window), x, y);
    gtk_container_add(GTK_CONTAINER(window), FillingBar(std::max(1, height - decorationHeight)));
    const WindowHandle handle = AddWindow(window, WindowKind::Progress, 0);
    gtk_widget_show_all(window);
    return handle;
}

// PBM_SETPOS in the default range 0 to 100, then UpdateWindow. The held pass lets the desktop
// map, move and expose the window and answers it; the paint after it puts the position on the
// screen whatever the frame clock had planned.
void UiSetProgressPosition(WindowHandle progress, std::uint32_t position) {
    GtkWidget* window = WidgetOf(progress, WindowKind::Progress);
    if (window == nullptr) return;
    GtkWidget* bar = gtk_bin_get_child(GTK_BIN(window));
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), std::min<std::uint32_t>(position, 100) / 100.0);
    RunHeldPass();
    PaintNow(window);
}

// DestroyWindow. The progress window's end is the end of the transfer: one last held pass
// drops the input that came since the previous one. The dialog itself ends through
// UiEndDialog only.
void UiDestroyWindow(WindowHandle window) {
    if (GtkWidget* progress = WidgetOf(window, WindowKind::Progress)) {
        gtk_widget_destroy(progress);
        EndHold();
    } else if (GtkWidget* control = WidgetOf(window, WindowKind::Control)) {
        gtk_widget_destroy(control);
    }
}
