// What tells one box from another on Linux, from udev without opening the node: the device's
// path in sysfs, which names its HID device by a number the kernel never gives twice while it
// runs, and the USB serial number.
#include <libudev.h>

#include <cerrno>
#include <string>

#include "platform/console.h"
#include "platform/linux/hidraw/hidraw_denied.h"
#include "platform/linux/hidraw/hidraw_path.h"
#include "platform/serial_number.h"

namespace {

// The hidraw device behind the node, by the node's name; the caller unrefs it and its context.
udev_device* DeviceOf(const std::u16string& path, udev** context) {
    std::string node;
    *context = nullptr;
    if (!NodePathFromUtf16(path.c_str(), &node)) return nullptr;
    const std::size_t slash = node.rfind('/');
    *context = udev_new();
    if (*context == nullptr) return nullptr;
    return udev_device_new_from_subsystem_sysname(*context, "hidraw", node.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
}

void Release(udev_device* device, udev* context) {
    if (device != nullptr) udev_device_unref(device);
    if (context != nullptr) udev_unref(context);
}

}  // namespace

std::string BoxInstance(const std::u16string& path) {
    udev* context;
    udev_device* device = DeviceOf(path, &context);
    const char* syspath = device != nullptr ? udev_device_get_syspath(device) : nullptr;
    std::string instance = syspath != nullptr ? syspath : "";
    Release(device, context);
    return instance;
}

// The USB device's own "serial" attribute, which the kernel read from the device's string
// descriptor; where the box is not seen as a USB device, the HID device's HID_UNIQ.
std::string BoxSerial(const std::u16string& path) {
    udev* context;
    udev_device* device = DeviceOf(path, &context);
    std::string serial;
    if (device != nullptr) {
        // The parents belong to the device.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        const char* attribute = usb != nullptr ? udev_device_get_sysattr_value(usb, "serial") : nullptr;
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
        const char* uniq = hid != nullptr ? udev_device_get_property_value(hid, "HID_UNIQ") : nullptr;
        serial = UsableSerialNumber(attribute != nullptr && *attribute != 0 ? attribute : uniq != nullptr ? uniq : "");
    }
    Release(device, context);
    return serial;
}

std::string ConsoleDeniedAdvice(const std::u16string& path) {
    std::string node;
    return NodePathFromUtf16(path.c_str(), &node) ? DeniedNodeAdvice(node.c_str(), EACCES) : std::string();
}

// The console programs' boxes' threads never write to a stream: a node they may not open is
// told through the program's own output, with ConsoleDeniedAdvice.
void SayNodeDenied(const char*, int) {}
