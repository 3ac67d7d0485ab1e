// platform/text_file.h on Windows: a temporary file beside the target, flushed, then moved over
// it. The file's access is what the folder gives (windows_exporter runs as a service that reads
// it); a reader that has the old file open keeps the move from happening for a moment, so it is
// tried again a few times.
#include "platform/text_file.h"

#include <windows.h>

#include "platform/system.h"
#include "platform/win32/win32_utf8.h"

namespace {

// windows_exporter reads the file whole and closes it: a few tenths of a second at most.
constexpr int MOVE_ATTEMPTS = 10;
constexpr std::uint32_t MOVE_PAUSE_MS = 50;

bool Failed(const std::string& what, DWORD failure, bool* folderMissing, std::string* error) {
    *error = what + ": system error " + std::to_string(failure);
    *folderMissing = failure == ERROR_PATH_NOT_FOUND;
    return false;
}

}  // namespace

bool ReplaceTextFile(const std::string& path, const std::string& contents, bool* folderMissing, std::string* error) {
    *folderMissing = false;
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of("\\/");
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
    const std::string temporary = stem + ".tmp." + std::to_string(GetCurrentProcessId());
    const std::wstring wideTemporary = WideOfUtf8(temporary);
    const std::wstring widePath = WideOfUtf8(path);
    HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed("could not write " + temporary, GetLastError(), folderMissing, error);
    DWORD failure = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < contents.size() && failure == ERROR_SUCCESS) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(contents.size() - done > 0x10000000 ? 0x10000000 : contents.size() - done);
        if (!WriteFile(file, contents.data() + done, chunk, &written, nullptr) || written == 0) failure = GetLastError();
        done += written;
    }
    if (failure == ERROR_SUCCESS && !FlushFileBuffers(file)) failure = GetLastError();
    if (!CloseHandle(file) && failure == ERROR_SUCCESS) failure = GetLastError();
    for (int attempt = 0; failure == ERROR_SUCCESS; ++attempt) {
        if (MoveFileExW(wideTemporary.c_str(), widePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        const DWORD moveFailure = GetLastError();
        const bool held = moveFailure == ERROR_ACCESS_DENIED || moveFailure == ERROR_SHARING_VIOLATION;
        if (!held || attempt + 1 >= MOVE_ATTEMPTS) failure = moveFailure;
        else SystemPause(MOVE_PAUSE_MS);
    }
    if (failure != ERROR_SUCCESS) {
        DeleteFileW(wideTemporary.c_str());
        return Failed("could not write " + path, failure, folderMissing, error);
    }
    return true;
}
