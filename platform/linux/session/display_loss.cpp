#include "platform/linux/session/display_loss.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace {

bool g_holding = false;
bool g_lost = false;
struct sigaction g_pipeBefore;

#ifdef GDK_WINDOWING_X11
XIOErrorHandler g_gdkHandler = nullptr;

int OnLostDisplay(Display* display) {
    if (!g_holding && g_gdkHandler != nullptr) return g_gdkHandler(display);
    if (!g_lost)
        std::fprintf(stderr, "%s: lost the connection to the display; the firmware is written to the end first\n",
                     program_invocation_short_name);
    g_lost = true;
    return 0;
}

// Returning leaves the display dead instead of ending the process; outside the write that is
// never wanted.
void AfterLostDisplay(Display*, void*) {
    if (!g_holding) _exit(1);
}
#endif

}  // namespace

void WatchForDisplayLoss() {
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
    g_gdkHandler = XSetIOErrorHandler(OnLostDisplay);
    XSetIOErrorExitHandler(gdk_x11_display_get_xdisplay(display), AfterLostDisplay, nullptr);
#endif
}

// A request written to a display that has gone raises SIGPIPE before Xlib sees the error; during
// the write that must not end the program either.
void HoldOffDisplayLoss(bool holding) {
    if (holding == g_holding) return;
    g_holding = holding;
    if (holding) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &g_pipeBefore);
    } else {
        sigaction(SIGPIPE, &g_pipeBefore, nullptr);
    }
}

bool DisplayLost() { return g_lost; }

void EndIfDisplayLost() {
    if (g_lost) _exit(1);
}
