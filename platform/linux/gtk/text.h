// The logic speaks UTF-16, GTK speaks UTF-8: every text crosses here, in both directions.
#pragma once

#include <string>

// Invalid UTF-16 (an unpaired surrogate) cannot reach the screen as it is; each such unit
// becomes U+FFFD, so that the rest of the text is still shown.
std::string Utf8FromUtf16(const char16_t* text);
// Invalid UTF-8 from the system likewise: each byte that does not decode becomes U+FFFD.
std::u16string Utf16FromUtf8(const char* text);
