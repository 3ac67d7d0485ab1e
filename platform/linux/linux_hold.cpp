#include "platform/linux/linux_hold.h"

#include <gtk/gtk.h>

#include "platform/linux/linux_display_loss.h"
#include "platform/linux/linux_pass_gap.h"
#include "platform/window.h"

namespace {

// Enough for the expose, configure, focus and accessibility traffic of one block's 20 ms; the
// bound keeps a flood of events from eating into the box's pause.
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

gboolean NoteTimeUp(gpointer timeUp) {
    *static_cast<bool*>(timeUp) = true;
    return G_SOURCE_REMOVE;
}

}  // namespace

bool IsHeld() { return g_held; }

void RunHeldPassUntil(bool (*done)(), int maxMilliseconds) {
    // On a lost display GDK would spin on the dead connection; the write goes on without passes.
    if (g_held || DisplayLost()) return;
    g_held = true;
    NotePassStart();
    gdk_event_handler_set(FilterWhileHeld, nullptr, nullptr);
    for (int i = 0; i < MAX_DISPATCHES && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    if (done != nullptr && !done()) {
        // A timer of its own, so that the wait ends in time even when nothing else stirs.
        bool timeUp = false;
        const guint timer = g_timeout_add(static_cast<guint>(maxMilliseconds), NoteTimeUp, &timeUp);
        while (!done() && !timeUp) g_main_context_iteration(nullptr, TRUE);
        if (!timeUp) g_source_remove(timer);
    }
    gdk_event_handler_set(PassOn, nullptr, nullptr);
    NotePassEnd();
    g_held = false;
}

void RunHeldPass() { RunHeldPassUntil(nullptr, 0); }

// The erase's 115 pages take 4.6 s without a progress position: a held pass after each.
void UiServeDesktop() { RunHeldPass(); }

void RepaintAfterHold(void (*repaint)()) { g_repaint = repaint; }

void EndHold() {
    RunHeldPass();
    if (g_repaint == nullptr) return;
    void (*repaint)() = g_repaint;
    g_repaint = nullptr;
    repaint();
}
