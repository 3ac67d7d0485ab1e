// Text between the program and the system: UTF-8 in the program, UTF-16 towards Windows.
#pragma once

#include <windows.h>

#include <string>

// The zero-terminated `text` as UTF-8; an unpaired surrogate comes out as U+FFFD.
inline std::string Utf8OfWide(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(size - 1));
    return utf8;
}

// `text` as UTF-16; malformed UTF-8 comes out as U+FFFD.
inline std::wstring WideOfUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}
