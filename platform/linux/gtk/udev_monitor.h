// HID interfaces arriving and leaving, on udev: the events of the hidraw subsystem, handed to
// the logic with the node's path.
#pragma once

#include <string>

struct InterfaceEvent {
    bool arrival;         // else a removal
    std::u16string path;  // the device node ("/dev/hidraw3"), the form discovery stores
};

// The event for a udev event: "add" is an arrival, "remove" a removal. False for other actions
// ("change", "bind") and for events without a node, which name no interface the program could
// hold.
bool InterfaceEventFor(const char* action, const char* deviceNode, InterfaceEvent* event);
