#include "platform/linux/linux_windows.h"

#include <vector>

namespace {

struct Slot {
    GtkWidget* widget;  // null once GTK destroyed it
    WindowKind kind;
    int controlId;
};

// Handles start above the small numbers, so that 0 (no window), a control id or a truncated
// value never names a slot by accident.
constexpr WindowHandle FIRST_HANDLE = 0x10000;

std::vector<Slot> g_slots;

Slot* SlotOf(WindowHandle window) {
    if (window < FIRST_HANDLE) return nullptr;
    const auto index = static_cast<std::size_t>(window - FIRST_HANDLE);
    if (index >= g_slots.size() || g_slots[index].widget == nullptr) return nullptr;
    return &g_slots[index];
}

void OnDestroyed(GtkWidget* widget, gpointer data) {
    const auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(data));
    if (index < g_slots.size() && g_slots[index].widget == widget) g_slots[index].widget = nullptr;
}

}  // namespace

WindowHandle AddWindow(GtkWidget* widget, WindowKind kind, int controlId) {
    const std::size_t index = g_slots.size();
    g_slots.push_back({widget, kind, controlId});
    g_signal_connect(widget, "destroy", G_CALLBACK(OnDestroyed), reinterpret_cast<gpointer>(static_cast<std::uintptr_t>(index)));
    return FIRST_HANDLE + static_cast<WindowHandle>(index);
}

GtkWidget* WidgetOf(WindowHandle window) {
    const Slot* slot = SlotOf(window);
    return slot == nullptr ? nullptr : slot->widget;
}

GtkWidget* WidgetOf(WindowHandle window, WindowKind kind) {
    const Slot* slot = SlotOf(window);
    return slot == nullptr || slot->kind != kind ? nullptr : slot->widget;
}

WindowHandle ControlHandle(int controlId) {
    for (std::size_t i = 0; i < g_slots.size(); ++i)
        if (g_slots[i].widget != nullptr && g_slots[i].kind == WindowKind::Control && g_slots[i].controlId == controlId)
            return FIRST_HANDLE + static_cast<WindowHandle>(i);
    return 0;
}

void ForEachTopLevel(void (*visit)(WindowHandle window, GtkWidget* widget, void* data), void* data) {
    for (std::size_t i = 0; i < g_slots.size(); ++i)
        if (g_slots[i].widget != nullptr && g_slots[i].kind != WindowKind::Control)
            visit(FIRST_HANDLE + static_cast<WindowHandle>(i), g_slots[i].widget, data);
}
