#include "platform/linux/linux_hid_denied.h"

#include <libudev.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// "0003:000021B8:00000001" and the device's name, from the HID device above the node; empty
// when udev does not know them. A node that may not be opened can still be looked at: stat
// needs no permission on the node itself.
std::string Identity(const char* node) {
    struct stat status;
    if (stat(node, &status) != 0 || !S_ISCHR(status.st_mode)) return std::string();
    udev* context = udev_new();
    if (context == nullptr) return std::string();
    std::string identity;
    udev_device* device = udev_device_new_from_devnum(context, 'c', status.st_rdev);
    udev_device* hid = device != nullptr ? udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr) : nullptr;
    const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    const char* name = hid != nullptr ? udev_device_get_property_value(hid, "HID_NAME") : nullptr;
    if (id != nullptr) identity = std::string(" (") + id + (name != nullptr ? std::string(", ") + name : std::string()) + ")";
    if (device != nullptr) udev_device_unref(device);  // the parent belongs to it
    udev_unref(context);
    return identity;
}

}  // namespace

void SayNodeDenied(const char* node, int error) {
    const int saved = errno;
    std::fprintf(stderr,
                 "%s: cannot open %s%s: %s; passed over. A VELTABOX needs the udev rule 70-veltabox.rules, "
                 "which gives the logged-in user access to it; install it and plug the box in again.\n",
                 program_invocation_short_name, node, Identity(node).c_str(), std::strerror(error));
    errno = saved;
}
