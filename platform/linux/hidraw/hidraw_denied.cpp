#include "platform/linux/hidraw/hidraw_denied.h"

#include <libudev.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/interface_candidate.h"
#include "platform/linux/hidraw/hidraw_path.h"

namespace {

// HID_ID ("0003:000021B8:00000001") and HID_NAME of the HID device above the node; empty when
// udev does not know them. A node that may not be opened can still be looked at: stat needs no
// permission on the node itself.
struct Identity {
    std::string id;
    std::string name;
};

Identity IdentityOf(const char* node) {
    Identity identity;
    struct stat status;
    if (stat(node, &status) != 0 || !S_ISCHR(status.st_mode)) return identity;
    udev* context = udev_new();
    if (context == nullptr) return identity;
    udev_device* device = udev_device_new_from_devnum(context, 'c', status.st_rdev);
    udev_device* hid = device != nullptr ? udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr) : nullptr;
    const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    const char* name = hid != nullptr ? udev_device_get_property_value(hid, "HID_NAME") : nullptr;
    if (id != nullptr) identity.id = id;
    if (name != nullptr) identity.name = name;
    if (device != nullptr) udev_device_unref(device);  // the parent belongs to it
    udev_unref(context);
    return identity;
}

// The search's own test of the IDs, so that the line names exactly the devices it would take.
bool IsListedBox(const Identity& identity) {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    return UsbIdsFromHidId(identity.id.c_str(), &vendor, &product) && IsBox(vendor, product);
}

}  // namespace

std::string DeniedNodeAdvice(const char* node, int error) {
    const int saved = errno;
    const Identity identity = IdentityOf(node);
    std::string advice;
    if (IsListedBox(identity)) {
        const std::string described = " (" + identity.id + (identity.name.empty() ? "" : ", " + identity.name) + ")";
        advice = std::string(program_invocation_short_name) + ": cannot open " + node + described + ": " + std::strerror(error) +
                 "; passed over. A VELTABOX needs the udev rule 70-veltabox.rules of the veltabox-updater package, which "
                 "gives the user logged in at the screen access to it.";
    }
    errno = saved;
    return advice;
}
