#include "device/discovery.h"

#include <cstdlib>
#include <cstring>

#include "device/protocol.h"
#include "platform/hid.h"

namespace {

bool IsBox(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == DEVICE_VENDOR_ID && (productId == PRODUCT_ID_VELTABOX || productId == PRODUCT_ID_VELTA_HUB);
}

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

// Opens the interface at `index` if it is the box: DEV_OK with handle, path and product ID set,
// DEV_ERR_NOT_FOUND when it is something else or cannot be looked at. Releases whatever it
// obtained for an interface that is not taken.
std::int32_t TryInterface(InterfaceList list, std::uint32_t index, DeviceRecord& record) {
    const std::uint32_t detailSize = HidInterfaceDetailSize(list, index);
    if (detailSize == 0) return DEV_ERR_NOT_FOUND;
    void* detail = std::calloc(1, detailSize);
    if (detail == nullptr) return DEV_ERR_NOT_FOUND;
    std::int32_t result = DEV_ERR_NOT_FOUND;
    char16_t* path = nullptr;
    if (HidInterfaceDetail(list, index, detail, detailSize)) path = CopyPath(detail, detailSize);
    std::free(detail);
    if (path == nullptr) return result;

    const DeviceHandle handle = HidOpen(path);
    if (handle != INVALID_HANDLE_VALUE) {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        if (HidGetIds(handle, &vendorId, &productId) && IsBox(vendorId, productId)) {
            record.handle = handle;
            record.devicePath = path;
            record.productId = productId;
            return DEV_OK;
        }
        HidClose(handle);
    }
    std::free(path);
    return result;
}

}  // namespace

std::int32_t FindDevice(DeviceRecord& record) {
    CloseDevice(record);
    const InterfaceList list = HidListInterfaces();
    if (list == PLATFORM_NO_LIST) return DEV_ERR_UNUSABLE;
    for (std::uint32_t index = 0; HidEnumInterface(list, index); ++index) {
        if (TryInterface(list, index, record) == DEV_OK) {
            HidFreeInterfaceList(list);
            return QueryDeviceInfo(record);
        }
    }
    HidFreeInterfaceList(list);
    return DEV_ERR_NOT_FOUND;
}

void CloseDevice(DeviceRecord& record) {
    if (record.handle != INVALID_HANDLE_VALUE) HidClose(record.handle);
    std::free(record.devicePath);
    ResetDeviceRecord(record);
}
