// The one modal dialog that UiRunDialog runs, for the parts of the backend that need it.
#pragma once

#include <gtk/gtk.h>

#include "platform/window.h"

// The dialog's window while UiRunDialog runs, null before and after.
GtkWidget* RunningDialog();
