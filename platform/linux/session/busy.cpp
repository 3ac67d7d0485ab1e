// What the desktop is kept from doing to the write, and what the write keeps for its end: the
// logind and session-manager locks (inhibitors.h), the stop signals (stop_signals.h) and a lost
// display (display_loss.h). The locks are asked for without waiting; held passes answer the
// desktop until both have settled, at most as long as a bus that does not answer is given, and
// the write then starts with whatever was had.
#include <string>

#include "platform/linux/gtk/dialog.h"
#include "platform/linux/gtk/hold.h"
#include "platform/linux/gtk/pass_gap.h"
#include "platform/linux/gtk/text.h"
#include "platform/linux/session/display_loss.h"
#include "platform/linux/session/inhibitors.h"
#include "platform/linux/session/stop_signals.h"
#include "platform/window.h"

namespace {

constexpr int LOCK_WAIT_MS = 3000;

bool g_busy = false;

bool LocksSettled() { return LogindLockSettled() && LogoutLockSettled(); }

}  // namespace

void UiBeginBusy(const char16_t* reason) {
    if (g_busy) return;
    g_busy = true;
    BeginPassGapWatch();
    DeferStopSignals();
    HoldOffDisplayLoss(true);
    const std::string why = Utf8FromUtf16(reason);
    BeginLogindLock(why);
    BeginLogoutLock(why, RunningDialog());
    RunHeldPassUntil(LocksSettled, LOCK_WAIT_MS);
}

// The last of the write: once the locks are given back, a stop signal that came during it or a
// display that went ends the program here, before anything else is shown.
void UiEndBusy() {
    if (!g_busy) return;
    g_busy = false;
    EndLogindLock();
    EndLogoutLock();
    RunHeldPassUntil(LogoutLockReleased, LOCK_WAIT_MS);
    // What that wait left unpainted is painted once the main loop runs again.
    EndHold();
    EndPassGapWatch();
    EndStopSignalDeferral();
    EndIfDisplayLost();
    HoldOffDisplayLoss(false);
}
