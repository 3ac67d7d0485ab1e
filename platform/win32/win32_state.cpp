// platform/state.h on Windows: the user's local application data, the computer's name, the
// boot's time, and whether a process still runs.
#include <windows.h>

#include <string>

#include "platform/state.h"

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return L"";
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const wchar_t* text, int length) {
    if (length <= 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::string SystemWords(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = Utf8(text, static_cast<int>(length));
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
    return words + " (Windows error " + std::to_string(code) + ")";
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::string StateDefaultHistoryPath(bool demo) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    return Utf8(folder, static_cast<int>(length)) + "\\SORVANTIK\\VELTABOX\\" + (demo ? "demo-history.sqlite3" : "history.sqlite3");
}

// Each folder above the file, from the top; one that exists already (a drive's root) is passed
// over, and so is a share's \\server\share, which is no folder to make. The folders inherit
// the access of the profile they are made in.
bool StateMakeFolderFor(const std::string& file, std::string* error) {
    const std::wstring path = Wide(file);
    std::size_t end = path.find_first_of(L"\\/", 1);
    if (end == 1) {  // a share: its server's and its own name come first
        end = path.find_first_of(L"\\/", 2);
        if (end != std::wstring::npos) end = path.find_first_of(L"\\/", end + 1);
        if (end != std::wstring::npos) end = path.find_first_of(L"\\/", end + 1);
    }
    for (; end != std::wstring::npos; end = path.find_first_of(L"\\/", end + 1)) {
        const std::wstring folder = path.substr(0, end);
        if (IsFolder(folder) || (folder.size() == 2 && folder[1] == L':')) continue;
        if (CreateDirectoryW(folder.c_str(), nullptr)) continue;
        const DWORD failure = GetLastError();
        if (failure == ERROR_ALREADY_EXISTS && IsFolder(folder)) continue;  // made meanwhile by another program
        if (error != nullptr) {
            *error = "could not make the folder " + Utf8(folder.c_str(), static_cast<int>(folder.size())) + ": " +
                     (failure == ERROR_ALREADY_EXISTS ? "a file of that name is in the way" : SystemWords(failure));
        }
        return false;
    }
    return true;
}

std::string StateStationName() {
    wchar_t name[256];
    DWORD length = 256;
    return GetComputerNameExW(ComputerNameDnsHostname, name, &length) ? Utf8(name, static_cast<int>(length)) : "";
}

// When this boot began, to the minute: the system time less the time since the boot. Windows
// keeps no boot id a program may read without the registry, and the tick count and the clock
// drift apart by a few seconds a day, so the minute is a compromise: readings taken days apart
// that fall on either side of a minute's edge name two boots, which only lets an open record be
// read as interrupted while its writer still runs, until that writer completes it.
std::string StateBootId() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;  // 100 ns since 1601
    const ULONGLONG minutes = (ticks / 10000 - GetTickCount64()) / 60000;
    return "boot-minute-" + std::to_string(minutes);
}

std::uint32_t StateProcessId() { return GetCurrentProcessId(); }

// A process that runs may be waited on; one of another user that may not be opened still runs.
bool StateProcessAlive(std::uint32_t pid) {
    if (pid == 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}
