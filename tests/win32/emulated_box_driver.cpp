// Uses the shipped program, veltabox-updater.exe with the real Win32 HID backend, against boxes
// emulated behind Wine's own HID stack (winebus, hidclass, hid.dll, the Setup API and the device
// notifications), as a person at the desk would: plugging boxes in and pulling them out while the
// program runs, reading the dialog and pressing its buttons. Each scenario is checked on both
// sides: on the screen, and on the box, through the emulator that plays it (what it was sent, what
// it refused, what its flash holds).
//
//   emulated_box_driver [--screenshots ACK_DIR] <scenario> <veltabox-updater.exe> <emulator port>
//
//   ready            a VELTA-HUB in bootloader mode present at start
//   wrong-mode       a box in application mode at start (with its two block reads)
//   hotplug          no box, then another HID device, then the box, then a second box
//   update           a whole update: the wire, the flash, the time
//   pull-mid-update  the box pulled out during the transfer, then plugged in again
//   pull-idle        the held box pulled out while nothing runs
//   version-question a box that already has this firmware; the question answered No
//   block-never      a box that never answers a block read
//   silent           a box that never answers an info request
//   short-reports    a box whose output reports cannot carry a whole data block
//   shared-box       three programs and one box: one updates it, one waits from before and one
//                    from mid-write, and the box hears from the first alone; the last takes it
//   shared-two-boxes two boxes, one held: a second program takes the free one
//
// Output as e2e_driver's: PASS/FAIL/INFO lines, then "N passed, M failed".
#include <winsock2.h>
#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/win32/e2e_support.h"
#include "tests/win32/emulator_link.h"
#include "tests/win32/hid_interface_paths.h"

namespace {

using namespace e2e;

// The protocol's command bytes of a whole update, as the emulator lists them: the query at
// discovery, unlock, 115 page erases, the address, 1311 data blocks, lock and finish.
const char kQuery[] = "08 0a";
const char kWholeUpdate[] = "08 0a 05 03*115 02 01*1311 04 07";
// Long enough for Wine to deliver a device notification and the program to act on it.
constexpr DWORD kSettleMs = 3000;

std::wstring WithInstructions(unsigned id) { return Message(id) + L"\r\n\r\n" + Message(IDS_INSTRUCTIONS); }

class Scenario {
public:
    Scenario(Results& results, EmulatorLink& link) : results_(results), link_(link) {}

    // Every command must be taken; the devices of earlier scenarios are pulled out first.
    bool Devices(std::initializer_list<const char*> commands) {
        bool ok = results_.Check(link_.Ask("clear") == "ok", "the emulator forgets earlier devices");
        for (const char* command : commands) {
            const std::string reply = link_.Ask(command);
            ok &= results_.Check(reply == "ok", std::string("the emulator takes \"") + command + "\"", reply);
        }
        return ok;
    }

    bool Plug(const std::string& name) {
        const std::string reply = link_.Ask("plug " + name);
        const bool ok = results_.Check(reply.rfind("ok /dev/hidraw", 0) == 0, name + " is plugged in", reply);
        if (ok) results_.Info(name + " appears as " + reply.substr(3));
        return ok;
    }

    void Unplug(const std::string& name) { results_.Check(link_.Ask("unplug " + name) == "ok", name + " is pulled out"); }

    // The box's side: each key=value of `expected` as the emulator reports it, and every answer
    // the program asked for stored by winebus before it asked (the pacer's work).
    void ExpectBox(const std::string& name, std::initializer_list<std::pair<const char*, const char*>> expected) {
        const std::string state = link_.Ask("state " + name);
        results_.Info(name + ": " + state);
        std::vector<std::pair<const char*, const char*>> fields(expected);
        fields.push_back({"late", "0"});
        fields.push_back({"unpaced", "0"});
        for (const auto& field : fields) {
            const std::string value = Field(state, field.first);
            results_.Check(value == field.second, name + " " + field.first + "=" + field.second, "it is \"" + value + "\"");
        }
        const std::string refusals = link_.Ask("refusals " + name);
        if (refusals != "ok") results_.Info(name + " refused: " + refusals.substr(3));
    }

    std::string State(const std::string& name) { return link_.Ask("state " + name); }
    std::string Commands(const std::string& name) { return link_.Ask("commands " + name); }
    std::string Timing(const std::string& name) { return link_.Ask("timing " + name); }

    void ExpectCommands(const std::string& name, const std::string& expected) {
        const std::string commands = Commands(name);
        results_.Check(commands == "ok" + (expected.empty() ? std::string() : " " + expected),
                       name + " received exactly " + (expected.empty() ? std::string("nothing") : expected), commands);
    }

private:
    Results& results_;
    EmulatorLink& link_;
};

void ExpectNoBoxShown(Results& results, const Dialog& dialog, const std::string& when) {
    ExpectEnabled(results, "'Update' is disabled " + when, dialog.Control(IDC_UPDATE), false);
    ExpectText(results, "IDC_VALUE_FW2 reads \"0.0.0\" " + when, dialog.Control(IDC_VALUE_FW2), L"0.0.0");
    ExpectEnabled(results, "the version group is disabled " + when, dialog.Control(IDC_VALUE_FW1), false);
}

void ExpectReadyShown(Results& results, const Dialog& dialog, const wchar_t* model, const wchar_t* firmware) {
    ExpectTextSoon(results, "hint is the ready text 40000", dialog.Control(IDC_INFO_TEXT), Message(IDS_READY), kStepTimeoutMs);
    ExpectEnabled(results, "'Update' is enabled", dialog.Control(IDC_UPDATE), true);
    ExpectText(results, "IDC_VALUE_FW1 reads the bootloader version \"1.2\"", dialog.Control(IDC_VALUE_FW1), L"1.2");
    ExpectText(results, "IDC_VALUE_FW2 reads the installed firmware \"" + Utf8(firmware) + "\"", dialog.Control(IDC_VALUE_FW2), firmware);
    ExpectText(results, "IDC_LABEL_FW2 reads \"" + Utf8(model) + "\"", dialog.Control(IDC_LABEL_FW2), model);
}

// A box that is not held any more must not change the window when it goes.
void ExpectNotHeld(Results& results, Scenario& scenario, const Dialog& dialog, const std::string& name, const std::wstring& hint) {
    scenario.Unplug(name);
    Sleep(kSettleMs);
    ExpectText(results, "pulling out " + name + " changes nothing: it was not held", dialog.Control(IDC_INFO_TEXT), hint);
}

// ---------------------------------------------------------------------------------------------

void Ready(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box hub pid=2 firmware=0x00010A00"}) || !scenario.Plug("hub")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    ExpectReadyShown(results, dialog, L"VELTA-HUB", L"1.10");
    for (const VersionControl& control : kVersionControls)
        ExpectEnabled(results, std::string(control.name) + " is enabled with a box", dialog.Control(control.id), true);
    ExpectFixedParts(results, dialog);
    scenario.ExpectCommands("hub", kQuery);
    scenario.ExpectBox("hub", {{"refused", "0"}, {"flash", "untouched"}});
    CloseWithBeenden(results, program, dialog);
}

void WrongMode(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box app mode=app appkind=3 firmware=0x00010B00"}) || !scenario.Plug("app")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    const std::wstring hint = WithInstructions(IDS_WRONG_MODE);
    ExpectText(results, "hint is the wrong-mode text (40015, blank line, 40001)", dialog.Control(IDC_INFO_TEXT), hint);
    ExpectNoBoxShown(results, dialog, "in the wrong mode");
    // Application mode with kind 3: both block answers were read through ReadFile.
    scenario.ExpectCommands("app", "08 1d 22");
    scenario.ExpectBox("app", {{"refused", "0"}, {"flash", "untouched"}});
    ExpectNotHeld(results, scenario, dialog, "app", hint);
    CloseWithBeenden(results, program, dialog);
}

void Hotplug(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"other mouse vid=0x046D pid=0xC077", "box vb firmware=0x00010A00", "box second firmware=0x00010A00"}))
        return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    const std::wstring noBox = WithInstructions(IDS_NO_BOX);
    ExpectText(results, "hint is the no-box text at start", dialog.Control(IDC_INFO_TEXT), noBox);

    if (!scenario.Plug("mouse")) return;
    Sleep(kSettleMs);
    ExpectText(results, "another HID device plugged in changes nothing", dialog.Control(IDC_INFO_TEXT), noBox);
    ExpectNoBoxShown(results, dialog, "with another HID device");

    if (!scenario.Plug("vb")) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.10");

    if (!scenario.Plug("second")) return;
    Sleep(kSettleMs);
    ExpectText(results, "a second box plugged in is ignored", dialog.Control(IDC_INFO_TEXT), Message(IDS_READY));
    scenario.ExpectCommands("second", "");
    scenario.ExpectCommands("vb", kQuery);
    CloseWithBeenden(results, program, dialog);
}

void Update(Results& results, Scenario& scenario, const std::wstring& path, const Screenshots& shots) {
    if (!scenario.Devices({"box vb firmware=0x00010A00"}) || !scenario.Plug("vb")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.10");
    // Each report here crosses Wine's HID stack and umockdev, some 1.7 ms that the program waits
    // out before it starts the box's 20 ms: the pause may only count from the moment the report
    // is known to have reached the box. 1430 of them are about 8 % of the floor.
    const UpdateWatch watch = WatchUpdate(results, program, dialog, shots, "screenshot-emulated-update");
    results.Info("the box's side of the time: " + scenario.Timing("vb"));
    scenario.ExpectCommands("vb", kWholeUpdate);
    scenario.ExpectBox("vb", {{"refused", "0"}, {"flash", "image"}, {"unlocked", "0"}, {"finished", "1"}});
    if (watch.succeeded < 0) return;
    ExpectEnabled(results, "'Update' is disabled after the update", dialog.Control(IDC_UPDATE), false);
    ExpectText(results, "IDC_VALUE_FW2 reads the new firmware \"1.11\"", dialog.Control(IDC_VALUE_FW2), L"1.11");
    CloseWithBeenden(results, program, dialog);
}

void PullMidUpdate(Results& results, Scenario& scenario, const std::wstring& path) {
    // Pulled out right after its 300th data block: 2 query reports, unlock, 115 erases, address.
    if (!scenario.Devices({"box vb firmware=0x00010A00 pull-after=419"}) || !scenario.Plug("vb")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.10");
    Click(dialog.Control(IDC_UPDATE));

    // The code line carries the system's error for a write to a device that is gone; its value is
    // the HID stack's, so only the result code is fixed here.
    const HWND box = WaitForMessageBox(program, dialog, 60000);
    if (!results.Check(box != nullptr, "a failure box comes when the box is pulled out mid-transfer",
                       Describe(TopLevelWindowsOf(program.Id()))))
        return;
    // Judged the moment the box is seen: a progress window left behind it would be a fault from
    // the first moment on, and the readings below take their time.
    results.Check(FindTopLevel(program.Id(), L"msctls_progress32", dialog.window) == nullptr,
                  "the progress window is gone before the failure box");
    // The box comes up before the program's thread is back at its messages after the transfer.
    const Steady<std::wstring> shown = MessageBoxShows(box);
    const std::wstring& text = shown.value;
    results.Info("the failure box says \"" + Visible(text) + "\"");
    ExpectCaption(results, "its caption is 40002", box, Message(IDS_UPDATE_FAILED));
    const std::wstring head = Message(IDS_WRITE_BLOCK_FAILED) + L"\r\nDas System meldet Fehlercode 0xfffffffe-0x";
    results.Check(shown.steady && text.compare(0, head.size(), head) == 0 && text.size() == head.size() + 8,
                  "it says 40009 and the code line of a failed write (0xfffffffe-0x........)", Unsettled(shown, "the failure box"));
    const HWND ok = MessageBoxOkButton(box);
    if (!results.Check(ok != nullptr, "the failure box has an OK button")) return;
    Click(ok);
    ExpectTextSoon(results, "after the failure the hint is 40030", dialog.Control(IDC_INFO_TEXT), Message(IDS_RETRY), kStepTimeoutMs);
    ExpectNoBoxShown(results, dialog, "after the failure");
    // The 300 blocks it took, perhaps the one that failed on its way, and nothing after it.
    const std::string commands = scenario.Commands("vb");
    const std::string taken = "ok 08 0a 05 03*115 02 01*300";
    results.Check(commands == taken || commands == taken + " !01", "the box got nothing after the failure: no lock, no finish", commands);
    scenario.ExpectBox("vb", {{"plugged", "0"}, {"refused", "0"}, {"unlocked", "1"}, {"finished", "0"}});

    if (!scenario.Plug("vb")) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.10");
    CloseWithBeenden(results, program, dialog);
}

// Watches the device notifications of the HID class from a window of its own, as the program
// does, to see the names that Wine's notifications carry.
class NotificationWatch {
public:
    NotificationWatch() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"e2e_notification_watch";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kHidInterfaceClass;
        registration_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    ~NotificationWatch() {
        if (registration_ != nullptr) UnregisterDeviceNotification(registration_);
        if (window_ != nullptr) DestroyWindow(window_);
    }
    NotificationWatch(const NotificationWatch&) = delete;
    NotificationWatch& operator=(const NotificationWatch&) = delete;

    bool Registered() const { return registration_ != nullptr; }
    // Takes the thread's messages. Wine sends each notification with SMTO_ABORTIFHUNG, so it is
    // dropped unless the thread has taken messages in the last 5 s or waits for one: the watch
    // pumps right before anything it is to hear.
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    // Takes the thread's messages until an arrival came or `timeoutMs` passed.
    bool WaitForArrival(DWORD timeoutMs) {
        return WaitUntil(timeoutMs, [&] {
            Pump();
            return arrived_;
        }, 10);
    }
    // Takes the thread's messages until a removal came or `timeoutMs` passed.
    std::wstring WaitForRemoval(DWORD timeoutMs) {
        WaitUntil(timeoutMs, [&] {
            Pump();
            return !removed_.empty();
        }, 10);
        return removed_;
    }
    void Forget() {
        arrived_ = false;
        removed_.clear();
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotificationWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
        if (self != nullptr && message == WM_DEVICECHANGE && record != nullptr && record->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            if (wParam == DBT_DEVICEARRIVAL) self->arrived_ = true;
            if (wParam == DBT_DEVICEREMOVECOMPLETE) self->removed_ = record->dbcc_name;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr;
    bool arrived_ = false;
    std::wstring removed_;
};

bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

void PullIdle(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box vb firmware=0x00010A00"})) return;
    NotificationWatch watch;
    if (!results.Check(watch.Registered(), "the driver watches the HID notifications too", "error " + std::to_string(GetLastError())))
        return;
    // Wine's notifications reach a new registration through a thread of its own that signs up for
    // them in its own time; until then a removal would go unseen by the driver (not by the
    // program). Whether it listens shows only by its hearing something: before the program
    // starts, the box is plugged in until the watch hears it arrive.
    bool heard = false;
    for (int attempt = 0; attempt < 5 && !heard; ++attempt) {
        if (attempt > 0) scenario.Unplug("vb");
        if (!scenario.Plug("vb")) return;
        heard = watch.WaitForArrival(5000);
    }
    if (!results.Check(heard, "the driver hears the box arrive", "no arrival in 5 tries of 5 s")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.10");
    const std::vector<std::wstring> listed = HidInterfacePaths();

    watch.Forget();
    watch.Pump();
    scenario.Unplug("vb");
    const std::wstring removed = watch.WaitForRemoval(kStepTimeoutMs);
    results.Info("the removal names \"" + Visible(removed) + "\"");
    std::wstring stored;
    for (const std::wstring& listedPath : listed)
        if (EqualIgnoringAsciiCase(listedPath, removed)) stored = listedPath;
    results.Info("the Setup API listed it as \"" + Visible(stored) + "\"");
    results.Check(!stored.empty() && stored != removed,
                  "the removal names the box in other letters' case than the Setup API listed it (the comparison that ignores case is needed)");

    ExpectTextSoon(results, "hint is the disconnected text (40020, blank line, 40001)", dialog.Control(IDC_INFO_TEXT),
                   WithInstructions(IDS_DISCONNECTED), kStepTimeoutMs);
    ExpectNoBoxShown(results, dialog, "after the box was pulled out");
    ExpectText(results, "IDC_LABEL_FW2 keeps \"VELTABOX\"", dialog.Control(IDC_LABEL_FW2), L"VELTABOX");
    CloseWithBeenden(results, program, dialog);
}

void VersionQuestion(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box vb firmware=0x00010B00"}) || !scenario.Plug("vb")) return;
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    ExpectReadyShown(results, dialog, L"VELTABOX", L"1.11");
    Click(dialog.Control(IDC_UPDATE));
    const HWND box = WaitForMessageBox(program, dialog, kStepTimeoutMs);
    if (!results.Check(box != nullptr, "the program asks before it installs the same firmware again")) return;
    ExpectCaption(results, "the question's caption is 40025", box, Message(IDS_NEWER_FIRMWARE_FOUND));
    ExpectMessageBoxText(results, "the question is 40023", box, Message(IDS_OLDER_FIRMWARE_QUESTION));
    const HWND no = GetDlgItem(box, IDNO);
    if (!results.Check(no != nullptr, "the question has a No button")) return;
    Click(no);
    results.Check(WaitUntil(kStepTimeoutMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); }), "No closes the question");
    Sleep(1000);
    scenario.ExpectCommands("vb", kQuery);
    ExpectText(results, "the hint still reads 40000", dialog.Control(IDC_INFO_TEXT), Message(IDS_READY));
    ExpectEnabled(results, "'Update' stays enabled", dialog.Control(IDC_UPDATE), true);
    results.Check(FindTopLevel(program.Id(), L"#32770", dialog.window) == nullptr, "no further message box follows");
    CloseWithBeenden(results, program, dialog);
}

// The dialog comes up once the search has given up on the box, after the bounded wait; it then
// answers, and shows what a box that could not be asked amounts to.
void Unanswering(Results& results, Scenario& scenario, const std::wstring& path, const char* definition, const char* expectedCommands,
                 const std::wstring& expectedHint, const char* hintName) {
    if (!scenario.Devices({definition}) || !scenario.Plug("mute")) return;
    Program program;
    Dialog dialog;
    const double started = Now();
    if (!OpenDialog(results, program, path, &dialog)) return;
    results.Info("the dialog came up " + Seconds3(Now() - started) + " s after the start");
    ExpectText(results, hintName, dialog.Control(IDC_INFO_TEXT), expectedHint);
    ExpectNoBoxShown(results, dialog, "with a box that does not answer");
    scenario.ExpectCommands("mute", expectedCommands);
    CloseWithBeenden(results, program, dialog);
}

// What a program shows while another one holds the only box: it says so, and offers nothing.
void ExpectHeldElsewhere(Results& results, const Dialog& dialog, const std::string& who) {
    ExpectTextSoon(results, who + ": hint is 40040 (held by another program)", dialog.Control(IDC_INFO_TEXT),
                   Message(IDS_BOX_BUSY), kStepTimeoutMs);
    ExpectNoBoxShown(results, dialog, "in " + who);
}

// The HID interfaces (their paths in lower case) whose claim exists under the name every program
// must use for it, a later updater or the console program as much as this one: in the Global
// namespace, where a program in another session or of another user sees it too (one session of
// Wine would not tell).
std::vector<std::wstring> ClaimedInterfaces() {
    std::vector<std::wstring> claimed;
    for (std::wstring path : HidInterfacePaths()) {
        for (wchar_t& c : path) c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        std::wstring name = L"Global\\VELTABOX-box-";
        for (const wchar_t c : path) name += c == L'\\' ? L'_' : c;
        const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
        if (mutex == nullptr) continue;
        CloseHandle(mutex);
        claimed.push_back(path);
    }
    return claimed;
}

// The box never acknowledges a flash command, so a second program's query between two data
// blocks would break the firmware while the first went on to report success. The second program
// comes while the first is ready, the third mid-write; both must leave the box to the first,
// after its success too, and the third must take it by itself once the first has ended.
void SharedBox(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box vb firmware=0x00010A00"}) || !scenario.Plug("vb")) return;
    Program first, second, third;
    Dialog firstDialog, secondDialog, thirdDialog;
    if (!OpenDialog(results, first, path, &firstDialog)) return;
    ExpectReadyShown(results, firstDialog, L"VELTABOX", L"1.10");
    if (!OpenDialog(results, second, path, &secondDialog)) return;
    ExpectHeldElsewhere(results, secondDialog, "the second, started while the first is ready");
    Sleep(kSettleMs);  // it looks again every second meanwhile
    scenario.ExpectCommands("vb", kQuery);
    const std::vector<std::wstring> claimed = ClaimedInterfaces();
    results.Check(claimed.size() == 1 && claimed[0].find(L"vid_21b8&pid_0001") != std::wstring::npos,
                  "the box's claim is the mutex Global\\VELTABOX-box-<its path, folded>",
                  std::to_string(claimed.size()) + " interfaces claimed" + (claimed.empty() ? "" : ", the first " + Visible(claimed[0])));

    const double clicked = Now();
    Click(firstDialog.Control(IDC_UPDATE));
    // 2 query reports, unlock, 115 erases, the address and 300 data blocks.
    const auto taken = [&](int reports) { return std::atoi(Field(scenario.State("vb"), "reports").c_str()) >= reports; };
    if (!results.Check(WaitUntil(30000, [&] { return taken(419); }, 100), "the first has written 300 data blocks within 30 s",
                       scenario.State("vb")))
        return;
    if (!OpenDialog(results, third, path, &thirdDialog)) return;
    // Asked the moment its dialog is up (its search is behind it then), not after the checks of it.
    const std::string midWrite = scenario.State("vb");
    results.Check(Field(midWrite, "finished") == "0", "the third came up before the first had finished writing", midWrite);
    ExpectHeldElsewhere(results, thirdDialog, "the third, started mid-write");

    if (!results.Check(WaitUntil(60000, [&] { return taken(1432); }, 200), "the first writes the whole update",
                       scenario.State("vb")))
        return;
    ExpectTextSoon(results, "the first's hint is 40032 (success)", firstDialog.Control(IDC_INFO_TEXT), Message(IDS_SUCCESS),
                   kStepTimeoutMs);
    results.Info("the first's update, click to success text: " + Seconds3(Now() - clicked) + " s");
    // The first keeps the box after its success; the others look again meanwhile.
    Sleep(kSettleMs);
    ExpectHeldElsewhere(results, secondDialog, "the second, after the first's success");
    ExpectHeldElsewhere(results, thirdDialog, "the third, after the first's success");
    CloseWithBeenden(results, second, secondDialog);
    scenario.ExpectCommands("vb", kWholeUpdate);
    scenario.ExpectBox("vb", {{"refused", "0"}, {"flash", "image"}, {"unlocked", "0"}, {"finished", "1"}});

    CloseWithBeenden(results, first, firstDialog);
    const double ended = Now();
    ExpectTextSoon(results, "the third shows the box ready once the first has ended", thirdDialog.Control(IDC_INFO_TEXT),
                   Message(IDS_READY), kStepTimeoutMs);
    results.Info("the first's end to the third's ready text: " + Seconds3(Now() - ended) + " s");
    // The emulated box keeps its information page, and with it the version it had.
    ExpectReadyShown(results, thirdDialog, L"VELTABOX", L"1.10");
    scenario.ExpectCommands("vb", std::string(kWholeUpdate) + " " + kQuery);
    CloseWithBeenden(results, third, thirdDialog);
}

// The first program takes the box listed first; the second meets that one first, held, and must
// pass over it to the other without sending it anything.
void SharedTwoBoxes(Results& results, Scenario& scenario, const std::wstring& path) {
    if (!scenario.Devices({"box vb firmware=0x00010A00", "box hub pid=2 firmware=0x00010B00"}) || !scenario.Plug("vb") ||
        !scenario.Plug("hub"))
        return;
    Program first, second;
    Dialog firstDialog, secondDialog;
    if (!OpenDialog(results, first, path, &firstDialog)) return;
    ExpectTextSoon(results, "the first is ready", firstDialog.Control(IDC_INFO_TEXT), Message(IDS_READY), kStepTimeoutMs);
    const Steady<std::wstring> label = SteadyText(firstDialog.Control(IDC_LABEL_FW2));
    const std::wstring& model = label.value;
    const bool firstHasVb = label.steady && model == L"VELTABOX";
    if (!results.Check(firstHasVb || (label.steady && model == L"VELTA-HUB"), "the first shows one of the two boxes",
                       label.steady ? "IDC_LABEL_FW2 reads \"" + Visible(model) + "\"" : Unsettled(label, "IDC_LABEL_FW2")))
        return;
    const std::string held = firstHasVb ? "vb" : "hub";
    const std::string free = firstHasVb ? "hub" : "vb";
    results.Info("the first took " + held);
    if (!OpenDialog(results, second, path, &secondDialog)) return;
    ExpectReadyShown(results, secondDialog, firstHasVb ? L"VELTA-HUB" : L"VELTABOX", firstHasVb ? L"1.11" : L"1.10");
    ExpectText(results, "the first stays ready", firstDialog.Control(IDC_INFO_TEXT), Message(IDS_READY));
    scenario.ExpectCommands(held, kQuery);
    scenario.ExpectCommands(free, kQuery);
    CloseWithBeenden(results, second, secondDialog);
    CloseWithBeenden(results, first, firstDialog);
}

int Usage() { return DriverUsage("emulated_box_driver", "<scenario> <veltabox-updater.exe> <emulator port>"); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DriverArguments args;
    if (!ReadDriverArguments(argc, argv, 1, &args)) return Usage();
    const std::wstring& name = args.scenario;
    const std::wstring& program = args.program;
    Results results(Utf8(name));
    const Screenshots shots(args.ackDirectory);
    EmulatorLink link;
    std::string why;
    if (!results.Check(link.Connect(static_cast<unsigned short>(_wtoi(args.own[0].c_str())), &why), "the driver reaches the box emulator", why))
        return results.Finish();
    Scenario scenario(results, link);
    if (name == L"ready") {
        Ready(results, scenario, program);
    } else if (name == L"wrong-mode") {
        WrongMode(results, scenario, program);
    } else if (name == L"hotplug") {
        Hotplug(results, scenario, program);
    } else if (name == L"update") {
        Update(results, scenario, program, shots);
    } else if (name == L"pull-mid-update") {
        PullMidUpdate(results, scenario, program);
    } else if (name == L"pull-idle") {
        PullIdle(results, scenario, program);
    } else if (name == L"version-question") {
        VersionQuestion(results, scenario, program);
    } else if (name == L"block-never") {
        // Its CMD_GET_INFO answer says application mode of kind 3, so the search reads a block,
        // waits out the bound and gives up: no box.
        Unanswering(results, scenario, program, "box mute mode=app appkind=3 block-never", "08 1d", WithInstructions(IDS_NO_BOX),
                    "hint is the no-box text: the query gave up after the bounded wait");
    } else if (name == L"silent") {
        // Wine's HidD_GetInputReport hands out the last report winebus read, all zeros for a node
        // that never sent one: an application-mode answer. On Windows the request itself would
        // wait out the bound and the search would find no box.
        Unanswering(results, scenario, program, "box mute silent", "08", WithInstructions(IDS_WRONG_MODE),
                    "hint is the wrong-mode text: an answer of zeros is application mode");
    } else if (name == L"short-reports") {
        // The lengths come from the box's report descriptor through HidP_GetCaps; a box in
        // bootloader mode that could not take a 48-byte block is refused before anything can be
        // erased.
        Unanswering(results, scenario, program, "box mute out=32", "08", WithInstructions(IDS_NO_BOX),
                    "hint is the no-box text: a box that cannot take a data block is refused");
    } else if (name == L"shared-box") {
        SharedBox(results, scenario, program);
    } else if (name == L"shared-two-boxes") {
        SharedTwoBoxes(results, scenario, program);
    } else {
        return Usage();
    }
    link.Ask("clear");
    return results.Finish();
}
