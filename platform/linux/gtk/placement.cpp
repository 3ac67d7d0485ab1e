// Window rectangles, the dialog's frame, Z order and the foreground window on GTK 3 (X11; on
// Wayland a program learns no screen positions and may not raise itself: the rectangles are
// then relative to the window, and raising is a request the compositor may ignore).
#include <gtk/gtk.h>

#include <initializer_list>

#include "platform/linux/gtk/dialog.h"
#include "platform/linux/gtk/progress.h"
#include "platform/window.h"

namespace {

// A top-level window with its frame, a control by its allocation, both in screen coordinates.
// False for a window that is not on the screen yet.
bool ScreenRectOf(GtkWidget* widget, WindowRect* rect) {
    GtkWidget* toplevel = widget != nullptr ? gtk_widget_get_toplevel(widget) : nullptr;
    GdkWindow* surface = toplevel != nullptr ? gtk_widget_get_window(toplevel) : nullptr;
    if (surface == nullptr || !gtk_widget_get_realized(widget)) return false;
    if (widget == toplevel) {
        GdkRectangle frame;
        gdk_window_get_frame_extents(surface, &frame);
        *rect = {frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
        return true;
    }
    int originX = 0;
    int originY = 0;
    int x = 0;
    int y = 0;
    gdk_window_get_origin(surface, &originX, &originY);
    if (!gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y)) return false;
    *rect = {originX + x, originY + y, originX + x + gtk_widget_get_allocated_width(widget),
             originY + y + gtk_widget_get_allocated_height(widget)};
    return true;
}

}  // namespace

bool UiGetWindowRect(WindowHandle window, WindowRect* rect) {
    GtkWidget* widget = TopLevelOf(window);
    return widget != nullptr && ScreenRectOf(widget, rect);
}

bool UiGetControlRect(int controlId, WindowRect* rect) {
    GtkWidget* widget = ControlWidget(controlId);
    return widget != nullptr && ScreenRectOf(widget, rect);
}

// The logic uses the frame width and the caption height to go from the dialog's screen
// rectangle to the place its drawing starts. On Windows those are system-wide sizes; here they
// are what the window manager actually put around the dialog: the distance from the frame's
// corner to the window's own corner (0 and 0 without a window manager or with client-side
// decorations).
void UiGetDialogFrame(std::int32_t* frameWidth, std::int32_t* captionHeight) {
    *frameWidth = 0;
    *captionHeight = 0;
    GtkWidget* dialog = RunningDialog();
    GdkWindow* surface = dialog != nullptr ? gtk_widget_get_window(dialog) : nullptr;
    if (surface == nullptr) return;
    GdkRectangle frame;
    int originX = 0;
    int originY = 0;
    gdk_window_get_frame_extents(surface, &frame);
    gdk_window_get_origin(surface, &originX, &originY);
    *frameWidth = originX - frame.x;
    *captionHeight = originY - frame.y;
}

// Raised without being activated or moved.
void UiBringToTop(WindowHandle window) {
    GtkWidget* widget = TopLevelOf(window);
    GdkWindow* surface = widget != nullptr ? gtk_widget_get_window(widget) : nullptr;
    if (surface == nullptr) return;
    gdk_window_raise(surface);
    gdk_display_flush(gdk_window_get_display(surface));
}

// Raised and activated, which the desktop may refuse (focus-stealing prevention, Wayland):
// gtk_window_present asks, it cannot insist.
void UiShowWindow(WindowHandle window) {
    if (GtkWidget* widget = TopLevelOf(window)) gtk_window_present(GTK_WINDOW(widget));
}

// The program's window that has the desktop's focus, 0 when another program's has it (the logic
// only compares the answer with its own windows).
WindowHandle UiForegroundWindow() {
    for (GtkWidget* window : {RunningDialog(), LiveProgressWindow()})
        if (window != nullptr && gtk_window_is_active(GTK_WINDOW(window))) return HandleOf(window);
    return 0;
}
