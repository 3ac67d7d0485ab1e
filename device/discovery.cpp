#include "device/discovery.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "device/interface_candidate.h"
#include "device/protocol.h"
#include "platform/hid.h"

bool IsBox(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == DEVICE_VENDOR_ID && (productId == PRODUCT_ID_VELTABOX || productId == PRODUCT_ID_VELTA_HUB);
}

namespace {

// The path lives inside a detail record of `detailSize` bytes; the copy never reads past it,
// even when the system left the path unterminated.
char16_t* CopyPath(const void* detail, std::uint32_t detailSize) {
    const char16_t* path = HidDetailPath(detail);
    const std::size_t offset = static_cast<std::size_t>(reinterpret_cast<const char*>(path) - static_cast<const char*>(detail));
    if (offset >= detailSize) return nullptr;
    const std::size_t capacity = (detailSize - offset) / sizeof(char16_t);
    std::size_t length = 0;
    while (length < capacity && path[length] != 0) ++length;
    auto* copy = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, path, length * sizeof(char16_t));
    copy[length] = 0;
    return copy;
}

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

char16_t* CandidateAt(InterfaceList list, std::uint32_t index, bool* listedBox) {
    // Where the system names the device without opening it, nothing but a box is ever opened:
    // the user's other HID devices (keyboards, security keys) are none of the program's business.
    std::uint16_t listedVendor = 0;
    std::uint16_t listedProduct = 0;
    *listedBox = HidInterfaceIds(list, index, &listedVendor, &listedProduct);
    if (*listedBox && !IsBox(listedVendor, listedProduct)) return nullptr;

    const std::uint32_t detailSize = HidInterfaceDetailSize(list, index);
    if (detailSize == 0) return nullptr;
    void* detail = std::calloc(1, detailSize);
    if (detail == nullptr) return nullptr;
    char16_t* path = nullptr;
    if (HidInterfaceDetail(list, index, detail, detailSize)) path = CopyPath(detail, detailSize);
    std::free(detail);
    return path;
}

namespace {

std::int32_t TryInterface(InterfaceList list, std::uint32_t index, DeviceRecord& record) {
    bool listedBox = false;
    char16_t* path = CandidateAt(list, index, &listedBox);
    return path == nullptr ? DEV_ERR_NOT_FOUND : TakeInterface(path, listedBox, record);
}

}  // namespace

std::int32_t FindDevice(DeviceRecord& record) {
    CloseDevice(record);
    const InterfaceList list = HidListInterfaces();
    if (list == PLATFORM_NO_LIST) return DEV_ERR_UNUSABLE;
    std::int32_t missing = DEV_ERR_NOT_FOUND;
    for (std::uint32_t index = 0; HidEnumInterface(list, index); ++index) {
        const std::int32_t tried = TryInterface(list, index, record);
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
