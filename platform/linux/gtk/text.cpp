#include "platform/linux/gtk/text.h"

#include <cstring>

#include <glib.h>

static_assert(sizeof(gunichar2) == sizeof(char16_t), "GLib's UTF-16 units are the logic's");

namespace {

constexpr gunichar REPLACEMENT = 0xFFFD;

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void PutUtf8(std::string& out, gunichar c) {
    char bytes[6];
    out.append(bytes, static_cast<std::size_t>(g_unichar_to_utf8(c, bytes)));
}

void PutUtf16(std::u16string& out, gunichar c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

}  // namespace

// GLib converts valid text; only text it refuses is walked unit by unit.
std::string Utf8FromUtf16(const char16_t* text) {
    if (text == nullptr) return std::string();
    gchar* converted = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text), -1, nullptr, nullptr, nullptr);
    if (converted != nullptr) {
        std::string result(converted);
        g_free(converted);
        return result;
    }
    std::string out;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        if (IsHigh(text[i]) && IsLow(text[i + 1])) {
            PutUtf8(out, 0x10000 + ((static_cast<gunichar>(text[i]) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHigh(text[i]) || IsLow(text[i])) {
            PutUtf8(out, REPLACEMENT);
        } else {
            PutUtf8(out, text[i]);
        }
    }
    return out;
}

std::u16string Utf16FromUtf8(const char* text) {
    if (text == nullptr) return std::u16string();
    glong length = 0;
    gunichar2* converted = g_utf8_to_utf16(text, -1, nullptr, &length, nullptr);
    if (converted != nullptr) {
        std::u16string result(reinterpret_cast<const char16_t*>(converted), static_cast<std::size_t>(length));
        g_free(converted);
        return result;
    }
    std::u16string out;
    const char* end = text + std::strlen(text);
    for (const char* at = text; at < end;) {
        const gunichar c = g_utf8_get_char_validated(at, end - at);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            PutUtf16(out, REPLACEMENT);
            ++at;
        } else {
            PutUtf16(out, c);
            at += g_utf8_skip[static_cast<guchar>(*at)];
        }
    }
    return out;
}
