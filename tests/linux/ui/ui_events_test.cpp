// What reaches the logic, and when: udev events as arrivals and removals of a node, delivered by
// the main loop and inside a message box, never while an update holds the window system; input
// during the update dropped, and a command queued just before it; each progress position on the
// screen when the call returns.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <unistd.h>

#include <cstring>

#include <glib-unix.h>

#include "platform/linux/gtk/dialog.h"
#include "platform/linux/gtk/hold.h"
#include "platform/linux/gtk/udev_monitor.h"
#include "platform/linux/gtk/progress.h"
#include "platform/window.h"
#include "resources/resource_ids.h"
#include "tests/linux/ui/ui_recorder.h"

namespace {

bool HasDeviceChange() {
    for (const DeliveredEvent& event : Delivered())
        if (event.kind == DeliveredEvent::Arrival || event.kind == DeliveredEvent::Removal) return true;
    return false;
}

struct TestWindow {
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    ~TestWindow() { gtk_widget_destroy(widget); }
};

bool PreloadIsLoaded() {
    gchar* maps = nullptr;
    if (!g_file_get_contents("/proc/self/maps", &maps, nullptr, nullptr)) return false;
    const bool loaded = std::strstr(maps, "libumockdev-preload") != nullptr;
    g_free(maps);
    return loaded;
}

// A umockdev testbed in this process: its hidraw devices and their uevents are what the
// backend's udev monitor sees.
class HidrawEvents : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "no display";
        if (!PreloadIsLoaded()) GTEST_SKIP() << "run under LD_PRELOAD=libumockdev-preload.so.0 (ctest does)";
        bed_ = umockdev_testbed_new();
        ClearDelivered();
    }
    void TearDown() override {
        if (bed_ != nullptr) g_object_unref(bed_);
    }
    std::string AddHidraw(const char* name) {
        gchar* path = umockdev_testbed_add_device(bed_, "hidraw", name, nullptr, nullptr,
                                                   "DEVNAME", (std::string("/dev/") + name).c_str(), nullptr);
        std::string syspath = path != nullptr ? path : "";
        g_free(path);
        return syspath;
    }
    // Long enough for the uevent to be in the monitor's socket.
    static void LetTheEventArrive() { g_usleep(100 * 1000); }
    UMockdevTestbed* bed_ = nullptr;
};

}  // namespace

TEST(InterfaceEvents, AddAndRemoveOfANodeAreTheOnlyOnesPassedOn) {
    InterfaceEvent event;
    ASSERT_TRUE(InterfaceEventFor("add", "/dev/hidraw3", &event));
    EXPECT_TRUE(event.arrival);
    EXPECT_EQ(event.path, u"/dev/hidraw3");
    ASSERT_TRUE(InterfaceEventFor("remove", "/dev/hidraw3", &event));
    EXPECT_FALSE(event.arrival);
    EXPECT_FALSE(InterfaceEventFor("change", "/dev/hidraw3", &event));
    EXPECT_FALSE(InterfaceEventFor("bind", "/dev/hidraw3", &event));
    EXPECT_FALSE(InterfaceEventFor("add", nullptr, &event));
    EXPECT_FALSE(InterfaceEventFor("add", "", &event));
    EXPECT_FALSE(InterfaceEventFor(nullptr, "/dev/hidraw3", &event));
}

TEST_F(HidrawEvents, AreDeliveredByTheMainLoopButWaitWhileTheUpdateHoldsIt) {
    const NotifyHandle watch = UiWatchHidInterfaces();
    ASSERT_NE(watch, 0);
    EXPECT_EQ(UiWatchHidInterfaces(), 0) << "one watch";

    const std::string syspath = AddHidraw("hidraw7");
    LetTheEventArrive();
    RunHeldPass();
    EXPECT_TRUE(Delivered().empty()) << "nothing reaches the logic during the transfer";
    ASSERT_TRUE(RunLoopUntil(HasDeviceChange, 2000)) << "the arrival comes once the update has returned";
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].kind, DeliveredEvent::Arrival);
    EXPECT_EQ(Delivered()[0].path, u"/dev/hidraw7");

    ClearDelivered();
    umockdev_testbed_uevent(bed_, syspath.c_str(), "remove");
    ASSERT_TRUE(RunLoopUntil(HasDeviceChange, 2000));
    EXPECT_EQ(Delivered()[0].kind, DeliveredEvent::Removal);
    EXPECT_EQ(Delivered()[0].path, u"/dev/hidraw7");

    UiStopWatching(watch);
    ClearDelivered();
    umockdev_testbed_uevent(bed_, syspath.c_str(), "add");
    EXPECT_FALSE(RunLoopUntil(HasDeviceChange, 300)) << "nothing after the watch is stopped";
}

namespace {

int g_answer = 0;
bool g_eventSeenWhileOpen = false;

GtkWidget* OpenMessageBox() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* at = windows; at != nullptr; at = at->next)
        if (GTK_IS_MESSAGE_DIALOG(at->data) && gtk_widget_get_visible(GTK_WIDGET(at->data))) found = GTK_WIDGET(at->data);
    g_list_free(windows);
    return found;
}

// Waits, inside the box's own loop, for the device event, then answers the box.
gboolean AnswerOnceTheEventCame(gpointer) {
    GtkWidget* box = OpenMessageBox();
    if (box == nullptr) return G_SOURCE_CONTINUE;
    static int waited = 0;
    if (!HasDeviceChange() && ++waited < 200) return G_SOURCE_CONTINUE;
    waited = 0;
    g_eventSeenWhileOpen = HasDeviceChange();
    gtk_dialog_response(GTK_DIALOG(box), g_answer);
    return G_SOURCE_REMOVE;
}

}  // namespace

TEST_F(HidrawEvents, AreDeliveredInsideAMessageBoxWhoseAnswersAreTaken) {
    const NotifyHandle watch = UiWatchHidInterfaces();
    ASSERT_NE(watch, 0);
    AddHidraw("hidraw8");
    LetTheEventArrive();

    g_answer = GTK_RESPONSE_YES;
    g_eventSeenWhileOpen = false;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_TRUE(UiAskYesNo(u"Frage?", u"Titel"));
    EXPECT_TRUE(g_eventSeenWhileOpen) << "the box's loop delivers device events, as MessageBoxW's does";

    g_answer = GTK_RESPONSE_NO;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_FALSE(UiAskYesNo(u"Frage?", u"Titel"));
    g_answer = GTK_RESPONSE_DELETE_EVENT;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_FALSE(UiAskYesNo(u"Frage?", u"Titel")) << "closed unanswered";
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    UiShowError(u"Fehler", u"Update fehlgeschlagen!");
    UiStopWatching(watch);
}

namespace {

int g_keysSeen = 0;

gboolean CountKey(GtkWidget*, GdkEventKey*, gpointer) {
    ++g_keysSeen;
    return TRUE;
}

void PutEscape(GtkWidget* widget) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->key.keyval = GDK_KEY_Escape;
    event->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gdk_event_put(event);
    gdk_event_free(event);
}

bool KeySeen() { return g_keysSeen > 0; }

}  // namespace

TEST(HeldWindowSystem, InputDuringTheTransferIsDroppedNotKeptForLater) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    TestWindow window;
    g_signal_connect(window.widget, "key-press-event", G_CALLBACK(CountKey), nullptr);
    gtk_widget_show(window.widget);
    g_keysSeen = 0;
    PutEscape(window.widget);
    ASSERT_TRUE(RunLoopUntil(KeySeen, 2000)) << "a key outside an update arrives";

    g_keysSeen = 0;
    PutEscape(window.widget);
    RunHeldPass();
    EXPECT_FALSE(RunLoopUntil(KeySeen, 300)) << "Escape pressed during the write must not end the program afterwards";
}

namespace {

// The bar's colour at a share of its width, read back from the X server.
std::uint32_t BarPixel(GtkWidget* window, double share) {
    GdkWindow* surface = gtk_widget_get_window(window);
    const int width = gdk_window_get_width(surface);
    const int height = gdk_window_get_height(surface);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(surface, 0, 0, width, height);
    if (shot == nullptr) return 0;
    const int x = static_cast<int>(width * share);
    const guchar* pixel = gdk_pixbuf_get_pixels(shot) + (height / 2) * gdk_pixbuf_get_rowstride(shot) +
                          x * gdk_pixbuf_get_n_channels(shot);
    const std::uint32_t colour = static_cast<std::uint32_t>(pixel[0]) << 16 | pixel[1] << 8 | pixel[2];
    g_object_unref(shot);
    return colour;
}

GtkWidget* g_progress = nullptr;
bool ProgressMapped() { return g_progress != nullptr && gtk_widget_get_mapped(g_progress); }

// GTK's warnings and criticals: what a widget function says when it is handed a null widget.
int g_complaints = 0;
void CountComplaint(const gchar*, GLogLevelFlags level, const gchar*, gpointer) {
    if ((level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0) ++g_complaints;
}

}  // namespace

TEST(HeldWindowSystem, EachProgressPositionIsOnTheScreenWhenTheCallReturns) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    const WindowHandle progress = UiCreateProgressWindow(u"Firmware wird geschrieben, bitte warten...", 30, 40, 400, 50);
    g_progress = TopLevelOf(progress);
    ASSERT_NE(g_progress, nullptr);
    EXPECT_EQ(g_progress, LiveProgressWindow());
    ASSERT_TRUE(RunLoopUntil(ProgressMapped, 2000));
    UiSetProgressPosition(progress, 0);

    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(g_progress)), "Firmware wird geschrieben, bitte warten...");
    WindowRect rect{};
    ASSERT_TRUE(UiGetWindowRect(progress, &rect));
    EXPECT_EQ(rect.right - rect.left, 400) << "the outer size asked for (no window manager here)";
    EXPECT_EQ(rect.bottom - rect.top, 50);

    const std::uint32_t empty = BarPixel(g_progress, 0.75);
    UiSetProgressPosition(progress, 50);
    const std::uint32_t filled = BarPixel(g_progress, 0.25);
    EXPECT_NE(filled, empty) << "50 % shows at once";
    EXPECT_EQ(BarPixel(g_progress, 0.75), empty) << "and no further";
    UiSetProgressPosition(progress, 100);
    EXPECT_EQ(BarPixel(g_progress, 0.75), filled) << "100 % shows at once";

    UiCloseProgressWindow(progress);
    EXPECT_EQ(TopLevelOf(progress), nullptr) << "the handle names nothing once the window is gone";
    g_complaints = 0;
    const GLogFunc previous = g_log_set_default_handler(CountComplaint, nullptr);
    UiSetProgressPosition(progress, 10);
    g_log_set_default_handler(previous, nullptr);
    EXPECT_EQ(g_complaints, 0) << "a stale handle is refused, not handed to GTK";
    g_progress = nullptr;
}

namespace {

// A client that asks its next question only once the previous one is answered, as a screen
// reader walks the accessibility tree: a byte down one pipe, the answer up the other.
constexpr int QUESTIONS = 5;
int g_questions[2];
int g_answers[2];

gboolean Answer(gint fd, GIOCondition, gpointer) {
    char question = 0;
    if (read(fd, &question, 1) == 1 && write(g_answers[1], &question, 1) != 1) return G_SOURCE_REMOVE;
    return G_SOURCE_CONTINUE;
}

gpointer AskInTurn(gpointer) {
    int answered = 0;
    for (char question = 0; question < QUESTIONS; ++question) {
        if (write(g_questions[1], &question, 1) != 1) break;
        GPollFD answer = {g_answers[0], G_IO_IN, 0};
        // Far longer than the pause below: a question left for a later pass ends the count.
        if (g_poll(&answer, 1, 5000) != 1) break;
        char got = 0;
        if (read(g_answers[0], &got, 1) != 1 || got != question) break;
        ++answered;
    }
    return GINT_TO_POINTER(answered);
}

int AnsweredWithinOnePause(std::uint32_t pauseUs) {
    if (!g_unix_open_pipe(g_questions, FD_CLOEXEC, nullptr) || !g_unix_open_pipe(g_answers, FD_CLOEXEC, nullptr))
        return -1;
    const guint watch = g_unix_fd_add(g_questions[0], G_IO_IN, Answer, nullptr);
    GThread* client = g_thread_new("client", AskInTurn, nullptr);
    UiServeDesktop(pauseUs);
    // What the pause left unanswered is not answered any more: the client gives up.
    g_source_remove(watch);
    const int answered = GPOINTER_TO_INT(g_thread_join(client));
    for (const int fd : {g_questions[0], g_questions[1], g_answers[0], g_answers[1]}) close(fd);
    return answered;
}

}  // namespace

TEST(HeldWindowSystem, AChainOfQuestionsIsAnsweredWithinOnePauseNotOneAnswerPerPass) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    // A second is plenty for five round trips, however loaded the machine.
    EXPECT_EQ(AnsweredWithinOnePause(1000 * 1000), QUESTIONS);
}

namespace {

int g_frames = 0;
void CountFrame(GdkFrameClock*, gpointer) { ++g_frames; }

}  // namespace

TEST(HeldWindowSystem, APositionAlreadyOnTheScreenAsksForNoFrame) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    const WindowHandle progress = UiCreateProgressWindow(u"Firmware wird geschrieben, bitte warten...", 30, 40, 400, 50);
    g_progress = TopLevelOf(progress);
    ASSERT_NE(g_progress, nullptr);
    ASSERT_TRUE(RunLoopUntil(ProgressMapped, 2000));
    UiSetProgressPosition(progress, 30);
    GdkFrameClock* clock = gtk_widget_get_frame_clock(g_progress);
    const gulong watch = g_signal_connect(clock, "after-paint", G_CALLBACK(CountFrame), nullptr);
    g_frames = 0;
    UiSetProgressPosition(progress, 30);
    EXPECT_EQ(g_frames, 0) << "the same position again waited for a frame";
    UiSetProgressPosition(progress, 31);
    EXPECT_GT(g_frames, 0) << "a new position is painted before the call returns";
    g_signal_handler_disconnect(clock, watch);
    UiCloseProgressWindow(progress);
    g_progress = nullptr;
}

namespace {

bool g_droppedInHold = false;
bool g_sentOutsideHold = false;

bool UpdateCommandCame() {
    for (const DeliveredEvent& event : Delivered())
        if (event.kind == DeliveredEvent::Command && event.id == IDC_UPDATE) return true;
    return false;
}

// Inside the dialog's loop: a click whose command is still queued when an update's held pass
// runs, then one when nothing is held.
gboolean ClickAroundAHold(gpointer) {
    UiEnableControl(IDC_UPDATE, true);
    gtk_button_clicked(GTK_BUTTON(ControlWidget(IDC_UPDATE)));
    RunHeldPass();
    g_droppedInHold = !RunLoopUntil(UpdateCommandCame, 300);
    gtk_button_clicked(GTK_BUTTON(ControlWidget(IDC_UPDATE)));
    g_sentOutsideHold = RunLoopUntil(UpdateCommandCame, 2000);
    UiEndDialog(COMMAND_CANCEL);
    return G_SOURCE_REMOVE;
}

}  // namespace

TEST(HeldWindowSystem, ACommandQueuedBeforeTheUpdateIsDroppedNotRunInsideIt) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    ClearDelivered();
    g_timeout_add(50, ClickAroundAHold, nullptr);
    EXPECT_EQ(UiRunDialog(0, IDD_MAIN), COMMAND_CANCEL);
    EXPECT_TRUE(g_droppedInHold) << "the command whose turn came in a held pass ran, after it or inside it";
    EXPECT_TRUE(g_sentOutsideHold) << "a click outside the update is acted on";
}
