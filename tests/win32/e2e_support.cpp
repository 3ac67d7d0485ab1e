// What the end-to-end drivers share; see e2e_support.h.
#include "tests/win32/e2e_support.h"

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "resources/resource_ids.h"

namespace e2e {

namespace {

// ---------------------------------------------------------------------------------------------
// The catalogue, read from the same file the program's string table is made from. The texts are
// UTF-8 there; u8"" in front makes each literal UTF-8 whatever the compiler's execution
// character set, and MultiByteToWideChar turns it into the UTF-16 the dialog shows. Widening the
// bytes one by one instead would turn every umlaut into two wrong code units.

struct CatalogueEntry {
    unsigned id;
    const char* utf8;
};

#define MESSAGE(id, text) {id, u8"" text},
const CatalogueEntry kCatalogue[] = {
#include "resources/messages.def"
};
#undef MESSAGE

}  // namespace

std::wstring Utf16(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 0) return L"<invalid UTF-8 in the catalogue>";
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &text[0], length);
    text.resize(static_cast<std::size_t>(length - 1));
    return text;
}

// A number missing from the catalogue makes every comparison against it fail, visibly.
std::wstring Message(unsigned id) {
    for (const CatalogueEntry& entry : kCatalogue)
        if (entry.id == id) return Utf16(entry.utf8);
    return L"<message " + std::to_wstring(id) + L" is not in the catalogue>";
}

const wchar_t kTitle[] = L"SORVANTIK VELTABOX Firmware Updater 1.11";

// ---------------------------------------------------------------------------------------------
// Output. stdout is binary so that lines end in LF alone, under Wine as on Windows; a script
// reading the lines as they come needs every one flushed at once.

bool ReadDriverArguments(int argc, wchar_t** argv, std::size_t own, DriverArguments* arguments) {
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    *arguments = DriverArguments();
    if (args.size() >= 2 && args[0] == L"--screenshots") {
        arguments->ackDirectory = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2 + own) return false;
    arguments->scenario = args[0];
    arguments->program = args[1];
    arguments->own.assign(args.begin() + 2, args.end());
    return true;
}

int DriverUsage(const char* driver, const char* arguments) {
    Line(std::string("usage: ") + driver + " [--screenshots ACK_DIR] " + arguments);
    return 2;
}

void Line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

// A text as it can be read in a log: line breaks and everything beyond ASCII escaped, so that a
// wrong code unit (U+FFC3 for "ü", a lone LF for CR LF) shows as what it is.
std::string Visible(const std::wstring& text) {
    std::string shown;
    for (const wchar_t unit : text) {
        if (unit == L'\r') {
            shown += "\\r";
        } else if (unit == L'\n') {
            shown += "\\n";
        } else if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            shown += escape;
        }
    }
    return shown;
}

std::string Seconds3(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string Hex(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
    return text;
}

std::string RectText(const RECT& rect) {
    return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " + std::to_string(rect.right) + " " +
           std::to_string(rect.bottom);
}

// ---------------------------------------------------------------------------------------------
// Results of one run.

bool Results::Check(bool ok, const std::string& name, const std::string& why) {
    if (ok) {
        ++passed_;
        Line("PASS " + scenario_ + "/" + name);
    } else {
        ++failed_;
        Line("FAIL " + scenario_ + "/" + name + (why.empty() ? std::string() : ": " + why));
    }
    return ok;
}

void Results::Info(const std::string& text) const { Line("INFO " + scenario_ + ": " + text); }

void Results::Skip(const std::string& name, const std::string& why) const { Line("SKIP " + scenario_ + "/" + name + ": " + why); }

int Results::Finish() const {
    Line(std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed");
    return failed_ == 0 && passed_ > 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
// Time and bounded waiting.

double Now() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency);
}

// ---------------------------------------------------------------------------------------------
// The program under test: one process, in a job so that it cannot outlive the driver.

Program::~Program() {
    if (Running()) Terminate();
    if (process_.hThread != nullptr) CloseHandle(process_.hThread);
    if (process_.hProcess != nullptr) CloseHandle(process_.hProcess);
    if (job_ != nullptr) CloseHandle(job_);
}

bool Program::Start(const std::wstring& path, std::string* why) {
    wchar_t full[MAX_PATH];
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH) {
        *why = "cannot resolve the path " + Utf8(path);
        return false;
    }
    // Started from its own directory, as a double click in the Explorer would.
    std::wstring directory(full, name != nullptr ? static_cast<std::size_t>(name - full) : length);
    std::wstring commandLine = L"\"" + std::wstring(full) + L"\"";
    job_ = CreateJobObjectW(nullptr, nullptr);
    if (job_ != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(full, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process_)) {
        *why = "CreateProcessW failed with error " + std::to_string(GetLastError()) + " for " + Utf8(full);
        process_ = {};
        return false;
    }
    // Without the job (a system that refuses it) the driver still ends the program itself.
    if (job_ != nullptr) AssignProcessToJobObject(job_, process_.hProcess);
    ResumeThread(process_.hThread);
    return true;
}

bool Program::Running() const {
    return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::WaitExit(DWORD timeoutMs, DWORD* code) const {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(process_.hProcess, code) != FALSE;
}

void Program::Terminate() const {
    TerminateProcess(process_.hProcess, 0xE2E);
    WaitForSingleObject(process_.hProcess, 10000);
    Line("INFO the program was still running and has been terminated");
}

// ---------------------------------------------------------------------------------------------
// Windows of another process. Class, owner, rectangle, style and the caption of a top-level
// window are read from the window manager's records without a message, so they answer even
// while the program's thread is busy; a control's contents (the edit control keeps its own) are
// asked for with WM_GETTEXT, and that only with a timeout.

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring CaptionOf(HWND window) {
    std::wstring text(4096, L'\0');
    const int length = GetWindowTextW(window, &text[0], static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

std::vector<WindowInfo> TopLevelWindowsOf(DWORD processId) {
    struct Search {
        DWORD processId;
        std::vector<WindowInfo> found;
    } search{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            Search& s = *reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s.processId)
                s.found.push_back({window, ClassOf(window), CaptionOf(window), GetWindow(window, GW_OWNER), IsWindowVisible(window) != FALSE});
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string Describe(const std::vector<WindowInfo>& windows) {
    if (windows.empty()) return "the program has no top-level windows";
    std::string text = "its top-level windows:";
    for (const WindowInfo& w : windows)
        text += " [class \"" + Visible(w.className) + "\" caption \"" + Visible(w.caption) + "\" owner " + Hex(w.owner) +
                (w.visible ? " visible]" : " hidden]");
    return text;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className, HWND owner) {
    for (const WindowInfo& w : TopLevelWindowsOf(processId))
        if (w.visible && w.className == className && w.owner == owner) return w.window;
    return nullptr;
}

bool ReadText(HWND window, std::wstring* text, UINT timeoutMs) {
    if (window == nullptr) return false;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length)) return false;
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]), SMTO_ABORTIFHUNG,
                             timeoutMs, &copied))
        return false;
    buffer.resize(copied <= length ? static_cast<std::size_t>(copied) : static_cast<std::size_t>(length));
    *text = buffer;
    return true;
}

namespace {

// Where two texts part, for the failure line.
std::string Difference(const std::wstring& expected, const std::wstring& actual) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    const std::size_t from = at > 20 ? at - 20 : 0;
    return "got " + std::to_string(actual.size()) + " code units, expected " + std::to_string(expected.size()) +
           "; first difference at " + std::to_string(at) + ": expected \"..." + Visible(expected.substr(from, 50)) +
           "...\", got \"..." + Visible(actual.substr(from, 50)) + "...\"";
}

}  // namespace

Steady<std::wstring> SteadyText(HWND window) {
    return ReadSteadily<std::wstring>([&](std::wstring* text) { return ReadText(window, text, kSteadyReadTimeoutMs); },
                                      [&] { return IsWindow(window) != FALSE; });
}

Steady<std::wstring> SteadyCaption(HWND window) {
    return ReadSteadily<std::wstring>(
        [&](std::wstring* text) {
            *text = CaptionOf(window);
            return true;
        },
        [&] { return IsWindow(window) != FALSE; });
}

Steady<bool> SteadyEnabled(HWND window) {
    return ReadSteadily<bool>(
        [&](bool* enabled) {
            *enabled = IsWindowEnabled(window) != FALSE;
            return true;
        },
        [&] { return IsWindow(window) != FALSE; });
}

Steady<bool> SteadyVisible(HWND window) {
    return ReadSteadily<bool>(
        [&](bool* visible) {
            *visible = IsWindowVisible(window) != FALSE;
            return true;
        },
        [&] { return IsWindow(window) != FALSE; });
}

Steady<RECT> SteadyRect(HWND window) {
    return ReadSteadily<RECT>([&](RECT* rect) { return GetWindowRect(window, rect) != FALSE; },
                              [&] { return IsWindow(window) != FALSE; });
}

std::string Unsettled(const Steady<std::wstring>& reading, const char* what) {
    const std::string seconds = std::to_string(kSteadyTimeoutMs / 1000);
    if (!reading.answered)
        return reading.gone ? std::string(what) + " went away before it answered WM_GETTEXT"
                            : std::string(what) + " did not answer WM_GETTEXT within " + seconds + " s";
    if (reading.steady) return std::string();
    return std::string(what) + (reading.gone ? " went away before its text held still" : "'s text did not hold still for " + seconds + " s") +
           "; last read \"" + Visible(reading.value) + "\"";
}

namespace {

bool ExpectSteadyText(Results& results, const std::string& name, const Steady<std::wstring>& reading, const char* what,
                      const std::wstring& expected) {
    const std::string why = Unsettled(reading, what);
    if (!why.empty()) return results.Check(false, name, why);
    if (reading.value == expected) return results.Check(true, name);
    results.Check(false, name, Difference(expected, reading.value));
    results.Info("the whole text shown: \"" + Visible(reading.value) + "\"");
    return false;
}

// A state of the window manager's records: these answer at once, so only a window that is gone
// or one that keeps changing goes unjudged.
bool ExpectSteadyState(Results& results, const std::string& name, const Steady<bool>& reading, bool expected, const char* yes,
                       const char* no) {
    if (!reading.steady)
        return results.Check(false, name, reading.gone ? "the window went away" : "its state did not hold still");
    return results.Check(reading.value == expected, name, reading.value ? yes : no);
}

}  // namespace

bool ExpectText(Results& results, const std::string& name, HWND window, const std::wstring& expected) {
    if (window == nullptr) return results.Check(false, name, "the control does not exist");
    return ExpectSteadyText(results, name, SteadyText(window), "the control", expected);
}

bool ExpectTextSoon(Results& results, const std::string& name, HWND window, const std::wstring& expected, DWORD timeoutMs) {
    WaitUntil(timeoutMs, [&] {
        std::wstring actual;
        return ReadText(window, &actual, kSteadyReadTimeoutMs) && actual == expected;
    });
    return ExpectText(results, name, window, expected);
}

bool ExpectCaption(Results& results, const std::string& name, HWND window, const std::wstring& expected) {
    if (window == nullptr) return results.Check(false, name, "the window does not exist");
    const Steady<std::wstring> caption = SteadyCaption(window);
    if (!caption.steady) return results.Check(false, name, caption.gone ? "the window went away" : "its caption did not hold still");
    return results.Check(caption.value == expected, name, "the caption is \"" + Visible(caption.value) + "\"");
}

bool ExpectEnabled(Results& results, const std::string& name, HWND window, bool enabled) {
    if (window == nullptr) return results.Check(false, name, "the control does not exist");
    return ExpectSteadyState(results, name, SteadyEnabled(window), enabled, "it is enabled", "it is disabled");
}

bool ExpectVisible(Results& results, const std::string& name, HWND window, bool visible) {
    if (window == nullptr) return results.Check(false, name, "the control does not exist");
    return ExpectSteadyState(results, name, SteadyVisible(window), visible, "it is visible", "it is not visible");
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

// ---------------------------------------------------------------------------------------------
// Screenshots, taken by the script that runs the driver.

void Screenshots::Take(const Results& results, const char* name, RECT region) const {
    if (ack_.empty()) return;
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&region, &region, &screen);
    const std::wstring done = ack_ + L"\\" + Utf16(name) + L".done";
    Line(std::string("SCREENSHOT-NOW ") + name + " " + RectText(region));
    if (!WaitUntil(20000, [&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 50))
        results.Info(std::string("no screenshot ") + name + " was taken within 20 s");
}

// ---------------------------------------------------------------------------------------------
// Steps every scenario shares.

// Starts the program and waits for its dialog: the visible, unowned dialog-class window of the
// process. Found by class and process rather than by title, so that a wrong title is reported
// as such and not as a missing dialog.
bool OpenDialog(Results& results, Program& program, const std::wstring& path, Dialog* dialog) {
    std::string why;
    if (!results.Check(program.Start(path, &why), "program starts", why)) return false;
    HWND found = nullptr;
    WaitUntil(kDialogTimeoutMs, [&] {
        found = FindTopLevel(program.Id(), L"#32770", nullptr);
        return found != nullptr || !program.Running();
    }, 50);
    if (found == nullptr) {
        DWORD code = 0;
        std::string state = program.Running() ? "still running, " + Describe(TopLevelWindowsOf(program.Id()))
                                              : (program.WaitExit(0, &code) ? "exited with code " + std::to_string(code) : "exited");
        return results.Check(false, "dialog appears within " + std::to_string(kDialogTimeoutMs / 1000) + " s", state);
    }
    results.Check(true, "dialog appears within " + std::to_string(kDialogTimeoutMs / 1000) + " s");
    dialog->window = found;
    // Done with its start: the dialog waits for input, so every text it sets at start is set.
    const DWORD idle = WaitForInputIdle(program.Handle(), kStepTimeoutMs);
    if (idle != 0) results.Info("WaitForInputIdle returned " + std::to_string(idle));
    ExpectCaption(results, "title is \"" + Utf8(kTitle) + "\"", found, kTitle);
    return true;
}

// The scenario's end: the program must be gone within the bound, with exit code 0.
void ExpectExitZero(Results& results, const Program& program) {
    DWORD code = 0;
    if (!program.WaitExit(kExitTimeoutMs, &code)) {
        results.Check(false, "program exits with code 0", "still running after " + std::to_string(kExitTimeoutMs / 1000) + " s");
        return;
    }
    results.Check(code == 0, "program exits with code 0", "exit code " + std::to_string(code));
}

// Presses "Beenden" and expects the program to end with 0.
void CloseWithBeenden(Results& results, const Program& program, const Dialog& dialog) {
    const HWND button = dialog.Control(IDCANCEL);
    if (!ExpectEnabled(results, "'Beenden' is enabled at the end", button, true)) return;
    Click(button);
    ExpectExitZero(results, program);
}

const VersionControl kVersionControls[6] = {
    {IDC_LABEL_FW1, "IDC_LABEL_FW1"}, {IDC_LABEL_FW2, "IDC_LABEL_FW2"}, {IDC_LABEL_FW3, "IDC_LABEL_FW3"},
    {IDC_VALUE_FW1, "IDC_VALUE_FW1"}, {IDC_VALUE_FW2, "IDC_VALUE_FW2"}, {IDC_VALUE_FW3, "IDC_VALUE_FW3"},
};

// What both states share: the labels, the button texts, the third version hidden.
void ExpectFixedParts(Results& results, const Dialog& dialog) {
    ExpectText(results, "'Update' button is labelled \"Update\"", dialog.Control(IDC_UPDATE), L"Update");
    ExpectText(results, "'Beenden' button is labelled \"Beenden\"", dialog.Control(IDCANCEL), L"Beenden");
    ExpectEnabled(results, "'Beenden' is enabled", dialog.Control(IDCANCEL), true);
    ExpectText(results, "IDC_LABEL_FW1 reads \"Bootloader\"", dialog.Control(IDC_LABEL_FW1), L"Bootloader");
    ExpectVisible(results, "IDC_LABEL_FW1 is visible", dialog.Control(IDC_LABEL_FW1), true);
    ExpectVisible(results, "IDC_LABEL_FW2 is visible", dialog.Control(IDC_LABEL_FW2), true);
    ExpectVisible(results, "IDC_VALUE_FW1 is visible", dialog.Control(IDC_VALUE_FW1), true);
    ExpectVisible(results, "IDC_VALUE_FW2 is visible", dialog.Control(IDC_VALUE_FW2), true);
    ExpectVisible(results, "IDC_LABEL_FW3 is hidden", dialog.Control(IDC_LABEL_FW3), false);
    ExpectVisible(results, "IDC_VALUE_FW3 is hidden", dialog.Control(IDC_VALUE_FW3), false);
    ExpectVisible(results, "IDC_VERSION_GROUP is visible", dialog.Control(IDC_VERSION_GROUP), true);
}

RECT RectOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

RECT Union(const RECT& a, const RECT& b) {
    RECT both = {};
    UnionRect(&both, &a, &b);
    return both;
}


// The text of a message box: its static control 0xFFFF on Windows; any static with text that is
// not the icon, where a system numbers it differently.
HWND MessageBoxText(HWND box) {
    const HWND text = GetDlgItem(box, 0xFFFF);
    if (text != nullptr) return text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) != SS_ICON && !CaptionOf(child).empty()) return child;
    }
    return nullptr;
}

// The only button of a box with MB_OK: IDOK, or IDCANCEL where a system numbers it so.
HWND MessageBoxOkButton(HWND box) {
    for (const int id : {IDOK, IDCANCEL}) {
        const HWND button = GetDlgItem(box, id);
        if (button != nullptr && IsWindowVisible(button) && ClassOf(button) == L"Button") return button;
    }
    return nullptr;
}

namespace {

// How far the bar is drawn, as the share of the middle row of the client area in the highlight
// colour (the bar's colour when the application sets none), read from the screen: the
// progress window's thread is busy writing and does not answer PBM_GETPOS until it is done.
bool DrawnShare(HWND progress, double* share) {
    RECT client = {};
    if (!GetClientRect(progress, &client) || client.right <= 4 || client.bottom <= 2) return false;
    POINT origin = {0, 0};
    ClientToScreen(progress, &origin);
    const int width = client.right;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP row = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (row != nullptr && bits != nullptr) {
        const HGDIOBJ previous = SelectObject(memory, row);
        ok = BitBlt(memory, 0, 0, width, 1, screen, origin.x, origin.y + client.bottom / 2, SRCCOPY) != FALSE;
        GdiFlush();
        const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT);
        const DWORD wanted = static_cast<DWORD>(GetRValue(bar)) << 16 | static_cast<DWORD>(GetGValue(bar)) << 8 | GetBValue(bar);
        const DWORD* pixel = static_cast<const DWORD*>(bits);
        int drawn = 0;
        for (int x = 0; x < width; ++x) drawn += (pixel[x] & 0xFFFFFF) == wanted ? 1 : 0;
        *share = static_cast<double>(drawn) / width;
        SelectObject(memory, previous);
    }
    if (row != nullptr) DeleteObject(row);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

struct Sample {
    double at;  // seconds since the click
    double value;
};

std::string SampleList(const std::vector<Sample>& samples, const char* unit) {
    std::string text;
    for (const Sample& s : samples) {
        char one[64];
        std::snprintf(one, sizeof one, "%s%.1f s: %.0f%s", text.empty() ? "" : ", ", s.at, s.value, unit);
        text += one;
    }
    return text.empty() ? "none" : text;
}

// Rising: at least three readings, none lower than the one before, the last well above the first.
bool Rises(const std::vector<Sample>& samples, double by) {
    if (samples.size() < 3) return false;
    for (std::size_t i = 1; i < samples.size(); ++i)
        if (samples[i].value < samples[i - 1].value) return false;
    return samples.back().value - samples.front().value >= by;
}

// ---------------------------------------------------------------------------------------------
// A whole update.

constexpr double kPollTolerance = 0.3;
constexpr double kUpdateBoundSeconds = 60.0;  // generous: CI machines are slow and shared

}  // namespace

// The box is found as soon as its window exists, which can be before the dialog manager has
// given its static control the text: the wait goes on until the text is there too.
HWND WaitForMessageBox(const Program& program, const Dialog& dialog, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(timeoutMs, [&] {
        box = FindTopLevel(program.Id(), L"#32770", dialog.window);
        const HWND text = box != nullptr ? MessageBoxText(box) : nullptr;
        return (text != nullptr && GetWindowTextLengthW(text) > 0) || !program.Running();
    });
    return box;
}

Steady<std::wstring> MessageBoxShows(HWND box) {
    return ReadSteadily<std::wstring>(
        [&](std::wstring* text) { return ReadText(MessageBoxText(box), text, kSteadyReadTimeoutMs); },
        [&] { return IsWindow(box) && IsWindowVisible(box); });
}

bool ExpectMessageBoxText(Results& results, const std::string& name, HWND box, const std::wstring& expected) {
    if (box == nullptr) return results.Check(false, name, "there is no message box");
    return ExpectSteadyText(results, name, MessageBoxShows(box), "the message box", expected);
}

UpdateWatch WatchUpdate(Results& results, const Program& program, const Dialog& dialog, const Screenshots& shots,
                        const char* screenshotName) {
    UpdateWatch watch;
    const RECT dialogRect = RectOf(dialog.window);
    results.Info("dialog at " + RectText(dialogRect));
    const double clicked = Now();
    Click(dialog.Control(IDC_UPDATE));

    // The window comes after the erase, about 4.7 s in. A message box instead means the update
    // failed or asked something; either ends the wait at once.
    HWND progress = nullptr;
    HWND box = nullptr;
    WaitUntil(15000, [&] {
        progress = FindTopLevel(program.Id(), L"msctls_progress32", dialog.window);
        box = FindTopLevel(program.Id(), L"#32770", dialog.window);
        return progress != nullptr || box != nullptr || !program.Running();
    }, 10);
    const double appeared = Now() - clicked;
    if (progress == nullptr) {
        const Steady<std::wstring> boxText = box != nullptr ? MessageBoxShows(box) : Steady<std::wstring>();
        results.Check(false, "a progress window owned by the dialog appears within 15 s",
                      box != nullptr ? "a message box \"" + Visible(CaptionOf(box)) + "\" came instead: \"" + Visible(boxText.value) + "\"" +
                                           (boxText.steady ? "" : " (" + Unsettled(boxText, "the box") + ")")
                                     : Describe(TopLevelWindowsOf(program.Id())));
        return watch;
    }
    results.Check(true, "a progress window owned by the dialog appears within 15 s");
    results.Info("the progress window appeared " + Seconds3(appeared) + " s after the click");
    results.Check(GetWindow(progress, GW_OWNER) == dialog.window, "the progress window is owned by the dialog");
    // Its thread is busy writing: the caption and the place come from the window manager's records.
    ExpectCaption(results, "the progress window's text is 40029", progress, Message(IDS_WRITING));
    const Steady<RECT> placed = SteadyRect(progress);
    const RECT bar = placed.value;
    results.Check(placed.steady && bar.right - bar.left == 400 && bar.bottom - bar.top == 50, "the progress window measures 400 x 50",
                  placed.steady ? "it measures " + std::to_string(bar.right - bar.left) + " x " + std::to_string(bar.bottom - bar.top)
                                : std::string(placed.gone ? "it went away" : "its place did not hold still"));
    const RECT now = SteadyRect(dialog.window).value;
    const LONG x = now.left + ((now.right - now.left) >> 1) - 200;
    const LONG y = now.top + ((now.bottom - now.top) >> 1) - 25;
    results.Check(placed.steady && bar.left == x && bar.top == y, "the progress window is centred on the dialog",
                  "it is at " + std::to_string(bar.left) + ", " + std::to_string(bar.top) + ", expected " + std::to_string(x) +
                      ", " + std::to_string(y) + " for the dialog at " + RectText(now));

    // Until the window goes: every 2 s the position is asked for (briefly: the thread is busy)
    // and read off the screen; one picture about halfway through.
    std::vector<Sample> answered;
    std::vector<Sample> drawn;
    double nextSample = appeared;
    bool pictured = false;
    while (IsWindow(progress) && Now() - clicked < kUpdateBoundSeconds + 10) {
        const double at = Now() - clicked;
        if (at >= nextSample) {
            nextSample = at + 2.0;
            DWORD_PTR position = 0;
            if (SendMessageTimeoutW(progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 100, &position))
                answered.push_back({at, static_cast<double>(position)});
            // A reading taken as the window went shows what lay beneath it, which is no position:
            // it is kept only when the window was still up after it.
            double share = 0;
            if (IsWindowVisible(progress) && DrawnShare(progress, &share) && IsWindowVisible(progress))
                drawn.push_back({at, share * 100.0});
        }
        if (!pictured && at - appeared >= 12.0 && IsWindow(progress)) {
            pictured = true;
            shots.Take(results, screenshotName, Union(RectOf(dialog.window), RectOf(progress)));
        }
        Sleep(10);
    }
    const double gone = Now() - clicked;
    if (!results.Check(!IsWindow(progress), "the progress window goes away within " + std::to_string(static_cast<int>(kUpdateBoundSeconds + 10)) + " s"))
        return watch;

    results.Info("PBM_GETPOS answered during the update: " + SampleList(answered, ""));
    results.Info("bar drawn on the screen (share of the width): " + SampleList(drawn, " %"));
    if (answered.size() >= 3) {
        results.Check(Rises(answered, 20), "the progress position rises during the update (PBM_GETPOS)", SampleList(answered, ""));
    } else {
        results.Skip("the progress position rises (PBM_GETPOS)",
                     "the program's thread is busy writing for the whole update and answered " + std::to_string(answered.size()) +
                         " of the requests; the position is read off the screen instead");
        results.Check(Rises(drawn, 20), "the progress bar drawn on the screen grows during the update", SampleList(drawn, " %"));
    }

    WaitUntil(15000, [&] {
        std::wstring hint;
        if (ReadText(dialog.Control(IDC_INFO_TEXT), &hint, 500) && hint == Message(IDS_SUCCESS)) watch.succeeded = Now() - clicked;
        return watch.succeeded >= 0;
    });
    ExpectText(results, "after the update the hint is 40032 (success)", dialog.Control(IDC_INFO_TEXT), Message(IDS_SUCCESS));

    const double floor = kPauseFloorSeconds - kPollTolerance;
    results.Info("click to progress window gone: " + Seconds3(gone) + " s; click to success text: " +
                 (watch.succeeded >= 0 ? Seconds3(watch.succeeded) + " s" : std::string("never")) + "; floor of the pauses " +
                 Seconds3(kPauseFloorSeconds) + " s");
    results.Check(gone >= floor && gone <= kUpdateBoundSeconds,
                  "the update takes no less than its pauses (" + Seconds3(floor) + " s to " + Seconds3(kUpdateBoundSeconds) +
                      " s until the progress window goes)",
                  "it took " + Seconds3(gone) + " s");
    results.Check(watch.succeeded >= floor && watch.succeeded <= kUpdateBoundSeconds,
                  "the success text comes after the whole update (" + Seconds3(floor) + " s to " + Seconds3(kUpdateBoundSeconds) + " s)",
                  watch.succeeded >= 0 ? "it came after " + Seconds3(watch.succeeded) + " s" : "it never came");
    if (watch.succeeded >= 0) {
        char ratio[96];
        std::snprintf(ratio, sizeof ratio, "%.4f (%.3f s / %.3f s)", watch.succeeded / kPauseFloorSeconds, watch.succeeded,
                      kPauseFloorSeconds);
        // A figure, as in the benchmarks, not a check: on a loaded machine the wall clock says
        // little of the program, and a run on a slow one is no fault.
        results.Info(std::string("update/floor ratio, click on 'Update' to the success text: ") + ratio);
    }
    return watch;
}

}  // namespace e2e
