#include "device/discovery.h"

#include <cstdlib>
#include <initializer_list>

#include "device/interface_candidate.h"
#include "device/protocol.h"
#include "platform/hid.h"

bool IsBox(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == DEVICE_VENDOR_ID && (productId == PRODUCT_ID_VELTABOX || productId == PRODUCT_ID_VELTA_HUB);
}

namespace {

// The worse of two reasons for finding no usable box: one the user must act on before one that
// passes by itself, and either before finding none at all.
std::int32_t Worse(std::int32_t a, std::int32_t b) {
    for (const std::int32_t reason : {DEV_ERR_DENIED, DEV_ERR_BUSY})
        if (a == reason || b == reason) return reason;
    return DEV_ERR_NOT_FOUND;
}

}  // namespace

std::int32_t TakeInterface(char16_t* path, bool listedBox, DeviceRecord& record) {
    HidStatus opened = HidStatus::Failed;
    const DeviceHandle handle = HidOpen(path, &opened);
    if (handle == INVALID_HANDLE_VALUE) {
        std::free(path);
        // Only a listed box counts as denied; an unnamed device may as well be a keyboard.
        return listedBox && opened == HidStatus::Denied ? DEV_ERR_DENIED : DEV_ERR_NOT_FOUND;
    }
    std::int32_t result = DEV_ERR_NOT_FOUND;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (HidGetIds(handle, &vendorId, &productId) && IsBox(vendorId, productId)) {
        BoxClaim claim = 0;
        const HidStatus claimed = HidClaim(handle, path, &claim);
        if (claimed == HidStatus::Ok) {
            record.handle = handle;
            record.devicePath = path;
            record.productId = productId;
            record.claim = claim;
            return DEV_OK;
        }
        if (claimed == HidStatus::Held) result = DEV_ERR_BUSY;
    }
    HidClose(handle);
    std::free(path);
    return result;
}

namespace {

// TakeInterface for a member of the list, unless the list named it as something other than a
// box: then it is never opened. The member's path is taken over.
std::int32_t TakeListed(const ListedInterface& member, DeviceRecord& record) {
    // Where the system names the device without opening it, nothing but a box is ever opened:
    // the user's other HID devices (keyboards, security keys) are none of the program's business.
    if (member.idsListed && !IsBox(member.vendorId, member.productId)) {
        std::free(member.path);
        return DEV_ERR_NOT_FOUND;
    }
    return TakeInterface(member.path, member.idsListed, record);
}

}  // namespace

std::int32_t FindDevice(DeviceRecord& record) {
    CloseDevice(record);
    InterfaceList* const list = HidListInterfaces();
    if (list == nullptr) return DEV_ERR_UNUSABLE;
    std::int32_t missing = DEV_ERR_NOT_FOUND;
    ListedInterface member = {};
    for (std::uint32_t index = 0;; ++index) {
        const Listed listed = HidInterfaceAt(list, index, &member);
        if (listed == Listed::End) break;
        if (listed != Listed::Interface) continue;
        const std::int32_t tried = TakeListed(member, record);
        if (tried == DEV_OK) {
            HidFreeInterfaceList(list);
            return QueryDeviceInfo(record);
        }
        missing = Worse(missing, tried);
    }
    HidFreeInterfaceList(list);
    return missing;
}

void CloseDevice(DeviceRecord& record) {
    if (record.handle != INVALID_HANDLE_VALUE) {
        if (record.claim != 0) HidRelease(record.handle, record.claim);
        HidClose(record.handle);
    }
    std::free(record.devicePath);
    ResetDeviceRecord(record);
}
