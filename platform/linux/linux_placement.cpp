// Window rectangles, the frame metrics, Z order and the foreground window on GTK 3 (X11; on
// Wayland a program learns no screen positions and may not raise itself: the rectangles are
// then relative to the window, and raising is a request the compositor may ignore).
#include <gtk/gtk.h>

#include "platform/linux/linux_dialog.h"
#include "platform/linux/linux_windows.h"
#include "platform/window.h"
#include "platform/window_constants.h"

// GetWindowRect: a top-level window with its frame, a control by its allocation, both in screen
// coordinates. False for a window that is not on the screen yet.
bool UiGetWindowRect(WindowHandle window, WindowRect* rect) {
    GtkWidget* widget = WidgetOf(window);
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

// The logic uses the frame width and the caption height to go from the dialog's screen
// rectangle to the place its drawing starts. On Windows those are system-wide sizes; here they
// are what the window manager actually put around the dialog: the distance from the frame's
// corner to the window's own corner (0 and 0 without a window manager or with client-side
// decorations).
int UiGetSystemMetrics(int index) {
    GtkWidget* dialog = RunningDialog();
    GdkWindow* surface = dialog != nullptr ? gtk_widget_get_window(dialog) : nullptr;
    if (surface == nullptr || (index != SM_CXDLGFRAME && index != SM_CYCAPTION)) return 0;
    GdkRectangle frame;
    int originX = 0;
    int originY = 0;
    gdk_window_get_frame_extents(surface, &frame);
    gdk_window_get_origin(surface, &originX, &originY);
    return index == SM_CXDLGFRAME ? originX - frame.x : originY - frame.y;
}

// SetWindowPos(HWND_TOP, SWP_NOSIZE | SWP_NOMOVE): raised without being activated or moved.
void UiBringToTop(WindowHandle window) {
    GtkWidget* widget = WidgetOf(window);
    GdkWindow* surface = widget != nullptr && GTK_IS_WINDOW(widget) ? gtk_widget_get_window(widget) : nullptr;
    if (surface == nullptr) return;
    gdk_window_raise(surface);
    gdk_display_flush(gdk_window_get_display(surface));
}

namespace {

void NoteActive(WindowHandle window, GtkWidget* widget, void* data) {
    if (gtk_window_is_active(GTK_WINDOW(widget))) *static_cast<WindowHandle*>(data) = window;
}

}  // namespace

// GetForegroundWindow: the program's window that has the desktop's focus, 0 when another
// program's has it (the logic only compares the answer with its own windows).
WindowHandle UiGetForegroundWindow() {
    WindowHandle active = 0;
    ForEachTopLevel(NoteActive, &active);
    return active;
}
