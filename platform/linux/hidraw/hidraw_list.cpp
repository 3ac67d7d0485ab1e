// The enumeration half of platform/hid.h on libudev: the list of present HID interfaces is the
// hidraw nodes that udev knows when the list is made.
//
// The order is the nodes' device numbers (major, then minor). The kernel gives each hidraw node
// the lowest free minor, which is also the number in its name, so the order is the one in which
// the devices were attached where nothing was pulled out in between, and it stays the same from
// one search to the next. udev's own order (by sysfs path) and the order of the names would put
// /dev/hidraw10 before /dev/hidraw2.
#include "platform/hid.h"

#include <libudev.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/hidraw/hidraw_path.h"

namespace {

// A node and, from udev's HID_ID of the HID device above it, the USB IDs: known without opening
// the node, so that the search never opens the user's other HID devices.
struct Node {
    dev_t number;
    std::u16string path;
    bool usb;
    std::uint16_t vendorId;
    std::uint16_t productId;
};

using Udev = std::unique_ptr<udev, decltype(&udev_unref)>;
using Enumerate = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;
using Device = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;

// libudev's constructors report through errno; one that failed without setting it still failed.
int FailureOf(int error) { return error != 0 ? error : ENOMEM; }

// The hidraw nodes udev knows, in the order of their device numbers. 0, or the error number
// when udev cannot be asked (returned rather than left in errno, which the releases could change).
int PresentNodes(std::vector<Node>* nodes) {
    const Udev context(udev_new(), udev_unref);
    if (!context) return FailureOf(errno);
    const Enumerate enumerate(udev_enumerate_new(context.get()), udev_enumerate_unref);
    if (!enumerate) return FailureOf(errno);
    int result = udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw");
    if (result >= 0) result = udev_enumerate_scan_devices(enumerate.get());
    if (result < 0) return -result;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        // A device that went away since the scan, or has no node yet, is not an interface.
        const Device device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)), udev_device_unref);
        const char* devnode = device ? udev_device_get_devnode(device.get()) : nullptr;
        Node node{};
        if (devnode == nullptr || !NodePathToUtf16(devnode, &node.path)) continue;
        node.number = udev_device_get_devnum(device.get());
        // The parent belongs to the device and goes with it.
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device.get(), "hid", nullptr);
        node.usb = hid != nullptr &&
                   UsbIdsFromHidId(udev_device_get_property_value(hid, "HID_ID"), &node.vendorId, &node.productId);
        nodes->push_back(std::move(node));
    }
    std::sort(nodes->begin(), nodes->end(),
              [](const Node& a, const Node& b) { return a.number != b.number ? a.number < b.number : a.path < b.path; });
    return 0;
}

}  // namespace

// The nodes as udev listed them when the list was made.
struct InterfaceList {
    std::vector<Node> nodes;
};

InterfaceList* HidListInterfaces() {
    auto* list = new InterfaceList;
    const int error = PresentNodes(&list->nodes);
    if (error == 0) return list;
    delete list;
    errno = error;
    return nullptr;
}

// udev knows every hidraw node's HID device, so the IDs are always listed here; a device on
// another bus than USB has no USB IDs and is named 0:0, which no box carries.
Listed HidInterfaceAt(InterfaceList* list, std::uint32_t index, ListedInterface* member) {
    *member = ListedInterface{};
    if (index >= list->nodes.size()) return Listed::End;
    const Node& node = list->nodes[index];
    const std::size_t bytes = (node.path.size() + 1) * sizeof(char16_t);
    member->path = static_cast<char16_t*>(std::malloc(bytes));
    if (member->path == nullptr) return Listed::Unreadable;
    std::memcpy(member->path, node.path.c_str(), bytes);
    member->idsListed = true;
    member->vendorId = node.usb ? node.vendorId : 0;
    member->productId = node.usb ? node.productId : 0;
    return Listed::Interface;
}

void HidFreeInterfaceList(InterfaceList* list) { delete list; }
