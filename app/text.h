// UTF-16 text in fixed buffers, the way the program composes everything it shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

std::size_t TextLength(const char16_t* text);
// GetWindowTextW's and LoadStringW's way out of a backend: at most `capacity` - 1 units of `text`
// (null reads as the empty text), always zero-terminated, the count copied returned; nothing
// written when there is no buffer or `capacity` is 0 or less.
int CopyText(const char16_t* text, char16_t* buffer, int capacity);
// Appends as much of `text` as fits, keeping the result zero-terminated within `capacity`.
void TextAppend(char16_t* buffer, std::size_t capacity, const char16_t* text);
// Fills `format` with unsigned 32-bit arguments in order. Knows the two conversions the
// program's texts use: %u (decimal) and %08x (eight lower-case hexadecimal digits).
// Cut to `capacity`, always zero-terminated.
void FormatText(char16_t* buffer, std::size_t capacity, const char16_t* format, std::initializer_list<std::uint32_t> args);
