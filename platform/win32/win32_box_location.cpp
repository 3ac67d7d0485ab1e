// A box's place on the USB bus, from the Setup API and the configuration manager: the location
// path of the USB device above its HID interface, as Device Manager shows it under "Pfade zum
// Speicherort" ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)": the host controller by its
// place on the PCI bus, then the port on the root hub and on each hub below it). Windows makes it
// from the ports alone, so it is the same after the box is plugged into that port again, in
// either mode and after a restart; the device's instance ID, which a box without a serial
// number gets anew per port, says nothing a person can find again.
//
// Beside it, what else the console program asks of a box without talking to it: what tells one
// arrival from another, and the box's USB serial number.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/hid.h"
#include "platform/serial_number.h"
#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_utf8.h"

namespace {

// What the USB string descriptor of a serial number can hold: 126 UTF-16 units, and the HID
// class driver's copy may come without its terminator.
constexpr std::size_t SERIAL_UNITS = 126;

// The HID device, an interface of a composite device, the USB device: a box is two levels
// down; the bound only keeps a broken tree from holding the walk.
constexpr int MOST_LEVELS = 16;

bool StartsWithFolded(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        const wchar_t c = *text >= L'a' && *text <= L'z' ? static_cast<wchar_t>(*text - L'a' + L'A') : *text;
        if (c != *prefix) return false;
    }
    return true;
}

// "USB\VID_21B8&PID_0001\..." is a USB device. "USB\VID_...&MI_00\..." is one interface of a
// composite device, whose location path names the interface after the port: the walk goes on
// to the device above it.
bool IsUsbDevice(const wchar_t* id) {
    if (!StartsWithFolded(id, L"USB\\")) return false;
    for (const wchar_t* c = id + 4; *c != 0 && *c != L'\\'; ++c)
        if (StartsWithFolded(c, L"&MI_")) return false;
    return true;
}

// The first of the node's location paths (a list of strings; where ACPI names the port too, a
// second follows), in UTF-8; empty when the node has none.
std::string FirstLocationPath(const DeviceTreeLibraries& api, DEVINST node) {
    ULONG type = 0;
    ULONG bytes = 0;
    if (api.CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, nullptr, &bytes, 0) != CR_BUFFER_SMALL ||
        bytes == 0)
        return std::string();
    // Two units more than asked for, zero, so the list ends even if the property's value does not.
    std::vector<wchar_t> paths(bytes / sizeof(wchar_t) + 2, 0);
    if (api.CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, paths.data(), &bytes, 0) != CR_SUCCESS ||
        type != REG_MULTI_SZ || paths[0] == 0)
        return std::string();
    return Utf8OfWide(paths.data());
}

// The device node behind an interface path, found through a list that holds it alone.
bool NodeOfInterface(const DeviceTreeLibraries& api, const wchar_t* path, DEVINST* node) {
    const HDEVINFO list = api.SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (list == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const bool found = api.SetupDiOpenDeviceInterfaceW(list, path, 0, &interfaceData) &&
                       api.SetupDiEnumDeviceInfo(list, 0, &device);
    if (found) *node = device.DevInst;
    api.SetupDiDestroyDeviceInfoList(list);
    return found;
}

}  // namespace

std::string BoxLocation(const std::u16string& path) {
    const DeviceTreeLibraries& api = DeviceTreeLibrariesOnce();
    DEVINST node = 0;
    if (api.CM_Get_Parent == nullptr || !NodeOfInterface(api, reinterpret_cast<const wchar_t*>(path.c_str()), &node))
        return std::string();
    for (int level = 0; level < MOST_LEVELS; ++level) {
        DEVINST parent = 0;
        if (api.CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
        node = parent;
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};  // an ID that fills the buffer comes without its zero
        if (api.CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
        if (IsUsbDevice(id)) return FirstLocationPath(api, node);
    }
    return std::string();
}

// Windows numbers the HID device node anew for each device the HID class driver sees, and the
// interface path carries that instance ("...#7&1b2c3d4&0&0000#{...}"): a box plugged in where
// another was just pulled out gets a path of its own. The path counts while the interface list
// names it; the Setup API keeps an interface registered after its device went.
std::string BoxInstance(const std::u16string& path) {
    if (path.empty()) return std::string();
    InterfaceList* const list = HidListInterfaces();
    if (list == nullptr) return std::string();
    bool present = false;
    ListedInterface member = {};
    for (std::uint32_t index = 0; !present; ++index) {
        const Listed listed = HidInterfaceAt(list, index, &member);
        if (listed == Listed::End) break;
        if (listed != Listed::Interface) continue;
        present = path == member.path;
        std::free(member.path);
    }
    HidFreeInterfaceList(list);
    return present ? Utf8OfWide(reinterpret_cast<const wchar_t*>(path.c_str())) : std::string();
}

// Opened with no access at all, as hidapi opens a device to read its strings: the HID class
// driver answers the string requests on such a handle, and it succeeds where a keyboard or a
// device another program opened without sharing refuses reading and writing. A serial number
// that could not be told from another one's in a list or a record (a control character, a byte
// beyond ASCII, the comma that separates fields) is taken for none.
std::string BoxSerial(const std::u16string& path) {
    const HidLibraries& api = HidLibrariesOnce();
    if (api.loadError != ERROR_SUCCESS) return std::string();
    const HANDLE device = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return std::string();
    wchar_t units[SERIAL_UNITS + 1] = {};  // the last one stays the terminator
    const bool read = api.HidD_GetSerialNumberString(device, units, SERIAL_UNITS * sizeof(wchar_t)) != FALSE;
    CloseHandle(device);
    if (!read) return std::string();
    // Beyond ASCII it is no serial either way; below, the rule is the one Linux's serials follow.
    std::string raw;
    for (const wchar_t* unit = units; *unit != 0; ++unit) raw += *unit < 0x80 ? static_cast<char>(*unit) : '\x7F';
    return UsableSerialNumber(raw);
}

// Windows never refuses a HID interface to the user for want of a rule: nothing to add.
std::string ConsoleDeniedAdvice(const std::u16string&) { return std::string(); }
