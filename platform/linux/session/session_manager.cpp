// Logging out held off while the firmware is written: the session manager's inhibitor
// (org.gnome.SessionManager, which GNOME, Cinnamon, MATE and Budgie answer), asked for on the
// session bus and given back with its cookie. The session manager also drops it when the
// program's bus name goes, so a program that ends does not leave it behind. Logind cannot hold
// off a logout, and the desktop portal's Inhibit asks for a request object and its Response
// signal, for the same lock on the same desktops. Without a session manager (another desktop, a
// bare X session) logging out is not held off.
#include <cerrno>
#include <cstdio>

#include <gio/gio.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "platform/linux/session/inhibitors.h"

namespace {

constexpr gint CALL_TIMEOUT_MS = 3000;
// The session manager's flags: logging out, and suspending the session.
constexpr guint32 INHIBIT_LOGOUT = 1;
constexpr guint32 INHIBIT_SUSPEND = 4;

struct LogoutLock {
    unsigned generation;
    bool wanted;
    bool settled;
    bool released;
    guint32 cookie;  // 0: none held
    GDBusConnection* bus;
    std::string reason;
    guint32 window;
};

LogoutLock g_lock = {0, false, true, true, 0, nullptr, std::string(), 0};

void Report(const char* what, GError* error) {
    std::fprintf(stderr, "%s: logging out is not held off during the update (%s: %s)\n", program_invocation_short_name,
                 what, error != nullptr ? error->message : "no answer");
    g_clear_error(&error);
}

bool IsCurrent(gpointer generation) { return g_lock.wanted && GPOINTER_TO_UINT(generation) == g_lock.generation; }

void Settle(gpointer generation) {
    if (GPOINTER_TO_UINT(generation) == g_lock.generation) g_lock.settled = true;
}

void OnReleased(GObject* source, GAsyncResult* result, gpointer generation) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply != nullptr) g_variant_unref(reply);
    if (error != nullptr) Report("org.gnome.SessionManager Uninhibit", error);
    if (GPOINTER_TO_UINT(generation) == g_lock.generation) g_lock.released = true;
}

void Release(GDBusConnection* bus, guint32 cookie, gpointer generation) {
    g_dbus_connection_call(bus, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
                           "Uninhibit", g_variant_new("(u)", cookie), nullptr, G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS,
                           nullptr, OnReleased, generation);
}

// An answer that comes after the write has ended gives its lock back at once.
void OnInhibited(GObject* source, GAsyncResult* result, gpointer generation) {
    auto* bus = G_DBUS_CONNECTION(source);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(bus, result, &error);
    guint32 cookie = 0;
    if (reply != nullptr) {
        g_variant_get(reply, "(u)", &cookie);
        g_variant_unref(reply);
    }
    if (reply == nullptr && IsCurrent(generation)) Report("org.gnome.SessionManager Inhibit", error);
    else g_clear_error(&error);
    if (reply != nullptr && IsCurrent(generation)) {
        g_lock.cookie = cookie;
    } else if (reply != nullptr) {
        Release(bus, cookie, nullptr);
    }
    Settle(generation);
}

void OnSessionBus(GObject*, GAsyncResult* result, gpointer generation) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (bus == nullptr || !IsCurrent(generation)) {
        if (IsCurrent(generation)) Report("session bus", error);
        else g_clear_error(&error);
        if (bus != nullptr) g_object_unref(bus);
        Settle(generation);
        return;
    }
    if (g_lock.bus != nullptr) g_object_unref(g_lock.bus);
    g_lock.bus = bus;
    // The program's name as the desktop knows it: the session manager looks for a .desktop
    // file of that name for the icon it shows beside the reason.
    g_dbus_connection_call(bus, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
                           "Inhibit",
                           g_variant_new("(susu)", g_get_prgname(), g_lock.window, g_lock.reason.c_str(),
                                         INHIBIT_LOGOUT | INHIBIT_SUSPEND),
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, OnInhibited,
                           generation);
}

guint32 WindowIdOf(GtkWidget* toplevel) {
#ifdef GDK_WINDOWING_X11
    GdkWindow* window = toplevel != nullptr ? gtk_widget_get_window(toplevel) : nullptr;
    if (window != nullptr && GDK_IS_X11_WINDOW(window)) return static_cast<guint32>(gdk_x11_window_get_xid(window));
#endif
    return 0;
}

}  // namespace

void BeginLogoutLock(const std::string& reason, GtkWidget* toplevel) {
    if (g_lock.wanted) return;
    g_lock.generation += 1;
    g_lock.wanted = true;
    g_lock.settled = false;
    g_lock.released = true;
    g_lock.cookie = 0;
    g_lock.reason = reason;
    g_lock.window = WindowIdOf(toplevel);
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, OnSessionBus, GUINT_TO_POINTER(g_lock.generation));
}

bool LogoutLockSettled() { return g_lock.settled; }

void EndLogoutLock() {
    g_lock.wanted = false;
    if (g_lock.cookie == 0 || g_lock.bus == nullptr) return;
    g_lock.released = false;
    Release(g_lock.bus, g_lock.cookie, GUINT_TO_POINTER(g_lock.generation));
    g_lock.cookie = 0;
    // Handed to the bus before the write's end goes on: the program may end right after it (a
    // stop signal or a lost display kept for then), without a main loop to wait for the answer.
    g_dbus_connection_flush_sync(g_lock.bus, nullptr, nullptr);
}

bool LogoutLockReleased() { return g_lock.released; }
