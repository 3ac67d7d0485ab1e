#include "cli/cli_text.h"

#include <cstdio>

#include "app/text.h"
#include "app/version_format.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

std::string Utf8Of(const char16_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const char16_t* c = text; *c != 0; ++c) {
        std::uint32_t code = *c;
        if (code >= 0xD800 && code < 0xDC00 && c[1] >= 0xDC00 && c[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (c[1] - 0xDC00);
            ++c;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // half a pair stands for nothing
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string MessageText(std::uint32_t id) { return Utf8Of(FindCatalogueText(id)); }

std::string MessageText(std::uint32_t id, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t e) {
    const char16_t* format = FindCatalogueText(id);
    if (format == nullptr) return std::string();
    MessageBuffer filled;
    FormatText(filled, MESSAGE_BUFFER_CHARS, format, {a, b, c, d, e});
    return Utf8Of(filled);
}

std::string CodeLine(std::int32_t code, std::uint32_t lastError) {
    return MessageText(IDS_SYSTEM_ERROR_CODE, static_cast<std::uint32_t>(code), lastError);
}

// A character of the catalogue's texts and the boxes' names takes one cell; UTF-8 continuation
// bytes (10xxxxxx) take none.
std::string FitToColumns(const std::string& text, int columns) {
    if (columns <= 0) return text;
    int used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++used > columns) return text.substr(0, i);
    }
    return text;
}


std::string BootloaderVersionText(std::uint32_t version) {
    char16_t text[VERSION_TEXT_CHARS];
    FormatBootloaderVersion(version, text, VERSION_TEXT_CHARS);
    return Utf8Of(text);
}

std::string FirmwareVersionText(std::uint32_t version) {
    char16_t text[VERSION_TEXT_CHARS];
    FormatFirmwareVersion(version, text, VERSION_TEXT_CHARS);
    return Utf8Of(text);
}
