#include "platform/linux/hidraw/hidraw_path.h"

#include <cstdio>

bool NodePathToUtf16(const char* node, std::u16string* path) {
    path->clear();
    for (const char* c = node; *c != 0; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte >= 0x80) return false;
        path->push_back(static_cast<char16_t>(byte));
    }
    return true;
}

bool NodePathFromUtf16(const char16_t* path, std::string* node) {
    node->clear();
    for (const char16_t* c = path; *c != 0; ++c) {
        if (*c >= 0x80) return false;
        node->push_back(static_cast<char>(*c));
    }
    return true;
}

bool UsbIdsFromHidId(const char* hidId, std::uint16_t* vendorId, std::uint16_t* productId) {
    constexpr unsigned BUS_USB = 0x03;  // BUS_USB of <linux/input.h>
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    char tail = 0;
    if (hidId == nullptr || std::sscanf(hidId, "%x:%x:%x%c", &bus, &vendor, &product, &tail) != 3) return false;
    if (bus != BUS_USB || vendor > 0xFFFF || product > 0xFFFF) return false;
    *vendorId = static_cast<std::uint16_t>(vendor);
    *productId = static_cast<std::uint16_t>(product);
    return true;
}
