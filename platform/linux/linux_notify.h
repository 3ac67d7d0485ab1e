// Device notifications on udev: the events of the hidraw subsystem, turned into the records the
// dialog procedure takes as WM_DEVICECHANGE.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/window.h"

struct DeviceChange {
    std::uintptr_t eventCode;             // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    std::vector<std::uint64_t> storage;   // the DeviceBroadcastInterface record, aligned
    const DeviceBroadcastInterface* Record() const {
        return reinterpret_cast<const DeviceBroadcastInterface*>(storage.data());
    }
};

// The record for a udev event: "add" is an arrival, "remove" a removal, each of a device
// interface (type 5) named by its device node ("/dev/hidraw3"), the form in which discovery
// stores the path it opened. False for other actions ("change", "bind") and for events
// without a node, which name no interface the program could hold.
bool DeviceChangeFor(const char* action, const char* deviceNode, DeviceChange* change);
