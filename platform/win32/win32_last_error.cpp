// SystemLastError of platform/system.h on Win32.
#include "platform/system.h"

#include <windows.h>

std::uint32_t SystemLastError() { return GetLastError(); }
