// The progress window of the update on GTK 3: a top-level window owned by the dialog with a
// progress bar as its whole content, and the bar's position shown at once although the update
// takes no events (hold.h says how the desktop is answered meanwhile).
#include <algorithm>

#include <gtk/gtk.h>

#include "platform/linux/gtk/progress.h"

#include "platform/linux/gtk/dialog.h"
#include "platform/linux/gtk/hold.h"
#include "platform/linux/gtk/text.h"
#include "platform/window.h"

namespace {

// The one progress window, null when there is none: the update makes one at a time.
GtkWidget* g_progress = nullptr;

void Forget(GtkWidget* window, gpointer) {
    if (window == g_progress) g_progress = nullptr;
}

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

// Set when the progress window's frame clock has painted a frame.
bool g_painted = false;
// The position the window was last seen painted with; -1 before its first frame.
int g_shown = -1;

void NotePainted(GdkFrameClock*, gpointer) { g_painted = true; }

bool Painted() { return g_painted; }

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
    gtk_style_context_add_provider(gtk_widget_get_style_context(bar), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    return bar;
}

}  // namespace

GtkWidget* LiveProgressWindow() { return g_progress; }

// Titled with the text, owned by the dialog (transient for it: kept above it, no taskbar entry,
// no close box), placed at x, y (the window manager places the frame's corner there) with the
// outer size asked for.
WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height) {
    if (g_progress != nullptr) return 0;
    GtkWidget* ownerWidget = RunningDialog();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), Utf8FromUtf16(text).c_str());
    if (ownerWidget != nullptr && GTK_IS_WINDOW(ownerWidget)) gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(ownerWidget));
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
    int decorationWidth = 0;
    int decorationHeight = 0;
    DecorationOf(ownerWidget, &decorationWidth, &decorationHeight);
    // A window that cannot be resized takes its content's size; the content is given exactly
    // the size that leaves the outer size asked for.
    gtk_widget_set_size_request(window, std::max(1, width - decorationWidth), std::max(1, height - decorationHeight));
    gtk_window_move(GTK_WINDOW(window), x, y);
    gtk_container_add(GTK_CONTAINER(window), FillingBar(std::max(1, height - decorationHeight)));
    g_progress = window;
    g_shown = -1;
    g_signal_connect(window, "destroy", G_CALLBACK(Forget), nullptr);
    gtk_widget_show_all(window);
    return HandleOf(window);
}

// The new fraction makes GTK ask
// its frame clock for a layout and a paint; the held pass then waits, with the window system
// held, until the clock has painted the frame, and the flush hands it to the display. The clock
// paints at most once per screen refresh (16.7 ms at 60 Hz), 50 ms bound the wait when the
// desktop keeps the window from painting (not mapped yet, a compositor that is behind).
// Windows' UpdateWindow, which paints without the loop, has no counterpart in GTK 3 that lays
// widgets out first.
// The position moves by one in about 13 blocks; a block that leaves it where it is asks for no
// frame. A frame asked for every 20 ms would wait for the one before: on Wayland the clock
// paints again only once the compositor has called back for the last frame, which at 60 Hz
// comes up to 26 ms after it, and the box's report after a block would be that much late.
void UiSetProgressPosition(WindowHandle progress, std::uint32_t position) {
    constexpr int PAINT_WAIT_MS = 50;
    GtkWidget* window = TopLevelOf(progress);
    if (window == nullptr || window != g_progress) return;
    const int wanted = static_cast<int>(std::min<std::uint32_t>(position, 100));
    if (wanted == g_shown) return;
    GtkWidget* bar = gtk_bin_get_child(GTK_BIN(window));
    GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
    g_painted = false;
    const gulong watch = clock != nullptr ? g_signal_connect(clock, "after-paint", G_CALLBACK(NotePainted), nullptr) : 0;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), wanted / 100.0);
    gtk_widget_queue_draw(window);
    RunHeldPassUntil(clock != nullptr && gtk_widget_get_mapped(window) ? Painted : nullptr, PAINT_WAIT_MS);
    if (watch != 0) g_signal_handler_disconnect(clock, watch);
    g_shown = g_painted ? wanted : -1;
    gdk_display_flush(gtk_widget_get_display(window));
}

// Its end is the end of the transfer: one last held pass drops the input that came since the
// previous one.
void UiCloseProgressWindow(WindowHandle progress) {
    if (g_progress == nullptr || TopLevelOf(progress) != g_progress) return;
    gtk_widget_destroy(g_progress);
    EndHold();
}
