// What the end-to-end drivers share: the catalogue's texts, the PASS/FAIL lines, bounded waits,
// the program under test in a job, reading another process's windows without ever blocking on
// them, and the steps every scenario takes (open the dialog, watch an update, close it).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/update_floor.h"

namespace e2e {

// ---- The catalogue, read from the same file the program's string table is made from.
std::wstring Utf16(const char* utf8);
// The text of message `id`; a number missing from the catalogue makes every comparison fail.
std::wstring Message(unsigned id);
extern const wchar_t kTitle[];

// ---- What every driver does first: its lines end in LF alone, under Wine as on Windows; a crash
// ends it instead of waiting at a dialog; then its arguments are read, which all drivers take as
// "[--screenshots ACK_DIR] <scenario> <program.exe>" and then those of its own.
struct DriverArguments {
    std::wstring scenario;
    std::wstring program;
    std::vector<std::wstring> own;  // after the program
    std::wstring ackDirectory;      // empty without --screenshots
};
// False when there are not exactly `own` arguments after the program.
bool ReadDriverArguments(int argc, wchar_t** argv, std::size_t own, DriverArguments* arguments);
// Prints "usage: <driver> [--screenshots ACK_DIR] <arguments>"; returns 2, the exit code for it.
int DriverUsage(const char* driver, const char* arguments);

// ---- Output. Every line is flushed at once: the script reads them as they come.
void Line(const std::string& text);
std::string Utf8(const std::wstring& text);
// Line breaks and everything beyond ASCII escaped, so a wrong code unit shows as what it is.
std::string Visible(const std::wstring& text);
std::string Seconds3(double seconds);
std::string Hex(const void* handle);
std::string RectText(const RECT& rect);

class Results {
public:
    explicit Results(std::string scenario) : scenario_(std::move(scenario)) {}
    bool Check(bool ok, const std::string& name, const std::string& why = std::string());
    void Info(const std::string& text) const;
    void Skip(const std::string& name, const std::string& why) const;
    // Prints "N passed, M failed"; the exit code, 0 only when something passed and nothing failed.
    int Finish() const;

private:
    std::string scenario_;
    int passed_ = 0;
    int failed_ = 0;
};

// ---- Time and bounded waiting.
double Now();  // seconds on the performance counter

// Polls `done` until it holds or `timeoutMs` has passed; true when it held.
template <typename Condition>
bool WaitUntil(DWORD timeoutMs, Condition done, DWORD stepMs = 20) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(stepMs);
    }
}

constexpr DWORD kDialogTimeoutMs = 30000;  // a fresh Wine prefix is slow to start a first program
constexpr DWORD kStepTimeoutMs = 10000;    // a window to appear or go after a click
constexpr DWORD kExitTimeoutMs = 10000;
constexpr UINT kReadTimeoutMs = 2000;      // one WM_GETTEXT to a dialog that is not blocked

// ---- The program under test: one process, in a job so that it cannot outlive the driver.
class Program {
public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // Started from its own directory, as a double click in the Explorer would.
    bool Start(const std::wstring& path, std::string* why);
    DWORD Id() const { return process_.dwProcessId; }
    HANDLE Handle() const { return process_.hProcess; }
    bool Running() const;
    // True when the process ended within `timeoutMs`; `code` is then its exit code.
    bool WaitExit(DWORD timeoutMs, DWORD* code) const;
    void Terminate() const;

private:
    PROCESS_INFORMATION process_ = {};
    HANDLE job_ = nullptr;
};

// ---- Windows of another process. Class, owner, rectangle, style and the caption of a top-level
// window come from the window manager's records and answer even while the program is busy; a
// control's contents are asked for with WM_GETTEXT, and that only with a timeout.
std::wstring ClassOf(HWND window);
std::wstring CaptionOf(HWND window);

struct WindowInfo {
    HWND window;
    std::wstring className;
    std::wstring caption;
    HWND owner;
    bool visible;
};

std::vector<WindowInfo> TopLevelWindowsOf(DWORD processId);
std::string Describe(const std::vector<WindowInfo>& windows);
HWND FindTopLevel(DWORD processId, const wchar_t* className, HWND owner);
// One WM_GETTEXT, false when the control gave no answer within `timeoutMs`.
bool ReadText(HWND window, std::wstring* text, UINT timeoutMs = kReadTimeoutMs);

// ---- What a window shows, read until it holds still. A single read just after a wait for
// something else can meet the program between two changes, or meet a thread that has not yet
// come back to its messages: Wine answers a message sent with SMTO_ABORTIFHUNG at once with a
// failure while the thread has taken none for 5 s (the update's transfer, a search that waits out
// its bound) and is not waiting for one, which is how the text of a failure box once read as
// empty. So every value a check judges is read again and again until the same answer has come
// kSteadyReads times in a row, kSteadyGapMs apart, or its window has gone; a read that gets no
// answer is tried again, for kSteadyTimeoutMs at the most.
constexpr int kSteadyReads = 3;
constexpr DWORD kSteadyGapMs = 40;
constexpr UINT kSteadyReadTimeoutMs = 500;  // one try of a read; there are more
constexpr DWORD kSteadyTimeoutMs = 20000;   // only a hung, ever-changing or vanishing window waits it out

template <typename Value>
struct Steady {
    bool answered = false;  // at least one read got an answer
    bool steady = false;    // the same answer kSteadyReads times in a row
    bool gone = false;      // the window went, or out of sight, before that
    Value value{};          // the last answer
};

template <typename Value>
bool Same(const Value& a, const Value& b) {
    return a == b;
}
inline bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

// `read(&value)` takes one reading and is false when it got none; `there()` is false once the
// window is gone.
template <typename Value, typename Read, typename There>
Steady<Value> ReadSteadily(Read read, There there, DWORD timeoutMs = kSteadyTimeoutMs) {
    Steady<Value> result;
    int same = 0;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (!there()) {
            result.gone = true;
            return result;
        }
        Value value{};
        if (read(&value)) {
            same = result.answered && Same(value, result.value) ? same + 1 : 1;
            result.answered = true;
            result.value = value;
            if (same >= kSteadyReads) {
                result.steady = true;
                return result;
            }
        }
        if (GetTickCount64() >= end) return result;
        Sleep(kSteadyGapMs);
    }
}

// A control's text as it answers WM_GETTEXT, the text it paints.
Steady<std::wstring> SteadyText(HWND window);
// A top-level window's caption, from the window manager's records (no message: it answers while
// the program is busy).
Steady<std::wstring> SteadyCaption(HWND window);
Steady<bool> SteadyEnabled(HWND window);
Steady<bool> SteadyVisible(HWND window);
Steady<RECT> SteadyRect(HWND window);
// Why a reading cannot be judged, or empty when it can: the value held still.
std::string Unsettled(const Steady<std::wstring>& reading, const char* what);

bool ExpectText(Results& results, const std::string& name, HWND window, const std::wstring& expected);
// Polls the control until it shows `expected`, then checks it: for texts that change after a
// step the program takes on its own time.
bool ExpectTextSoon(Results& results, const std::string& name, HWND window, const std::wstring& expected, DWORD timeoutMs);
bool ExpectCaption(Results& results, const std::string& name, HWND window, const std::wstring& expected);
bool ExpectEnabled(Results& results, const std::string& name, HWND window, bool enabled);
bool ExpectVisible(Results& results, const std::string& name, HWND window, bool visible);
// A press of the button: the button itself turns it into BN_CLICKED for the dialog.
void Click(HWND button);
RECT RectOf(HWND window);
RECT Union(const RECT& a, const RECT& b);

// ---- Screenshots, taken by the script that runs the driver.
class Screenshots {
public:
    explicit Screenshots(std::wstring ackDirectory) : ack_(std::move(ackDirectory)) {}
    // Asks for a picture of `region` and waits until it has been taken, for 20 s at the most; a
    // missing picture is noted, it is not a failed check.
    void Take(const Results& results, const char* name, RECT region) const;

private:
    std::wstring ack_;
};

// ---- Steps every scenario shares.
struct Dialog {
    HWND window = nullptr;
    HWND Control(int id) const { return GetDlgItem(window, id); }
};

// Starts the program and waits for its dialog, and checks its title.
bool OpenDialog(Results& results, Program& program, const std::wstring& path, Dialog* dialog);
// The program must be gone within the bound, with exit code 0.
void ExpectExitZero(Results& results, const Program& program);
// Presses "Beenden" and expects the program to end with 0.
void CloseWithBeenden(Results& results, const Program& program, const Dialog& dialog);

struct VersionControl {
    int id;
    const char* name;
};
extern const VersionControl kVersionControls[6];

// What every state shares: the labels, the button texts, the third version hidden.
void ExpectFixedParts(Results& results, const Dialog& dialog);

// A message box's text and its single OK button, however the system numbers them.
HWND MessageBoxText(HWND box);
HWND MessageBoxOkButton(HWND box);
// The message box the program shows over its dialog, once it has come within `timeoutMs`; null
// when none came, or the program ended first.
HWND WaitForMessageBox(const Program& program, const Dialog& dialog, DWORD timeoutMs);
// What the box's user reads in it: its text control's answer to WM_GETTEXT while the box is up,
// read until it holds still; `gone` when the box closed first.
Steady<std::wstring> MessageBoxShows(HWND box);
bool ExpectMessageBoxText(Results& results, const std::string& name, HWND box, const std::wstring& expected);

// ---- A whole update, watched from outside.
constexpr double kPauseFloorSeconds = UPDATE_PAUSE_FLOOR_S;

struct UpdateWatch {
    double succeeded = -1;  // seconds from the click to the success text; -1: never
};

// Clicks "Update" and follows the run: the progress window (owner, text, size, place), its bar
// rising, its end, then the success text, with the time each took and its ratio to the floor.
UpdateWatch WatchUpdate(Results& results, const Program& program, const Dialog& dialog, const Screenshots& shots,
                        const char* screenshotName);

}  // namespace e2e
