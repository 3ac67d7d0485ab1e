// The windows the logic holds handles to: the dialog, its controls and the progress window. A
// handle is a slot number in this table, never a pointer, so that a stale or foreign value is
// recognised instead of being followed. Slots are not reused within a run.
#pragma once

#include <gtk/gtk.h>

#include "platform/window.h"

enum class WindowKind { Dialog, Control, Progress };

// Takes note of a widget; the slot empties itself when GTK destroys the widget.
WindowHandle AddWindow(GtkWidget* widget, WindowKind kind, int controlId);
// The widget behind a handle, or null for a handle that names nothing (any more).
GtkWidget* WidgetOf(WindowHandle window);
// Only when the handle names a widget of that kind.
GtkWidget* WidgetOf(WindowHandle window, WindowKind kind);
// The first live control with that id (GetDlgItem's rule), 0 when there is none.
WindowHandle ControlHandle(int controlId);
// Every live top-level window's handle (dialog and progress windows), for the foreground test.
void ForEachTopLevel(void (*visit)(WindowHandle window, GtkWidget* widget, void* data), void* data);
