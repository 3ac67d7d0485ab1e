// The device path of a HID interface on Linux: its hidraw node exactly as udev names it
// (udev_device_get_devnode, "/dev/hidraw3"), carried as UTF-16 like every path of the logic.
// That is also the name a udev removal event carries for the node, so the logic's comparison
// of the two finds the held box.
#pragma once

#include <cstdint>
#include <string>

// The kernel names hidraw nodes hidraw<N> in /dev and udev cannot rename them, so a node's name
// is ASCII. These refuse anything else rather than guess at an encoding: false for a name with a
// byte or a code unit outside ASCII.
bool NodePathToUtf16(const char* node, std::u16string* path);
bool NodePathFromUtf16(const char16_t* path, std::string* node);

// The USB vendor and product IDs in udev's HID_ID of a HID device ("0003:000021B8:00000001": bus,
// vendor, product in hexadecimal). False for a device on another bus (Bluetooth, I2C), which has
// no USB IDs, and for a value that is not of that form.
bool UsbIdsFromHidId(const char* hidId, std::uint16_t* vendorId, std::uint16_t* productId);
