#include "platform/linux/linux_hid_path.h"

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
