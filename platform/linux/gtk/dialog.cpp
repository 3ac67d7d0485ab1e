// The dialog of platform/window.h on GTK 3: the modal dialog and its loop, the events handed to
// the logic through one gate, control texts and states by ID, the window icon.
#include "platform/linux/gtk/dialog.h"

#include <map>
#include <string>

#include "app/text.h"
#include "platform/linux/gtk/dialog_layout.h"
#include "platform/linux/gtk/embedded.h"
#include "platform/linux/gtk/hold.h"
#include "platform/linux/gtk/cairo_logo.h"
#include "platform/linux/gtk/progress.h"
#include "platform/linux/gtk/text.h"
#include "resources/resource_ids.h"

namespace {

struct RunningState {
    MainDialogWidgets widgets;
    GMainLoop* loop;
    bool ended;
    std::intptr_t result;
    bool gone;       // the window was destroyed by another X client
    int commanding;  // a button's command is running (the update among them)
};

RunningState g_running{};

// "Beenden", Escape and the close box all become the cancel command, as the dialog manager
// makes them on Windows.
void Cancel() {
    if (LogicTakesEvents()) OnCommand(COMMAND_CANCEL);
}

// A button's command is handed to the dialog procedure from an idle callback of its own, not
// from the signal handler. The update runs 31 s inside that command, and GLib does not
// dispatch a source again while it is dispatching: had the command run inside the source that
// delivered the click (the accessibility bus, for a click made by a screen reader or a test),
// that source would stay deaf for the whole update, and the held passes could not answer it.
// One command waits at a time; it is dropped if its button was disabled meanwhile, as a
// disabled button cannot be pressed, and if its turn comes in a held pass: a click that came
// just before the update began (on "Beenden" while the version question was open, say) is
// input during the update like any other, never run inside it.
int g_pendingCommand = 0;

void EndAfterWindowGone();

gboolean SendPendingCommand(gpointer) {
    const int id = g_pendingCommand;
    g_pendingCommand = 0;
    GtkWidget* button = ControlWidget(id);
    if (button != nullptr && gtk_widget_is_sensitive(button) && LogicTakesEvents()) {
        ++g_running.commanding;
        OnCommand(id);
        --g_running.commanding;
        EndAfterWindowGone();
    }
    return G_SOURCE_REMOVE;
}

void OnClicked(GtkWidget*, gpointer id) {
    if (!LogicTakesEvents() || g_pendingCommand != 0) return;
    g_pendingCommand = GPOINTER_TO_INT(id);
    g_idle_add_full(G_PRIORITY_DEFAULT, SendPendingCommand, nullptr, nullptr);
}

// A window destroyed by another X client (GTK destroys its widget when the X window goes) leaves
// the program with nothing to show or to be ended by. It ends as "Beenden" ends it, but not in
// the middle of a command: the write goes on to its end, and the program ends when the command
// returns. Message boxes the logic asks for meanwhile have no owner left and are not shown.
void EndAfterWindowGone() {
    if (!g_running.gone || g_running.ended || g_running.commanding > 0) return;
    OnCommand(COMMAND_CANCEL);
    // The logic's UiEndDialog finds no dialog to end; the loop ends all the same.
    g_running.ended = true;
    g_running.result = COMMAND_CANCEL;
    if (g_running.loop != nullptr) g_main_loop_quit(g_running.loop);
}

void OnDestroyed(GtkWidget*, gpointer) {
    if (g_running.ended) return;
    g_running.gone = true;
    // Its controls go with it: the logic's calls after the write find none.
    g_running.widgets.window = nullptr;
    g_running.widgets.logoArea = nullptr;
    g_running.widgets.controls.clear();
    EndAfterWindowGone();
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer) {
    Cancel();
    return TRUE;  // the dialog goes when the logic ends it, not before
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    Cancel();
    return TRUE;
}

// A main-loop source per timer. A tick that falls in a held pass is skipped, as Windows delivers
// no WM_TIMER while the update takes no messages; the next comes.
std::map<std::uintptr_t, guint> g_timers;

gboolean OnTimerTick(gpointer id) {
    if (LogicTakesEvents()) OnTimer(GPOINTER_TO_SIZE(id));
    return G_SOURCE_CONTINUE;
}

// The timers go with the dialog, as a window's timers do.
void KillAllTimers() {
    for (const auto& timer : g_timers) g_source_remove(timer.second);
    g_timers.clear();
}

void RepaintLogo() {
    if (g_running.widgets.logoArea != nullptr) gtk_widget_queue_draw(g_running.widgets.logoArea);
}

// What the logic last painted into the logo's area. A desktop may ask for the area again while
// the update holds the window system (the dialog loses the focus to the progress window, and
// GTK redraws it in its unfocused look); the dialog procedure may not be called then, so the
// area is painted from this copy, as a compositing desktop on Windows keeps showing a window
// that does not repaint.
cairo_surface_t* g_logoCopy = nullptr;

void ForgetLogoCopy() {
    if (g_logoCopy != nullptr) cairo_surface_destroy(g_logoCopy);
    g_logoCopy = nullptr;
}

// The logo's area is drawn by the logic. It draws in the dialog's coordinates (those of the
// top-level window, which UiGetWindowRect and UiGetDialogFrame also speak), so its context is
// moved to that origin; the drawing is kept to the area.
gboolean OnDrawLogo(GtkWidget* area, cairo_t* cr, gpointer) {
    const int width = gtk_widget_get_allocated_width(area);
    const int height = gtk_widget_get_allocated_height(area);
    const bool copyFits = g_logoCopy != nullptr && cairo_image_surface_get_width(g_logoCopy) == width &&
                          cairo_image_surface_get_height(g_logoCopy) == height;
    if (!LogicTakesEvents()) {
        if (copyFits) {
            cairo_set_source_surface(cr, g_logoCopy, 0, 0);
            cairo_paint(cr);
        } else {
            RepaintAfterHold(RepaintLogo);
        }
        return FALSE;
    }
    ForgetLogoCopy();
    g_logoCopy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* copy = cairo_create(g_logoCopy);
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(area, g_running.widgets.window, 0, 0, &x, &y);
    cairo_translate(copy, -x, -y);
    SetDialogPaintTarget(copy);
    OnPaint();
    SetDialogPaintTarget(nullptr);
    cairo_destroy(copy);
    cairo_set_source_surface(cr, g_logoCopy, 0, 0);
    cairo_paint(cr);
    return FALSE;
}

void ApplyTextColour(GtkWidget* widget, std::uint32_t colour) {
    char css[128];
    const char* selector = GTK_IS_TEXT_VIEW(widget) ? "textview:not(:disabled) text" : "label:not(:disabled)";
    g_snprintf(css, sizeof css, "%s { color: #%02x%02x%02x; }", selector, colour & 0xFF, (colour >> 8) & 0xFF,
               (colour >> 16) & 0xFF);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// The logic's text colour, asked once for each static control (the labels, the values and the
// read-only hint box) before the dialog is first shown: the answer depends on the control
// alone, and applied before the first frame the red lines never flash black. It is applied to
// the enabled control; a disabled one keeps the desktop's grey, as Windows draws a disabled
// static control grey whatever colour the dialog named. GTK labels have no background of their
// own and show the dialog's, as the logic asks.
void ApplyStaticColours() {
    static const int kStatic[] = {IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_INFO_TEXT,
                                  ID_HINT_LABEL, IDC_LABEL_FW3, IDC_VALUE_FW3};
    for (const int id : kStatic) {
        GtkWidget* widget = ControlWidget(id);
        std::uint32_t colour = 0;
        if (widget != nullptr && ControlTextColour(id, &colour)) ApplyTextColour(widget, colour);
    }
}

void Connect(const MainDialogWidgets& widgets) {
    g_signal_connect(widgets.window, "delete-event", G_CALLBACK(OnDelete), nullptr);
    g_signal_connect(widgets.window, "destroy", G_CALLBACK(OnDestroyed), nullptr);
    g_signal_connect(widgets.window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(widgets.logoArea, "draw", G_CALLBACK(OnDrawLogo), nullptr);
    for (const int id : {COMMAND_CANCEL, IDC_UPDATE})
        g_signal_connect(widgets.controls.at(id), "clicked", G_CALLBACK(OnClicked), GINT_TO_POINTER(id));
}

void SetWidgetText(GtkWidget* widget, const std::string& text) {
    if (GTK_IS_LABEL(widget)) {
        gtk_label_set_text(GTK_LABEL(widget), text.c_str());
    } else if (GTK_IS_BUTTON(widget)) {
        gtk_button_set_label(GTK_BUTTON(widget), text.c_str());
    } else if (GTK_IS_FRAME(widget)) {
        gtk_frame_set_label(GTK_FRAME(widget), text.c_str());
    } else if (GTK_IS_TEXT_VIEW(widget)) {
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)), text.c_str(), -1);
    }
}

// The text as GTK holds it, so that what the logic reads back is what the user sees.
std::u16string WidgetText(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) return Utf16FromUtf8(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_BUTTON(widget)) return Utf16FromUtf8(gtk_button_get_label(GTK_BUTTON(widget)));
    if (GTK_IS_FRAME(widget)) return Utf16FromUtf8(gtk_frame_get_label(GTK_FRAME(widget)));
    if (GTK_IS_TEXT_VIEW(widget)) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
        GtkTextIter start;
        GtkTextIter end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
        std::u16string result = Utf16FromUtf8(text);
        g_free(text);
        return result;
    }
    return std::u16string();
}

}  // namespace

GtkWidget* RunningDialog() { return g_running.widgets.window; }

bool DialogGone() { return g_running.gone; }

GtkWidget* ControlWidget(int controlId) {
    const auto found = g_running.widgets.controls.find(controlId);
    return found == g_running.widgets.controls.end() ? nullptr : found->second;
}

WindowHandle HandleOf(GtkWidget* window) { return reinterpret_cast<WindowHandle>(window); }

GtkWidget* TopLevelOf(WindowHandle window) {
    if (window == 0) return nullptr;
    if (window == HandleOf(RunningDialog())) return RunningDialog();
    if (window == HandleOf(LiveProgressWindow())) return LiveProgressWindow();
    return nullptr;
}

bool LogicTakesEvents() { return !IsHeld() && g_running.widgets.window != nullptr && !g_running.ended; }

// GTK was initialised by main() before the logic ran (it has to report a missing display,
// which this function cannot); every widget class, the progress bar's among them, is there.
void UiPrepareWindowSystem() {}

// Create the dialog from the template, let the logic initialise it, show it with the focus on
// the first tab stop ("Beenden") and run its loop until UiEndDialog. A dialog ended while it
// was initialised is never shown.
std::intptr_t UiRunDialog(ModuleHandle, std::uint16_t templateId) {
    if (templateId != IDD_MAIN || g_running.widgets.window != nullptr) return -1;
    g_running = {BuildMainDialog(), nullptr, false, 0, false, 0};
    Connect(g_running.widgets);
    // Every control of the template is visible (WS_VISIBLE) before the logic hides any.
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(g_running.widgets.window)));
    OnInitDialog(HandleOf(g_running.widgets.window));
    if (!g_running.ended) {
        ApplyStaticColours();
        gtk_widget_grab_focus(ControlWidget(COMMAND_CANCEL));
        gtk_window_present(GTK_WINDOW(g_running.widgets.window));
        g_running.loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(g_running.loop);
        g_main_loop_unref(g_running.loop);
    }
    KillAllTimers();
    if (g_running.widgets.window != nullptr) {
        g_signal_handlers_disconnect_by_func(g_running.widgets.window, reinterpret_cast<gpointer>(OnDestroyed), nullptr);
        gtk_widget_destroy(g_running.widgets.window);
    }
    ForgetLogoCopy();
    const std::intptr_t result = g_running.result;
    g_running = RunningState{};
    return result;
}

// The loop ends once the current event has been handled.
void UiEndDialog(std::intptr_t result) {
    if (g_running.widgets.window == nullptr || g_running.ended) return;
    g_running.ended = true;
    g_running.result = result;
    if (g_running.loop != nullptr) g_main_loop_quit(g_running.loop);
}

void UiSetTimer(std::uintptr_t id, std::uint32_t milliseconds) {
    if (g_running.widgets.window == nullptr) return;
    UiKillTimer(id);
    g_timers[id] = g_timeout_add(milliseconds, OnTimerTick, GSIZE_TO_POINTER(id));
}

void UiKillTimer(std::uintptr_t id) {
    const auto timer = g_timers.find(id);
    if (timer == g_timers.end()) return;
    g_source_remove(timer->second);
    g_timers.erase(timer);
}

void UiSetTitle(const char16_t* text) {
    if (GtkWidget* window = RunningDialog()) gtk_window_set_title(GTK_WINDOW(window), Utf8FromUtf16(text).c_str());
}

void UiSetControlText(int controlId, const char16_t* text) {
    if (GtkWidget* widget = ControlWidget(controlId)) SetWidgetText(widget, Utf8FromUtf16(text));
}

int UiGetControlTextLength(int controlId) {
    GtkWidget* widget = ControlWidget(controlId);
    return widget == nullptr ? 0 : static_cast<int>(WidgetText(widget).size());
}

int UiGetControlText(int controlId, char16_t* buffer, int capacity) {
    GtkWidget* widget = ControlWidget(controlId);
    const std::u16string text = widget == nullptr ? std::u16string() : WidgetText(widget);
    return CopyText(text.c_str(), buffer, capacity);
}

void UiEnableControl(int controlId, bool enable) {
    if (GtkWidget* widget = ControlWidget(controlId)) gtk_widget_set_sensitive(widget, enable ? TRUE : FALSE);
}

void UiShowControl(int controlId, bool show) {
    GtkWidget* widget = ControlWidget(controlId);
    if (widget == nullptr) return;
    if (show) gtk_widget_show(widget);
    else gtk_widget_hide(widget);
}

// The embedded icon file; gdk-pixbuf's ICO loader takes its largest image and the desktop scales
// it. Without it the window keeps the desktop's default icon.
void UiSetDialogIcon(std::uint16_t iconId) {
    GtkWidget* window = RunningDialog();
    if (window == nullptr || iconId != IDI_APP) return;
    GdkPixbuf* icon = DecodeEmbedded("ico", APP_ICO, APP_ICO_SIZE);
    if (icon == nullptr) return;
    gtk_window_set_icon(GTK_WINDOW(window), icon);
    g_object_unref(icon);
}
