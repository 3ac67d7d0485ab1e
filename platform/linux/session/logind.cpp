// Sleep, shutdown, idling and the lid switch held off while the firmware is written: a "block"
// inhibitor lock of systemd-logind, taken over the system bus and held as long as the file
// descriptor logind hands back stays open.
//
// logind rather than gtk_application_inhibit: the latter needs the program to be a registered
// GtkApplication (and so a single instance) and goes through the session manager, which holds
// off logging out at best; logind blocks suspend (lid, key, idle, `systemctl suspend`) and
// shutdown for every desktop, as SetThreadExecutionState and ShutdownBlockReasonCreate do on
// Windows. Logging out is the session manager's (session_manager.cpp). Without logind or a
// system bus (a container, another init system) nothing is held.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "platform/linux/session/inhibitors.h"

namespace {

// Long enough for logind to be started on demand, short enough not to keep the user waiting
// when the bus does not answer.
constexpr gint CALL_TIMEOUT_MS = 3000;

struct LogindLock {
    unsigned generation;  // of the write that asked; a later write's lock is not this one's
    bool wanted;          // the write is still going on
    bool settled;
    int descriptor;
    std::string reason;
};

LogindLock g_lock = {0, false, true, -1, std::string()};

void Report(const char* what, GError* error) {
    std::fprintf(stderr, "%s: sleep and shutdown are not held off during the update (%s: %s)\n",
                 program_invocation_short_name, what, error != nullptr ? error->message : "no answer");
    g_clear_error(&error);
}

bool IsCurrent(gpointer generation) { return g_lock.wanted && GPOINTER_TO_UINT(generation) == g_lock.generation; }

void Settle(gpointer generation) {
    if (GPOINTER_TO_UINT(generation) == g_lock.generation) g_lock.settled = true;
}

// The connection is closed again at once: the lock lives in the descriptor, not in the
// connection, and nothing of the bus stays open between updates.
void Drop(GDBusConnection* bus) {
    g_dbus_connection_close(bus, nullptr, nullptr, nullptr);
    g_object_unref(bus);
}

void OnInhibited(GObject* source, GAsyncResult* result, gpointer generation) {
    auto* bus = G_DBUS_CONNECTION(source);
    GError* error = nullptr;
    GUnixFDList* descriptors = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(bus, &descriptors, result, &error);
    int descriptor = -1;
    if (reply != nullptr) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        if (descriptors != nullptr) descriptor = g_unix_fd_list_get(descriptors, index, &error);
    }
    if (descriptors != nullptr) g_object_unref(descriptors);
    if (IsCurrent(generation) && descriptor >= 0) {
        g_lock.descriptor = descriptor;
    } else {
        if (IsCurrent(generation)) Report("logind Inhibit", error);
        else g_clear_error(&error);
        if (descriptor >= 0) close(descriptor);
    }
    Settle(generation);
    Drop(bus);
}

void OnConnected(GObject*, GAsyncResult* result, gpointer generation) {
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_finish(result, &error);
    if (bus == nullptr || !IsCurrent(generation)) {
        if (IsCurrent(generation)) Report("system bus", error);
        else g_clear_error(&error);
        if (bus != nullptr) Drop(bus);
        Settle(generation);
        return;
    }
    g_dbus_connection_call_with_unix_fd_list(
        bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
        g_variant_new("(ssss)", "sleep:shutdown:idle:handle-lid-switch", "VELTABOX Firmware Updater",
                      g_lock.reason.c_str(), "block"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, nullptr, OnInhibited, generation);
}

}  // namespace

void BeginLogindLock(const std::string& reason) {
    if (g_lock.wanted) return;
    g_lock.generation += 1;
    g_lock.wanted = true;
    g_lock.settled = false;
    g_lock.reason = reason;
    const gpointer generation = GUINT_TO_POINTER(g_lock.generation);
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (address == nullptr) {
        Report("no system bus", error);
        g_lock.settled = true;
        return;
    }
    g_dbus_connection_new_for_address(address,
                                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                      nullptr, nullptr, OnConnected, generation);
    g_free(address);
}

bool LogindLockSettled() { return g_lock.settled; }

void EndLogindLock() {
    g_lock.wanted = false;
    if (g_lock.descriptor >= 0) close(g_lock.descriptor);
    g_lock.descriptor = -1;
}
