#include "lines/lines.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

// The text as valid UTF-8: every byte that does not belong to a well-formed sequence (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, a sequence cut short)
// becomes U+FFFD. A box's serial number comes from its USB descriptor, which may hold anything.
std::string ValidUtf8(const std::string& text) {
    std::string out;
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the second byte's range
        if (lead < 0x80) length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t good = length == 0 ? 0 : 1;
        while (good > 0 && good < length && i + good < size) {
            const unsigned char next = static_cast<unsigned char>(text[i + good]);
            if (next < (good == 1 ? low : 0x80) || next > (good == 1 ? high : 0xBF)) break;
            ++good;
        }
        if (length != 0 && good == length) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            i += good == 0 ? 1 : good;  // a cut-short sequence is one replacement, as Unicode advises
        }
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : ValidUtf8(text)) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string CsvField(const std::string& text) {
    const std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos) return valid;
    std::string out = "\"";
    for (const char c : valid) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string ThreeDecimals(double value) {
    const long long rounded = std::llround(value * 1000.0);
    const long long thousandths = std::llabs(rounded);
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", rounded < 0 ? "-" : "", thousandths / 1000, thousandths % 1000);
    return text;
}
