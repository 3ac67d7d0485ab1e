// platform/service.h on Linux: libsystemd's sd_notify and sd_journal_sendv.
#include "platform/service.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-daemon.h>
// The entries are the station's, not this file's: no CODE_FILE, CODE_LINE or CODE_FUNC in them.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A status line is one line: a newline in it would begin another assignment.
bool Notify(const std::string& state, const std::string& status) {
    std::string message = state;
    std::string line = status;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    if (!status.empty()) message += (message.empty() ? "" : "\n") + std::string("STATUS=") + line;
    // The variables stay set: every later status and ping comes from this same process.
    return sd_notify(0, message.c_str()) > 0;
}

}  // namespace

bool ServiceReady(const std::string& status) { return Notify("READY=1", status); }
bool ServiceStatus(const std::string& status) { return Notify("", status); }
bool ServiceStopping(const std::string& status) { return Notify("STOPPING=1", status); }
bool ServiceAlive() { return Notify("WATCHDOG=1", ""); }

// sd_watchdog_enabled also checks WATCHDOG_PID, so that a child that inherited the variables
// does not ping for its parent.
std::uint64_t ServiceWatchdogMicroseconds() {
    std::uint64_t interval = 0;
    return sd_watchdog_enabled(0, &interval) > 0 ? interval : 0;
}

// JOURNAL_STREAM holds the device and inode of the stream the service manager connected to the
// journal; a descriptor that still is that stream, and not one the program was started with
// instead (a shell's redirection inside the unit, a pipe), is the journal.
bool JournalConnected() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat status = {};
        if (fstat(fd, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
            static_cast<unsigned long long>(status.st_ino) == inode) {
            return true;
        }
    }
    return false;
}

// One datagram to journald's own socket: it waits on journald at most, never on whoever reads
// the journal or the program's output.
bool JournalSend(const std::vector<JournalField>& fields) {
    std::vector<std::string> assignments;
    assignments.reserve(fields.size());
    for (const JournalField& field : fields) assignments.push_back(field.name + "=" + field.value);
    std::vector<iovec> vectors(assignments.size());
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        vectors[i].iov_base = const_cast<char*>(assignments[i].data());
        vectors[i].iov_len = assignments[i].size();
    }
    return sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) == 0;
}
