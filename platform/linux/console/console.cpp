// platform/console.h on Linux: the standard streams, the stop signals and logind's inhibitor.
#include "platform/console.h"
#include "platform/linux/console/console_wake.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

namespace {

std::atomic<int> g_stops{0};
std::atomic<int> g_interrupts{0};
std::atomic<int> g_firstSignal{0};
int g_wake[2] = {-1, -1};  // written by the handler, polled by ConsoleWaitForStop

void OnStop(int signal) {
    const int saved = errno;
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
    ++g_stops;
    if (signal == SIGINT) ++g_interrupts;
    const char byte = 1;
    if (g_wake[1] >= 0 && write(g_wake[1], &byte, 1) < 0) {
        // The pipe is full of earlier wake-ups: the waiter wakes all the same.
    }
    errno = saved;
}

int DescriptorOf(ConsoleStream stream) { return stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO; }

int g_inhibitor = -1;

}  // namespace

bool ConsoleIsTerminal(ConsoleStream stream) { return isatty(DescriptorOf(stream)) == 1; }

// Any terminal Linux offers takes the cursor movements of VT100; a "dumb" one (an editor's shell
// buffer) does not.
bool ConsoleCanRedraw() {
    const char* term = std::getenv("TERM");
    return ConsoleIsTerminal(ConsoleStream::Out) && term != nullptr && *term != 0 && std::strcmp(term, "dumb") != 0;
}

const char* ConsoleStopRequestNames() { return "Ctrl+C, SIGTERM or SIGHUP"; }

int ConsoleColumns() {
    winsize size = {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// Whole, or not at all: a stream that is gone (a terminal closed, a reader that went away) is
// not written to again.
void ConsoleWrite(ConsoleStream stream, const std::string& text) {
    const int fd = DescriptorOf(stream);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

// SA_RESTART, so that the writes and waits of the boxes' threads go on across the signal; the
// signals land on whichever thread, and each only counts. A signal the program was started to
// ignore (nohup's SIGHUP, SIGINT for a job put in the background by a script) stays ignored: whoever
// started it so has said that it is not for this program. A pipe that is gone must not end the
// program mid-write either (SIGPIPE): its writes fail and are given up.
void ConsoleCatchStopRequests() {
    if (g_wake[0] < 0 && pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
    struct sigaction action = {};
    action.sa_handler = OnStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

int ConsoleStopRequests(int* firstSignal) {
    if (firstSignal != nullptr) *firstSignal = g_firstSignal;
    return g_stops;
}

int ConsoleInterrupts() { return g_interrupts; }

int ConsoleWakeDescriptor() { return g_wake[0]; }

void ConsoleDrainWake() {
    char drained[64];
    while (g_wake[0] >= 0 && read(g_wake[0], drained, sizeof drained) > 0) {
    }
}

void ConsoleWaitForStop(std::uint32_t milliseconds) {
    if (g_wake[0] < 0) {
        usleep(milliseconds * 1000u);
        return;
    }
    pollfd wake = {g_wake[0], POLLIN, 0};
    if (poll(&wake, 1, static_cast<int>(milliseconds)) > 0) ConsoleDrainWake();
}

// A "block" inhibitor of systemd-logind for sleep, shutdown and the lid switch, held as long as
// the descriptor logind hands back stays open. A console program may wait for the answer: no
// window is left unanswered meanwhile.
bool ConsoleHoldOffSleep(bool holding, const std::string& reason) {
    if (!holding) {
        if (g_inhibitor >= 0) close(g_inhibitor);
        g_inhibitor = -1;
        return true;
    }
    if (g_inhibitor >= 0) return true;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    GUnixFDList* descriptors = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
        g_variant_new("(ssss)", "sleep:shutdown:handle-lid-switch", "VELTABOX Firmware Updater", reason.c_str(), "block"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &descriptors, nullptr, &error);
    if (reply != nullptr) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        if (descriptors != nullptr) g_inhibitor = g_unix_fd_list_get(descriptors, index, nullptr);
    }
    if (descriptors != nullptr) g_object_unref(descriptors);
    g_clear_error(&error);
    g_object_unref(bus);
    return g_inhibitor >= 0;
}
