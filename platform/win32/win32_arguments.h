// The command line as the console programs take it on every system: UTF-8, whatever the
// console's code page, from the UTF-16 that wmain is handed.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the arguments come as UTF-16");

inline std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8Of(reinterpret_cast<const char16_t*>(argv[i])));
    return arguments;
}
