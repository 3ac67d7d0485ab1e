// The console programs' watch on hidraw nodes: udev's monitor (the "udev" source, so that an
// arrival comes after udev has run its rules and the node has its group and mode), polled
// together with the stop requests' pipe. A node's add and remove come in the order udev sent
// them, so a box pulled out and another plugged in on the same node within one wait are two
// changes, never none.
#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "platform/console.h"
#include "platform/linux/console/console_wake.h"
#include "platform/linux/hidraw/hidraw_path.h"

struct InterfaceWatch {
    udev* context;
    udev_monitor* monitor;
};

namespace {

// Room for the events of a few hundred boxes arriving at once; beyond it the kernel drops
// events and says so (ENOBUFS), and the caller lists the boxes instead.
constexpr int RECEIVE_BUFFER_BYTES = 4 * 1024 * 1024;

void Free(InterfaceWatch* watch) {
    if (watch->monitor != nullptr) udev_monitor_unref(watch->monitor);
    if (watch->context != nullptr) udev_unref(watch->context);
    delete watch;
}

}  // namespace

InterfaceWatch* ConsoleWatchInterfaces() {
    auto* watch = new InterfaceWatch{udev_new(), nullptr};
    if (watch->context != nullptr) watch->monitor = udev_monitor_new_from_netlink(watch->context, "udev");
    if (watch->monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(watch->monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(watch->monitor) < 0) {
        Free(watch);
        return nullptr;
    }
    // Only root may raise it past the system's limit; below that the default stands.
    udev_monitor_set_receive_buffer_size(watch->monitor, RECEIVE_BUFFER_BYTES);
    return watch;
}

bool ConsoleWaitForChanges(InterfaceWatch* watch, std::uint32_t milliseconds, std::vector<InterfaceChange>* changes) {
    pollfd ready[2] = {{udev_monitor_get_fd(watch->monitor), POLLIN, 0}, {ConsoleWakeDescriptor(), POLLIN, 0}};
    const int answered = poll(ready, ready[1].fd >= 0 ? 2 : 1, static_cast<int>(milliseconds));
    if (answered < 0) return errno == EINTR;
    if (ready[1].fd >= 0 && (ready[1].revents & POLLIN) != 0) ConsoleDrainWake();
    if ((ready[0].revents & (POLLERR | POLLNVAL)) != 0) return false;
    if ((ready[0].revents & POLLIN) == 0) return true;
    // The monitor's socket does not block: it hands out what has come and then nothing.
    for (;;) {
        errno = 0;
        udev_device* device = udev_monitor_receive_device(watch->monitor);
        if (device == nullptr) return errno != ENOBUFS;
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        InterfaceChange change;
        const bool arrival = action != nullptr && std::strcmp(action, "add") == 0;
        const bool removal = action != nullptr && std::strcmp(action, "remove") == 0;
        if ((arrival || removal) && node != nullptr && NodePathToUtf16(node, &change.path)) {
            change.arrival = arrival;
            changes->push_back(std::move(change));
        }
        udev_device_unref(device);
    }
}

void ConsoleEndWatch(InterfaceWatch* watch) {
    if (watch != nullptr) Free(watch);
}
