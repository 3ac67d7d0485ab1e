#include "platform/linux/gtk/start.h"

#include <cstdio>

#include <gtk/gtk.h>

#include "platform/linux/session/display_loss.h"

// gtk_init_check without arguments: the program reads no command line, so no option of GTK's
// can change it either.
bool StartWindowSystem(const char* programName) {
    g_set_prgname(programName);
    g_set_application_name("VELTABOX Firmware Updater");
    if (gtk_init_check(nullptr, nullptr)) {
        WatchForDisplayLoss();
        return true;
    }
    std::fprintf(stderr, "%s: no display to show the dialog on (is DISPLAY or WAYLAND_DISPLAY set?)\n", programName);
    return false;
}
