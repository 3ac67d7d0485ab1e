// How the dialog searches for the box, at start, on arrival and while it waits for a box that
// another program holds, and what it shows when the search found a box it cannot use.
#include "app/globals.h"
#include "app/main_window.h"
#include "device/discovery.h"
#include "platform/system.h"
#include "resources/resource_ids.h"

namespace {

// A box that has only just enumerated may refuse its first query for a moment. A query that
// failed sooner than this did not wait for an answer (a silent box takes the whole bound of
// the info request, and is never asked again), so it is asked again, up to three more times
// within about a second.
constexpr std::uint64_t QUICK_FAILURE_US = 500 * 1000;
constexpr int QUERY_RETRIES = 3;
constexpr std::uint32_t QUERY_RETRY_PAUSE_MS = 300;

// The reason shown in the hint box for a box that cannot be used, DEV_OK while none is. While a
// reason is shown the dialog looks again every second: letting go of a box raises no device
// event, and neither does access granted to a node (a udev rule installed, the user added to a
// group: at most a "change"). It also looks again when a device is removed, so that a reason does
// not outlive the box it names; the timer covers a removal told while the node was still listed.
constexpr std::uintptr_t LOOK_AGAIN_TIMER = 1;
constexpr std::uint32_t LOOK_AGAIN_MS = 1000;
std::int32_t g_shownReason = DEV_OK;

// Only a transfer that failed is worth a second try: a box the program itself refused (report
// lengths it cannot use), one that answered with an error word, or a kernel that refuses every
// query alike would give the same answer again.
bool FailedQueryAtOnce(std::int32_t found, std::uint64_t started) {
    return (found == DEV_ERR_READ || found == DEV_ERR_WRITE) && IsDeviceHeld(g_device) &&
           SystemClockMicroseconds() - started < QUICK_FAILURE_US;
}

}  // namespace

std::int32_t SearchForBox() {
    for (int attempt = 0;; ++attempt) {
        const std::uint64_t started = SystemClockMicroseconds();
        const std::int32_t found = FindDevice(g_device);
        if (attempt == QUERY_RETRIES || !FailedQueryAtOnce(found, started)) return found;
        SystemPause(QUERY_RETRY_PAUSE_MS);
    }
}

bool ShowUnusableBox(std::int32_t found) {
    std::uint32_t message = 0;
    switch (found) {
        case DEV_ERR_BUSY:
            message = IDS_BOX_BUSY;
            break;
        case DEV_ERR_DENIED:
            message = IDS_BOX_DENIED;
            break;
        case DEV_ERR_UNSUPPORTED:
            message = IDS_KERNEL_TOO_OLD;
            break;
        default:
            return false;
    }
    UiEnableControl(IDC_UPDATE, false);
    CloseDevice(g_device);  // a box on an old kernel was opened for its query
    ShowVersions();
    SetInfoText(message);
    if (g_shownReason == DEV_OK) UiSetTimer(LOOK_AGAIN_TIMER, LOOK_AGAIN_MS);
    g_shownReason = found;
    return true;
}

void ForgetUnusableBox() {
    if (g_shownReason != DEV_OK) UiKillTimer(LOOK_AGAIN_TIMER);
    g_shownReason = DEV_OK;
}

void LookAgain() {
    if (g_shownReason == DEV_OK) return;
    if (IsDeviceHeld(g_device)) return ForgetUnusableBox();  // a box arrived meanwhile
    const std::int32_t found = SearchForBox();
    if (found == g_shownReason) {
        CloseDevice(g_device);  // a box on an old kernel was opened again for its query
        return;                 // the text stays as it is
    }
    if (found == DEV_OK) {
        ForgetUnusableBox();
        return ShowArrivedBox();
    }
    if (ShowUnusableBox(found)) return;
    // The box is gone, or no longer answers: told as the removal of a held box is.
    ForgetUnusableBox();
    CloseDevice(g_device);
    UiEnableControl(IDC_UPDATE, false);
    ShowVersions();
    SetInfoTextWithInstructions(IDS_DISCONNECTED);
}

bool OnTimer(std::uintptr_t id) {
    if (id != LOOK_AGAIN_TIMER) return false;
    LookAgain();
    return true;
}
