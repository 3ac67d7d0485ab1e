#include "tests/linux/ui/ui_recorder.h"

#include "platform/window.h"
#include "platform/window_constants.h"

namespace {

std::vector<DeliveredMessage> g_delivered;

}  // namespace

std::vector<DeliveredMessage>& Delivered() { return g_delivered; }
void ClearDelivered() { g_delivered.clear(); }

std::intptr_t MainDialogProc(WindowHandle, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    DeliveredMessage delivered{message, wParam, {}};
    if (message == WM_DEVICECHANGE && lParam != 0)
        delivered.name = reinterpret_cast<const DeviceBroadcastInterface*>(lParam)->dbcc_name;
    g_delivered.push_back(delivered);
    return 0;
}

bool RunLoopUntil(bool (*done)(), int milliseconds) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(milliseconds) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() >= deadline) return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

bool HaveDisplay() {
    static const bool opened = gtk_init_check(nullptr, nullptr) != FALSE;
    return opened;
}
