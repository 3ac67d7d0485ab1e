// platform/state.h on Windows: the record's place under the user's local application data, the
// computer's name, and this boot and the processes in it as the system clock and the kernel's
// process table tell them. UTF-8 towards the program, UTF-16 towards the system.
#include "platform/state.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_utf8.h"

namespace {

// The boot time is rounded to this many 100 ns units, a minute: the two readings it is made of
// (the clock and the tick count since the boot, whose tick is 15.6 ms) come a moment apart and
// the clock may be corrected by a second or two after the boot, so the unrounded difference
// wanders by that much from one process to the next. Two boots whose times round to the same
// minute look like one; the process IDs stored with the boot still tell their records apart,
// unless an ID was reused (see StateProcessAlive).
constexpr ULONGLONG BOOT_ROUNDING = 60ull * 10000000ull;
constexpr ULONGLONG TICKS_PER_MILLISECOND = 10000;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The system's own words for `error`, in the language of the user's Windows.
std::string SystemWords(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = length > 0 && text != nullptr ? Utf8OfWide(text) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    if (words.empty()) words = "Fehler " + std::to_string(error);
    return words;
}

}  // namespace

// LOCALAPPDATA is set for every user's session, a service's too, on every Windows the program
// runs on; the folder is the user's alone, and folders made in it inherit that.
std::string StateDefaultHistoryPath(bool demo) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string path = Utf8OfWide(folder);
    if (path.empty()) return std::string();
    if (!IsSeparator(static_cast<wchar_t>(path.back()))) path += '\\';
    return path + "SORVANTIK\\VELTABOX\\" + (demo ? "demo-history.sqlite3" : "history.sqlite3");
}

// From the deepest folder that is already there downwards. A folder another program made
// meanwhile is as good as one made here.
bool StateMakeFolderFor(const std::string& file, std::string* error) {
    const std::wstring path = WideOfUtf8(file);
    std::vector<std::wstring> missing;
    std::size_t end = path.size();
    for (;;) {
        while (end > 0 && !IsSeparator(path[end - 1])) --end;
        while (end > 0 && IsSeparator(path[end - 1])) --end;
        // A bare name, a drive ("C:") or the root: nothing above it to make.
        if (end == 0 || path[end - 1] == L':') break;
        const std::wstring folder = path.substr(0, end);
        if (IsFolder(folder)) break;
        missing.push_back(folder);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (CreateDirectoryW(folder->c_str(), nullptr)) continue;
        const DWORD failure = GetLastError();
        if (failure == ERROR_ALREADY_EXISTS && IsFolder(*folder)) continue;
        if (error != nullptr) *error = Utf8OfWide(folder->c_str()) + ": " + SystemWords(failure);
        return false;
    }
    return true;
}

// The DNS host name, as the network knows the station; the NetBIOS name (upper case, at most 15
// characters) only where there is none.
std::string StateStationName() {
    for (const COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameNetBIOS}) {
        DWORD size = 0;
        GetComputerNameExW(format, nullptr, &size);
        if (size == 0) continue;
        std::vector<wchar_t> name(size + 1, 0);
        if (GetComputerNameExW(format, name.data(), &size) && name[0] != 0) return Utf8OfWide(name.data());
    }
    return std::string();
}

// The moment of the boot in UTC, to the minute: "2026-12-11T13:02Z". GetTickCount64 counts the
// milliseconds since the boot, time asleep included, so the difference stays put through sleep.
std::string StateBootId() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG clock = static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    const ULONGLONG since = GetTickCount64() * TICKS_PER_MILLISECOND;
    const ULONGLONG boot = clock > since ? clock - since : 0;
    const ULONGLONG rounded = (boot + BOOT_ROUNDING / 2) / BOOT_ROUNDING * BOOT_ROUNDING;
    FILETIME bootTime;
    bootTime.dwLowDateTime = static_cast<DWORD>(rounded);
    bootTime.dwHighDateTime = static_cast<DWORD>(rounded >> 32);
    SYSTEMTIME parts;
    if (!FileTimeToSystemTime(&bootTime, &parts)) return std::string();
    const auto digits = [](unsigned value, int count) {
        std::string text(static_cast<std::size_t>(count), '0');
        for (int i = count - 1; i >= 0; --i, value /= 10) text[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        return text;
    };
    return digits(parts.wYear, 4) + "-" + digits(parts.wMonth, 2) + "-" + digits(parts.wDay, 2) + "T" + digits(parts.wHour, 2) +
           ":" + digits(parts.wMinute, 2) + "Z";
}

std::uint32_t StateProcessId() { return GetCurrentProcessId(); }

// A process that has ended stays in the kernel's table while anyone holds a handle to it, so
// being able to open it says nothing: it is alive while its handle is not signalled (SYNCHRONIZE)
// or, where only the limited query is granted, while its exit code is STILL_ACTIVE (a process that
// ended with 259 reads as alive there). A process that may not be opened at all (another user's,
// a protected one) exists. Windows hands a freed ID to the next process soon, so a record whose
// writer ended may be taken for one still being written while another program runs under the same
// ID; it is then only left open longer than needed, never closed under a writer.
bool StateProcessAlive(std::uint32_t pid) {
    if (pid == 0) return false;
    if (const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
        const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        CloseHandle(process);
        return alive;
    }
    if (const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        DWORD code = 0;
        const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
        CloseHandle(process);
        return alive;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}
