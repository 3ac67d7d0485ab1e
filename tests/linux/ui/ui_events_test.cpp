// What reaches the logic, and when: udev events as device-change records, delivered by the
// main loop and inside a message box, never while an update holds the window system; input
// during the update dropped, and a command queued just before it; each progress position on the
// screen when the call returns.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <cstring>

#include "platform/linux/linux_hold.h"
#include "platform/linux/linux_notify.h"
#include "platform/linux/linux_windows.h"
#include "platform/window.h"
#include "platform/window_constants.h"
#include "resources/resource_ids.h"
#include "tests/linux/ui/ui_recorder.h"

namespace {

bool HasDeviceChange() {
    for (const DeliveredMessage& message : Delivered())
        if (message.message == WM_DEVICECHANGE) return true;
    return false;
}

// A window for the backend to deliver to, as the dialog would be.
struct TestWindow {
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    WindowHandle handle = AddWindow(widget, WindowKind::Dialog, 0);
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

TEST(DeviceChangeRecords, ArrivalAndRemovalOfANodeBecomeInterfaceRecords) {
    DeviceChange change;
    ASSERT_TRUE(DeviceChangeFor("add", "/dev/hidraw3", &change));
    EXPECT_EQ(change.eventCode, DBT_DEVICEARRIVAL);
    const DeviceBroadcastInterface* record = change.Record();
    EXPECT_EQ(record->dbcc_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
    // As long as the name, zero included: the logic reads the name within that size only.
    EXPECT_EQ(record->dbcc_size, offsetof(DeviceBroadcastInterface, dbcc_name) + 13 * sizeof(char16_t));
    EXPECT_EQ(std::u16string(record->dbcc_name), u"/dev/hidraw3");
    ASSERT_TRUE(DeviceChangeFor("remove", "/dev/hidraw3", &change));
    EXPECT_EQ(change.eventCode, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(std::u16string(change.Record()->dbcc_name), u"/dev/hidraw3");
}

TEST(DeviceChangeRecords, OtherActionsAndNodelessEventsAreNotPassedOn) {
    DeviceChange change;
    EXPECT_FALSE(DeviceChangeFor("change", "/dev/hidraw3", &change));
    EXPECT_FALSE(DeviceChangeFor("bind", "/dev/hidraw3", &change));
    EXPECT_FALSE(DeviceChangeFor("add", nullptr, &change));
    EXPECT_FALSE(DeviceChangeFor("add", "", &change));
    EXPECT_FALSE(DeviceChangeFor(nullptr, "/dev/hidraw3", &change));
}

TEST_F(HidrawEvents, AreDeliveredByTheMainLoopButWaitWhileTheUpdateHoldsIt) {
    TestWindow window;
    const NotifyHandle registration = UiRegisterHidNotifications(window.handle);
    ASSERT_NE(registration, 0);
    EXPECT_EQ(UiRegisterHidNotifications(window.handle), 0) << "one registration";

    const std::string syspath = AddHidraw("hidraw7");
    LetTheEventArrive();
    RunHeldPass();
    EXPECT_TRUE(Delivered().empty()) << "nothing reaches the logic during the transfer";
    ASSERT_TRUE(RunLoopUntil(HasDeviceChange, 2000)) << "the arrival comes once the update has returned";
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].wParam, DBT_DEVICEARRIVAL);
    EXPECT_EQ(Delivered()[0].name, u"/dev/hidraw7");

    ClearDelivered();
    umockdev_testbed_uevent(bed_, syspath.c_str(), "remove");
    ASSERT_TRUE(RunLoopUntil(HasDeviceChange, 2000));
    EXPECT_EQ(Delivered()[0].wParam, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(Delivered()[0].name, u"/dev/hidraw7");

    UiUnregisterNotifications(registration);
    ClearDelivered();
    umockdev_testbed_uevent(bed_, syspath.c_str(), "add");
    EXPECT_FALSE(RunLoopUntil(HasDeviceChange, 300)) << "nothing after the registration is cancelled";
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

TEST_F(HidrawEvents, AreDeliveredInsideAMessageBoxWhoseAnswersMapToWindowsValues) {
    TestWindow window;
    const NotifyHandle registration = UiRegisterHidNotifications(window.handle);
    ASSERT_NE(registration, 0);
    AddHidraw("hidraw8");
    LetTheEventArrive();

    g_answer = GTK_RESPONSE_YES;
    g_eventSeenWhileOpen = false;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_EQ(UiMessageBox(window.handle, u"Frage?", u"Titel", MB_YESNO | MB_ICONWARNING), IDYES);
    EXPECT_TRUE(g_eventSeenWhileOpen) << "the box's loop delivers device events, as MessageBoxW's does";

    g_answer = GTK_RESPONSE_NO;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_EQ(UiMessageBox(window.handle, u"Frage?", u"Titel", MB_YESNO | MB_ICONWARNING), IDNO);
    g_answer = GTK_RESPONSE_DELETE_EVENT;
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_EQ(UiMessageBox(window.handle, u"Frage?", u"Titel", MB_YESNO | MB_ICONWARNING), IDNO) << "closed unanswered";
    g_timeout_add(10, AnswerOnceTheEventCame, nullptr);
    EXPECT_EQ(UiMessageBox(window.handle, u"Fehler", u"Update fehlgeschlagen!", MB_ICONERROR), IDOK);
    UiUnregisterNotifications(registration);
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
    const WindowHandle progress = UiCreateProgressWindow(u"Firmware wird geschrieben, bitte warten...", 30, 40, 400, 50, 0, 0);
    g_progress = WidgetOf(progress, WindowKind::Progress);
    ASSERT_NE(g_progress, nullptr);
    ASSERT_TRUE(RunLoopUntil(ProgressMapped, 2000));
    UiSetProgressPosition(progress, 0);

    char16_t title[64];
    UiGetWindowText(progress, title, 64);
    EXPECT_EQ(std::u16string(title), u"Firmware wird geschrieben, bitte warten...");
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

    UiDestroyWindow(progress);
    EXPECT_EQ(WidgetOf(progress), nullptr) << "the handle names nothing once the window is gone";
    g_complaints = 0;
    const GLogFunc previous = g_log_set_default_handler(CountComplaint, nullptr);
    UiSetProgressPosition(progress, 10);
    g_log_set_default_handler(previous, nullptr);
    EXPECT_EQ(g_complaints, 0) << "a stale handle is refused, not handed to GTK";
    g_progress = nullptr;
}

namespace {

bool g_droppedInHold = false;
bool g_sentOutsideHold = false;

bool UpdateCommandCame() {
    for (const DeliveredMessage& message : Delivered())
        if (message.message == WM_COMMAND && message.wParam == IDC_UPDATE) return true;
    return false;
}

void EndIfDialog(WindowHandle handle, GtkWidget*, void*) {
    if (WidgetOf(handle, WindowKind::Dialog) != nullptr) UiEndDialog(handle, IDCANCEL);
}

// Inside the dialog's loop: a click whose command is still queued when an update's held pass
// runs, then one when nothing is held.
gboolean ClickAroundAHold(gpointer) {
    const WindowHandle update = ControlHandle(IDC_UPDATE);
    UiEnableWindow(update, true);
    gtk_button_clicked(GTK_BUTTON(WidgetOf(update)));
    RunHeldPass();
    g_droppedInHold = !RunLoopUntil(UpdateCommandCame, 300);
    gtk_button_clicked(GTK_BUTTON(WidgetOf(update)));
    g_sentOutsideHold = RunLoopUntil(UpdateCommandCame, 2000);
    ForEachTopLevel(EndIfDialog, nullptr);
    return G_SOURCE_REMOVE;
}

}  // namespace

TEST(HeldWindowSystem, ACommandQueuedBeforeTheUpdateIsDroppedNotRunInsideIt) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    ClearDelivered();
    g_timeout_add(50, ClickAroundAHold, nullptr);
    EXPECT_EQ(UiRunDialog(0, IDD_MAIN), IDCANCEL);
    EXPECT_TRUE(g_droppedInHold) << "the command whose turn came in a held pass ran, after it or inside it";
    EXPECT_TRUE(g_sentOutsideHold) << "a click outside the update is acted on";
}
