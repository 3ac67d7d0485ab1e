// The update's progress window, while it lives.
#pragma once

#include <gtk/gtk.h>

// Null when there is none.
GtkWidget* LiveProgressWindow();
