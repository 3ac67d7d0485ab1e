// The one modal dialog that UiRunDialog runs, the windows and controls the logic names, and the
// gate through which GTK's events reach the logic.
#pragma once

#include <gtk/gtk.h>

#include "platform/window.h"

// The dialog's window while UiRunDialog runs, null before and after, and once another X client
// destroyed it.
GtkWidget* RunningDialog();
// True from the moment the running dialog's window was destroyed from outside.
bool DialogGone();
// The dialog's control with that ID; null when no dialog runs or it has no such control.
GtkWidget* ControlWidget(int controlId);
// The logic's name for a top-level window is the widget's address. Named back only while it is
// the running dialog or the live progress window: a stale or foreign value is refused without
// ever being followed.
WindowHandle HandleOf(GtkWidget* window);
GtkWidget* TopLevelOf(WindowHandle window);
// The gate: true when an event may reach the logic now. Not while the update holds the window
// system (hold.h: input is dropped then, device events wait in their socket), nor once the
// dialog has been ended.
bool LogicTakesEvents();
