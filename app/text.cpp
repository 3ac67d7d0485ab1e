#include "app/text.h"

std::size_t TextLength(const char16_t* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

int CopyText(const char16_t* text, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    int count = 0;
    if (text != nullptr)
        for (; count < capacity - 1 && text[count] != 0; ++count) buffer[count] = text[count];
    buffer[count] = 0;
    return count;
}

void TextAppend(char16_t* buffer, std::size_t capacity, const char16_t* text) {
    if (capacity == 0) return;
    std::size_t at = 0;
    while (at < capacity - 1 && buffer[at] != 0) ++at;
    for (std::size_t i = 0; text[i] != 0 && at < capacity - 1; ++i) buffer[at++] = text[i];
    buffer[at] = 0;
}

namespace {

struct Writer {
    char16_t* buffer;
    std::size_t capacity;
    std::size_t at;
    void Put(char16_t c) {
        if (at + 1 < capacity) buffer[at++] = c;
    }
};

void PutNumber(Writer& out, std::uint32_t value, std::uint32_t base, int minimumDigits) {
    char16_t digits[10];
    int count = 0;
    do {
        digits[count++] = u"0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    for (int i = count; i < minimumDigits; ++i) out.Put(u'0');
    while (count > 0) out.Put(digits[--count]);
}

}  // namespace

void FormatText(char16_t* buffer, std::size_t capacity, const char16_t* format, std::initializer_list<std::uint32_t> args) {
    if (capacity == 0) return;
    Writer out{buffer, capacity, 0};
    auto arg = args.begin();
    for (std::size_t i = 0; format[i] != 0; ++i) {
        const bool decimal = format[i] == u'%' && format[i + 1] == u'u';
        const bool hex = format[i] == u'%' && format[i + 1] == u'0' && format[i + 2] == u'8' && format[i + 3] == u'x';
        if ((decimal || hex) && arg != args.end()) {
            PutNumber(out, *arg++, decimal ? 10 : 16, decimal ? 1 : 8);
            i += decimal ? 1 : 3;
        } else {
            out.Put(format[i]);
        }
    }
    buffer[out.at] = 0;
}
