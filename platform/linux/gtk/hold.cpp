#include "platform/linux/gtk/hold.h"

#include <algorithm>

#include <gtk/gtk.h>

#include "platform/linux/gtk/pass_gap.h"
#include "platform/linux/session/display_loss.h"
#include "platform/window.h"

namespace {

// Enough for what piled up while the loop was not served (expose, configure, focus and
// accessibility traffic); the bound keeps a flood of events from eating into the box's pause.
constexpr int MAX_DISPATCHES = 64;

bool g_held = false;
void (*g_repaint)() = nullptr;

bool IsInput(GdkEventType type) {
    switch (type) {
        case GDK_KEY_PRESS:
        case GDK_KEY_RELEASE:
        case GDK_BUTTON_PRESS:
        case GDK_2BUTTON_PRESS:
        case GDK_3BUTTON_PRESS:
        case GDK_BUTTON_RELEASE:
        case GDK_SCROLL:
        case GDK_TOUCH_BEGIN:
        case GDK_TOUCH_UPDATE:
        case GDK_TOUCH_END:
        case GDK_TOUCH_CANCEL:
        case GDK_TOUCHPAD_SWIPE:
        case GDK_TOUCHPAD_PINCH:
        case GDK_DELETE:
        case GDK_DRAG_ENTER:
        case GDK_DRAG_LEAVE:
        case GDK_DRAG_MOTION:
        case GDK_DROP_START:
            return true;
        default:
            return false;
    }
}

// Pointer motion and crossing pass: they only move the hover highlight and never act.
void FilterWhileHeld(GdkEvent* event, gpointer) {
    if (IsInput(event->type)) return;
    gtk_main_do_event(event);
}

void PassOn(GdkEvent* event, gpointer) { gtk_main_do_event(event); }

// Wakes the loop at a moment of its own (g_source_set_ready_time), so that a wait ends in time
// even when nothing else stirs.
gboolean Woken(GSource* source, GSourceFunc, gpointer) {
    g_source_set_ready_time(source, -1);
    return G_SOURCE_CONTINUE;
}

GSourceFuncs kWake = {nullptr, nullptr, Woken, nullptr, nullptr, nullptr};

// A screen reader's question is a chain of calls (find the control: its children, their ids,
// then the text), each asked only once the previous one is answered. A pass that only took what
// was ready would answer one of them per pass, 40 ms apart in the erase: two seconds for a read
// of fifty calls. So the pass stays with the loop, blocked in its poll, for as long as it is
// given, and answers each call as it comes.
void HeldPass(bool (*done)(), gint64 maxWaitUs, gint64 serveUs) {
    // On a lost display GDK would spin on the dead connection; the write goes on without passes.
    if (g_held || DisplayLost()) return;
    g_held = true;
    NotePassStart();
    gdk_event_handler_set(FilterWhileHeld, nullptr, nullptr);
    const gint64 start = g_get_monotonic_time();
    for (int i = 0; i < MAX_DISPATCHES && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    const gint64 doneBy = start + maxWaitUs;
    const gint64 serveUntil = start + serveUs;
    GSource* wake = nullptr;
    for (;;) {
        const gint64 now = g_get_monotonic_time();
        const bool waiting = done != nullptr && !done() && now < doneBy;
        if (!waiting && now >= serveUntil) break;
        if (wake == nullptr) {
            wake = g_source_new(&kWake, sizeof(GSource));
            g_source_attach(wake, nullptr);
        }
        g_source_set_ready_time(wake, waiting ? std::max(doneBy, serveUntil) : serveUntil);
        g_main_context_iteration(nullptr, TRUE);
    }
    if (wake != nullptr) {
        g_source_destroy(wake);
        g_source_unref(wake);
    }
    gdk_event_handler_set(PassOn, nullptr, nullptr);
    NotePassEnd();
    g_held = false;
}

}  // namespace

bool IsHeld() { return g_held; }

void RunHeldPassUntil(bool (*done)(), int maxMilliseconds) { HeldPass(done, gint64{maxMilliseconds} * 1000, 0); }

void RunHeldPass() { HeldPass(nullptr, 0, 0); }

// The loop is given back this long before the box's next report is due: its poll wakes in whole
// milliseconds, and a dispatch that has begun runs to its end.
constexpr gint64 GIVE_BACK_US = 3000;

// In the box's pauses, after each erased page and each data block.
void UiServeDesktop(std::uint32_t microseconds) {
    HeldPass(nullptr, 0, std::max<gint64>(0, gint64{microseconds} - GIVE_BACK_US));
}

void RepaintAfterHold(void (*repaint)()) { g_repaint = repaint; }

void EndHold() {
    RunHeldPass();
    if (g_repaint == nullptr) return;
    void (*repaint)() = g_repaint;
    g_repaint = nullptr;
    repaint();
}
