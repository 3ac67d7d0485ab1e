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

// Letting go of a box raises no device event, so while another program holds the only box, the
// dialog looks again every second.
constexpr std::uintptr_t LOOK_AGAIN_TIMER = 1;
constexpr std::uint32_t LOOK_AGAIN_MS = 1000;
bool g_lookingAgain = false;

void StartLookingAgain() {
    if (g_lookingAgain) return;
    UiSetTimer(g_hMainDlg, LOOK_AGAIN_TIMER, LOOK_AGAIN_MS);
    g_lookingAgain = true;
}

bool FailedQueryAtOnce(std::int32_t found, std::uint64_t started) {
    // A held box is one that was opened and claimed but whose query failed; an old kernel
    // refuses every query alike.
    return found != DEV_OK && found != DEV_ERR_UNSUPPORTED && IsDeviceHeld(g_device) &&
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
    UiEnableWindow(UiGetControl(g_hMainDlg, IDC_UPDATE), false);
    CloseDevice(g_device);  // a box on an old kernel was opened for its query
    ShowVersions();
    SetInfoText(message);
    if (found == DEV_ERR_BUSY) {
        StartLookingAgain();
    } else {
        StopLookingAgain();
    }
    return true;
}

bool IsLookingAgain() { return g_lookingAgain; }

void StopLookingAgain() {
    if (!g_lookingAgain) return;
    UiKillTimer(g_hMainDlg, LOOK_AGAIN_TIMER);
    g_lookingAgain = false;
}

void LookAgain() {
    if (!g_lookingAgain) return;
    if (IsDeviceHeld(g_device)) return StopLookingAgain();  // a box arrived meanwhile
    const std::int32_t found = SearchForBox();
    if (found == DEV_ERR_BUSY) return;  // still held: the text stays as it is
    if (found == DEV_OK) {
        StopLookingAgain();
        return ShowArrivedBox();
    }
    if (ShowUnusableBox(found)) return;
    // The box is gone, or no longer answers: told as the removal of a held box is.
    StopLookingAgain();
    CloseDevice(g_device);
    UiEnableWindow(UiGetControl(g_hMainDlg, IDC_UPDATE), false);
    ShowVersions();
    SetInfoTextWithInstructions(IDS_DISCONNECTED);
}

std::intptr_t OnTimer(std::uintptr_t id) {
    if (id != LOOK_AGAIN_TIMER) return 0;
    LookAgain();
    return 1;
}
