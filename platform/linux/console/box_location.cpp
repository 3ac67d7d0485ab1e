// A box's place on the USB bus, from udev: the name of the USB device above its hidraw node
// ("1-2.3": bus 1, port 2, then port 3 of a hub), which stays the same as long as the box is
// plugged into the same port.
#include <libudev.h>

#include <string>

#include "platform/console.h"
#include "platform/linux/hidraw/hidraw_path.h"

std::string BoxLocation(const std::u16string& path) {
    std::string node;
    if (!NodePathFromUtf16(path.c_str(), &node)) return std::string();
    const std::size_t slash = node.rfind('/');
    const std::string name = slash == std::string::npos ? node : node.substr(slash + 1);
    udev* context = udev_new();
    if (context == nullptr) return std::string();
    std::string location;
    udev_device* device = udev_device_new_from_subsystem_sysname(context, "hidraw", name.c_str());
    // The parent belongs to the device.
    udev_device* usb = device != nullptr ? udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") : nullptr;
    const char* sysname = usb != nullptr ? udev_device_get_sysname(usb) : nullptr;
    if (sysname != nullptr) location = sysname;
    if (device != nullptr) udev_device_unref(device);
    udev_unref(context);
    return location;
}
