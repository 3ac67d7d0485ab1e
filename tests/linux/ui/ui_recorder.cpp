#include "tests/linux/ui/ui_recorder.h"

#include "platform/window.h"

namespace {

std::vector<DeliveredEvent> g_delivered;

}  // namespace

std::vector<DeliveredEvent>& Delivered() { return g_delivered; }
void ClearDelivered() { g_delivered.clear(); }

int RunProgram(ModuleHandle) { return 0; }
void OnInitDialog(WindowHandle) {}
bool OnCommand(int id) {
    g_delivered.push_back({DeliveredEvent::Command, {}, id});
    return true;
}
void OnPaint() { g_delivered.push_back({DeliveredEvent::Paint, {}, 0}); }
bool ControlTextColour(int, std::uint32_t*) { return false; }
bool OnTimer(std::uintptr_t id) {
    g_delivered.push_back({DeliveredEvent::Timer, {}, static_cast<int>(id)});
    return true;
}
void OnInterfaceArrival(const char16_t* path) { g_delivered.push_back({DeliveredEvent::Arrival, path, 0}); }
void OnInterfaceRemoval(const char16_t* path) { g_delivered.push_back({DeliveredEvent::Removal, path, 0}); }

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
