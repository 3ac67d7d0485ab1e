#include "platform/linux/session/stop_signals.h"

#include <signal.h>

namespace {

constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];

// The first signal that came; the write loop runs inside a main-loop callback, so nothing but
// this record is looked at until the write has ended.
volatile sig_atomic_t g_deferred = 0;
bool g_deferring = false;
struct sigaction g_previous[COUNT];
bool g_replaced[COUNT];

void Note(int signal) {
    if (g_deferred == 0) g_deferred = signal;
}

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : STOP_SIGNALS) sigaddset(&set, signal);
    return set;
}

}  // namespace

void DeferStopSignals() {
    if (g_deferring) return;
    g_deferring = true;
    g_deferred = 0;
    struct sigaction note = {};
    note.sa_handler = Note;
    // The box's reports and pauses go on across the signal instead of failing with EINTR.
    note.sa_flags = SA_RESTART;
    note.sa_mask = StopSet();
    for (int i = 0; i < COUNT; ++i) {
        sigaction(STOP_SIGNALS[i], nullptr, &g_previous[i]);
        g_replaced[i] = g_previous[i].sa_handler != SIG_IGN;
        if (g_replaced[i]) sigaction(STOP_SIGNALS[i], &note, nullptr);
    }
}

// The signals are blocked while the dispositions go back, so that one arriving in between is
// not lost: it stays pending and takes its default action when they are unblocked again.
void EndStopSignalDeferral() {
    if (!g_deferring) return;
    const sigset_t stops = StopSet();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &stops, &before);
    for (int i = 0; i < COUNT; ++i)
        if (g_replaced[i]) sigaction(STOP_SIGNALS[i], &g_previous[i], nullptr);
    g_deferring = false;
    const int deferred = g_deferred;
    g_deferred = 0;
    if (deferred != 0) {
        struct sigaction end = {};
        end.sa_handler = SIG_DFL;
        sigemptyset(&end.sa_mask);
        sigaction(deferred, &end, nullptr);
        raise(deferred);
        sigdelset(&before, deferred);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}
