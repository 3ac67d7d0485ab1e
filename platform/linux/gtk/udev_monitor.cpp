// The watch on HID interfaces: a monitor of the hidraw subsystem (hidraw nodes are the HID
// interfaces the program opens) on udevd's socket, so that an arrival comes after udev has run
// its rules, the uaccess tag among them: by then the node is the user's to open. Its socket is a
// source of the GLib main loop, dispatched on the dialog's thread: in the dialog's loop and in a
// message box's, never while the update holds the window system (hold.h); meanwhile the
// events wait in the socket.
#include "platform/linux/gtk/udev_monitor.h"

#include <libudev.h>

#include <cstring>

#include <glib.h>

#include "platform/linux/gtk/hold.h"
#include "platform/linux/gtk/text.h"
#include "platform/window.h"

namespace {

struct MonitorSource {
    GSource source;
    udev* context;
    udev_monitor* monitor;
    gpointer tag;
    GIOCondition watched;
};

// One watch at most: the dialog makes one.
MonitorSource* g_watch = nullptr;
constexpr NotifyHandle WATCH = 0x4000;

// A source with a descriptor is dispatched whenever the descriptor polls ready, whatever its
// check says; so while held the socket is not polled for input at all. The watch is changed
// only when the hold begins or ends: each change wakes the loop up once.
gboolean Prepare(GSource* source, gint* timeout) {
    auto* monitor = reinterpret_cast<MonitorSource*>(source);
    const GIOCondition wanted = IsHeld() ? static_cast<GIOCondition>(0) : G_IO_IN;
    if (monitor->watched != wanted) {
        g_source_modify_unix_fd(source, monitor->tag, wanted);
        monitor->watched = wanted;
    }
    *timeout = -1;
    return FALSE;
}

gboolean Check(GSource* source) {
    const auto* monitor = reinterpret_cast<MonitorSource*>(source);
    return !IsHeld() && (g_source_query_unix_fd(source, monitor->tag) & G_IO_IN) != 0;
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    const auto* monitor = reinterpret_cast<MonitorSource*>(source);
    udev_device* device = udev_monitor_receive_device(monitor->monitor);
    if (device == nullptr) return G_SOURCE_CONTINUE;
    InterfaceEvent event;
    if (InterfaceEventFor(udev_device_get_action(device), udev_device_get_devnode(device), &event)) {
        if (event.arrival) OnInterfaceArrival(event.path.c_str());
        else OnInterfaceRemoval(event.path.c_str());
    }
    udev_device_unref(device);
    return G_SOURCE_CONTINUE;
}

void Finalize(GSource* source) {
    auto* monitor = reinterpret_cast<MonitorSource*>(source);
    if (monitor->monitor != nullptr) udev_monitor_unref(monitor->monitor);
    if (monitor->context != nullptr) udev_unref(monitor->context);
}

GSourceFuncs kMonitorFuncs = {Prepare, Check, Dispatch, Finalize, nullptr, nullptr};

}  // namespace

bool InterfaceEventFor(const char* action, const char* deviceNode, InterfaceEvent* event) {
    if (action == nullptr || deviceNode == nullptr || deviceNode[0] == 0) return false;
    if (std::strcmp(action, "add") == 0) {
        event->arrival = true;
    } else if (std::strcmp(action, "remove") == 0) {
        event->arrival = false;
    } else {
        return false;
    }
    event->path = Utf16FromUtf8(deviceNode);
    return true;
}

// 0 when udev cannot be reached (no netlink socket, a sandbox without it); the program then
// says it cannot follow the box and ends, as on Windows.
NotifyHandle UiWatchHidInterfaces() {
    if (g_watch != nullptr) return 0;
    auto* monitor = reinterpret_cast<MonitorSource*>(g_source_new(&kMonitorFuncs, sizeof(MonitorSource)));
    monitor->context = udev_new();
    monitor->monitor = monitor->context != nullptr ? udev_monitor_new_from_netlink(monitor->context, "udev") : nullptr;
    monitor->tag = nullptr;
    monitor->watched = G_IO_IN;
    if (monitor->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor->monitor) < 0) {
        g_source_unref(&monitor->source);
        return 0;
    }
    monitor->tag = g_source_add_unix_fd(&monitor->source, udev_monitor_get_fd(monitor->monitor), G_IO_IN);
    g_source_attach(&monitor->source, nullptr);
    g_watch = monitor;
    return WATCH;
}

void UiStopWatching(NotifyHandle watch) {
    if (watch != WATCH || g_watch == nullptr) return;
    g_source_destroy(&g_watch->source);
    g_source_unref(&g_watch->source);
    g_watch = nullptr;
}
