// RegisterDeviceNotificationW for the HID class on udev. A monitor of the hidraw subsystem
// (hidraw nodes are the HID interfaces the program opens) on udevd's socket, so that an arrival
// comes after udev has run its rules, the uaccess tag among them: by then the node is the
// user's to open. Its socket is a source of the GLib main loop, dispatched on the dialog's
// thread: in the dialog's loop and in a message box's, never while the update holds the window
// system (linux_hold.h); meanwhile the events wait in the socket.
#include "platform/linux/linux_notify.h"

#include <libudev.h>

#include <cstddef>
#include <cstring>
#include <string>

#include <glib.h>

#include "platform/linux/linux_hold.h"
#include "platform/linux/linux_text.h"
#include "platform/linux/linux_windows.h"
#include "platform/window_constants.h"

namespace {

struct MonitorSource {
    GSource source;
    udev* context;
    udev_monitor* monitor;
    gpointer tag;
    GIOCondition watched;
    WindowHandle window;
};

// One registration at most: the dialog makes one.
MonitorSource* g_registration = nullptr;
constexpr NotifyHandle REGISTRATION = 0x4000;

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
    DeviceChange change;
    if (DeviceChangeFor(udev_device_get_action(device), udev_device_get_devnode(device), &change))
        MainDialogProc(monitor->window, WM_DEVICECHANGE, change.eventCode, reinterpret_cast<std::intptr_t>(change.Record()));
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

bool DeviceChangeFor(const char* action, const char* deviceNode, DeviceChange* change) {
    if (action == nullptr || deviceNode == nullptr || deviceNode[0] == 0) return false;
    if (std::strcmp(action, "add") == 0) {
        change->eventCode = DBT_DEVICEARRIVAL;
    } else if (std::strcmp(action, "remove") == 0) {
        change->eventCode = DBT_DEVICEREMOVECOMPLETE;
    } else {
        return false;
    }
    const std::u16string name = Utf16FromUtf8(deviceNode);
    // As long as the name needs, zero included, the way Windows delivers the record; the class
    // field stays zero, since udev names no interface class (the subsystem filter does that).
    const std::size_t size = offsetof(DeviceBroadcastInterface, dbcc_name) + (name.size() + 1) * sizeof(char16_t);
    change->storage.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    auto* record = reinterpret_cast<DeviceBroadcastInterface*>(change->storage.data());
    record->dbcc_size = static_cast<std::uint32_t>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(record->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    return true;
}

// 0 when udev cannot be reached (no netlink socket, a sandbox without it); the program then
// says it cannot follow the box and ends, as on Windows.
NotifyHandle UiRegisterHidNotifications(WindowHandle window) {
    if (g_registration != nullptr || WidgetOf(window) == nullptr) return 0;
    auto* monitor = reinterpret_cast<MonitorSource*>(g_source_new(&kMonitorFuncs, sizeof(MonitorSource)));
    monitor->context = udev_new();
    monitor->monitor = monitor->context != nullptr ? udev_monitor_new_from_netlink(monitor->context, "udev") : nullptr;
    monitor->tag = nullptr;
    monitor->watched = G_IO_IN;
    monitor->window = window;
    if (monitor->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor->monitor) < 0) {
        g_source_unref(&monitor->source);
        return 0;
    }
    monitor->tag = g_source_add_unix_fd(&monitor->source, udev_monitor_get_fd(monitor->monitor), G_IO_IN);
    g_source_attach(&monitor->source, nullptr);
    g_registration = monitor;
    return REGISTRATION;
}

void UiUnregisterNotifications(NotifyHandle notify) {
    if (notify != REGISTRATION || g_registration == nullptr) return;
    g_source_destroy(&g_registration->source);
    g_source_unref(&g_registration->source);
    g_registration = nullptr;
}
