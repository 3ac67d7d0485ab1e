// The main dialog of template IDD_MAIN (resources/app.rc), built from GTK containers.
#pragma once

#include <gtk/gtk.h>

#include <map>

#include "platform/window.h"

// The "Hinweisfenster:" label has no id of its own: IDC_STATIC in the template, which
// resources/app.rc defines for itself rather than in resource_ids.h.
constexpr int ID_HINT_LABEL = -1;

struct MainDialogWidgets {
    GtkWidget* window;
    GtkWidget* logoArea;  // the empty space right of the version group, where the logo goes
    std::map<int, GtkWidget*> controls;  // by their IDs
};

// Creates the window and its eleven controls, with the template's ids, texts and states, each
// named by its id for accessibility. Nothing is shown yet.
MainDialogWidgets BuildMainDialog();
