// platform/state.h on Linux: the XDG state folder, the host name, the kernel's boot id, and
// whether a process still runs.
#include "platform/state.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

const char* const FILE_NAMES[] = {"history.sqlite3", "demo-history.sqlite3"};

// $XDG_STATE_HOME, which the base directory rules take only when it is absolute, else
// ~/.local/state; the home from $HOME, else from the user database (a service's user may have
// no $HOME).
std::string StateHome() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return state;
    const char* home = std::getenv("HOME");
    std::string folder = home != nullptr && home[0] == '/' ? home : "";
    if (folder.empty()) {
        char buffer[4096];
        passwd entry = {};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr && found->pw_dir != nullptr &&
            found->pw_dir[0] == '/') {
            folder = found->pw_dir;
        }
    }
    return folder.empty() ? "" : folder + "/.local/state";
}

}  // namespace

std::string StateDefaultHistoryPath(bool demo) {
    const std::string home = StateHome();
    return home.empty() ? "" : home + "/veltabox/" + FILE_NAMES[demo ? 1 : 0];
}

// The default place holds a record of what this user did to which box: folders made for it are
// the user's alone, as the base directory rules ask of the state folder. A place the operator
// names gets what the umask gives (a shared station's folder is the operator's to set up).
bool StateMakeFolderFor(const std::string& file, std::string* error) {
    const bool privately = file == StateDefaultHistoryPath(false) || file == StateDefaultHistoryPath(true);
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (mkdir(folder.c_str(), privately ? 0700 : 0777) == 0) continue;
        int failure = errno;
        struct stat status = {};
        if (failure == EEXIST) {
            if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
            failure = ENOTDIR;
        }
        if (error != nullptr) *error = "could not make the folder " + folder + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

std::string StateStationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::string StateBootId() {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(file, id);
    return id;
}

std::uint32_t StateProcessId() { return static_cast<std::uint32_t>(getpid()); }

// Signal 0 only asks whether the process may be signalled: EPERM means it exists but is another
// user's. Pid 0 and anything beyond pid_t would name a process group or nothing at all. A process
// that has ended still counts until its parent has reaped it.
bool StateProcessAlive(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}
