#include "device/box_list.h"

#include <cstdlib>
#include <cstring>

#include "device/discovery.h"
#include "device/interface_candidate.h"
#include "device/protocol.h"
#include "platform/hid.h"

namespace {

char16_t* CopyOf(const std::u16string& text) {
    auto* copy = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return copy;
}

}  // namespace

std::int32_t ListBoxes(std::vector<std::u16string>* paths, const std::set<std::u16string>* known) {
    paths->clear();
    InterfaceList* const list = HidListInterfaces();
    if (list == nullptr) return DEV_ERR_UNUSABLE;
    ListedInterface member = {};
    for (std::uint32_t index = 0;; ++index) {
        const Listed listed = HidInterfaceAt(list, index, &member);
        if (listed == Listed::End) break;
        if (listed != Listed::Interface) continue;
        char16_t* const path = member.path;
        bool isBox = member.idsListed ? IsBox(member.vendorId, member.productId)
                                      : known != nullptr && known->count(path) != 0;
        if (!member.idsListed && !isBox) {
            // Unnamed: opened once for its IDs, as the search does, and closed again at once.
            const DeviceHandle handle = HidOpen(path, nullptr);
            std::uint16_t vendorId = 0;
            std::uint16_t productId = 0;
            isBox = handle != INVALID_HANDLE_VALUE && HidGetIds(handle, &vendorId, &productId) && IsBox(vendorId, productId);
            if (handle != INVALID_HANDLE_VALUE) HidClose(handle);
        }
        if (isBox) paths->push_back(path);
        std::free(path);
    }
    HidFreeInterfaceList(list);
    return DEV_OK;
}

std::int32_t TakeBox(const std::u16string& path, DeviceRecord& record) {
    CloseDevice(record);
    char16_t* copy = CopyOf(path);
    if (copy == nullptr) return DEV_ERR_UNUSABLE;
    // The path came from a list that named it a box; a box that went since is not found.
    const std::int32_t taken = TakeInterface(copy, true, record);
    return taken != DEV_OK ? taken : QueryDeviceInfo(record);
}
