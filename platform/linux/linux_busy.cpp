// Sleep and shutdown held off while the firmware is written: a "block" inhibitor lock of
// systemd-logind for "sleep:shutdown", taken over the system bus and held as long as the file
// descriptor logind hands back stays open.
//
// logind rather than gtk_application_inhibit: the latter needs the program to be a registered
// GtkApplication and goes through the session manager, which on most desktops other than GNOME
// holds off logging out at best and without one does nothing; logind blocks suspend (lid, key,
// idle, `systemctl suspend`) and shutdown for every desktop, as SetThreadExecutionState and
// ShutdownBlockReasonCreate do on Windows. Without logind or a system bus (a container, another
// init system) nothing is held: the update runs as it would, and standard error says so.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "platform/linux/linux_text.h"
#include "platform/window.h"

namespace {

// Long enough for logind to be started on demand, short enough not to keep the user waiting
// when the bus does not answer.
constexpr gint CALL_TIMEOUT_MS = 3000;

int g_inhibitor = -1;

void Report(const char* what, GError* error) {
    std::fprintf(stderr, "%s: sleep and shutdown are not held off during the update (%s: %s)\n",
                 program_invocation_short_name, what, error != nullptr ? error->message : "no answer");
    if (error != nullptr) g_error_free(error);
}

// A connection of its own, closed again at once: the lock lives in the descriptor, not in the
// connection, and nothing of the bus stays open between updates.
GDBusConnection* ConnectSystemBus() {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (address == nullptr) {
        Report("no system bus", error);
        return nullptr;
    }
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_free(address);
    if (bus == nullptr) Report("system bus", error);
    return bus;
}

int Inhibit(GDBusConnection* bus, const char16_t* reason) {
    GError* error = nullptr;
    GUnixFDList* descriptors = nullptr;
    const std::string why = Utf8FromUtf16(reason);
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
        g_variant_new("(ssss)", "sleep:shutdown", "VELTABOX Firmware Updater", why.c_str(), "block"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, &descriptors, nullptr, &error);
    if (reply == nullptr) {
        Report("logind Inhibit", error);
        return -1;
    }
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    const int descriptor = descriptors != nullptr ? g_unix_fd_list_get(descriptors, index, &error) : -1;
    if (descriptors != nullptr) g_object_unref(descriptors);
    if (descriptor < 0) Report("logind Inhibit", error);
    return descriptor;
}

}  // namespace

void UiBeginBusy(WindowHandle, const char16_t* reason) {
    if (g_inhibitor >= 0) return;
    GDBusConnection* bus = ConnectSystemBus();
    if (bus == nullptr) return;
    g_inhibitor = Inhibit(bus, reason);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
}

void UiEndBusy(WindowHandle) {
    if (g_inhibitor < 0) return;
    close(g_inhibitor);
    g_inhibitor = -1;
}
