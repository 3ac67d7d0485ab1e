// platform/console.h on Windows: the console or the pipe behind the standard handles, the
// console's control events as the operator's stop requests, and sleep held off by the thread
// execution state.
#include "platform/console.h"

#include <windows.h>

#include "platform/win32/win32_console_stop.h"

#include <atomic>
#include <cstdlib>
#include <vector>

// Windows 10 and later; older headers do not name it.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

// WriteConsoleW takes this many UTF-16 units at a time at most: Windows 7's console server
// refuses a write that does not fit its 64 KB buffer.
constexpr std::size_t CONSOLE_CHUNK = 8192;

struct StandardStream {
    HANDLE handle;  // null or INVALID_HANDLE_VALUE when the program was started without one
    bool console;
};

StandardStream Lookup(DWORD which) {
    StandardStream stream = {GetStdHandle(which), false};
    DWORD mode = 0;
    // A console answers GetConsoleMode; a pipe, a file and NUL (a character device too) do not.
    stream.console = stream.handle != nullptr && stream.handle != INVALID_HANDLE_VALUE &&
                     GetConsoleMode(stream.handle, &mode) != FALSE;
    return stream;
}

const StandardStream& StreamOf(ConsoleStream which) {
    static const StandardStream out = Lookup(STD_OUTPUT_HANDLE);
    static const StandardStream err = Lookup(STD_ERROR_HANDLE);
    return which == ConsoleStream::Out ? out : err;
}

// The console's output mode as the program found it. The mode belongs to the console, which
// the shell that started the program goes on using, so it is put back when the program ends.
DWORD g_originalMode = 0;

void RestoreOutputMode() { SetConsoleMode(StreamOf(ConsoleStream::Out).handle, g_originalMode); }

std::atomic<int> g_stops{0};
std::atomic<int> g_interrupts{0};  // of those, Ctrl+C and Ctrl+Break
std::atomic<int> g_firstSignal{0};
HANDLE g_wake = nullptr;  // auto-reset: set by the control handler, waited on by ConsoleWaitForStop

// The system calls this on a thread of its own for each control event.
//
// Ctrl+C and Ctrl+Break (from the keyboard, or GenerateConsoleCtrlEvent from a supervising
// program) are counted and answered as handled, and the program goes on. The exit status takes
// 128 plus a signal number, as on Linux: Ctrl+C is SIGINT (2, status 130); Ctrl+Break is SIGBREAK,
// the number the Windows C runtime gives it (21, status 149).
//
// Closing the console window (CTRL_CLOSE_EVENT) and the end of the session or of the system
// (CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT) cannot be refused: Windows ends the process as soon as
// the handler returns, or when the handler's time is up (about 5 s for a closed window; for the
// other two, the time the system gives programs at shutdown), whatever the program is doing. So
// for those the handler counts the request, wakes the main thread and then keeps the system
// waiting for as long as it will: no box starts, a box that is seconds from done may still
// finish, and a program with nothing left to do writes its summary and ends on its own with its
// status. A closed window counts as SIGHUP (1, status 129), as a terminal that goes away on
// Linux; a shutdown as SIGTERM (15, status 143), as the system stopping a program there.
//
// Only the two keys are the operator's interrupt: a second of them may cut the boxes being
// written short, whereas a closed window or a shutdown, which Windows does not let the program
// outlast anyway, only keeps new boxes from starting.
//
// CTRL_LOGOFF_EVENT and CTRL_SHUTDOWN_EVENT reach only a program that runs as a service (an
// interactive one has been ended with its session before they are sent), and on Windows 7 and
// later only while the process has not loaded user32.dll (setupapi.dll, which the real program
// uses, loads it, and the real program's watch on arrivals imports it). For a service, CTRL_LOGOFF_EVENT says that some user signed out, not that the
// service must stop, so it is answered as handled and not counted; left to the default handler,
// it would end the process.
BOOL WINAPI OnControlEvent(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT: signal = 2; break;
        case CTRL_BREAK_EVENT: signal = 21; break;
        case CTRL_CLOSE_EVENT: signal = 1; break;
        case CTRL_SHUTDOWN_EVENT: signal = 15; break;
        case CTRL_LOGOFF_EVENT: return TRUE;
        default: return FALSE;
    }
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
    // Counted before the request itself, so that no reader sees a request without its kind.
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ++g_interrupts;
    ++g_stops;
    SetEvent(g_wake);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(INFINITE);
    return TRUE;
}

bool WriteWhole(HANDLE handle, const char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool WriteConsoleWhole(HANDLE handle, const std::string& text) {
    if (text.empty()) return true;
    // Malformed UTF-8 comes out as U+FFFD rather than failing the whole line.
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    std::size_t done = 0;
    while (done < wide.size()) {
        std::size_t chunk = wide.size() - done < CONSOLE_CHUNK ? wide.size() - done : CONSOLE_CHUNK;
        // A surrogate pair is not split between two writes.
        if (done + chunk < wide.size() && wide[done + chunk - 1] >= 0xD800 && wide[done + chunk - 1] < 0xDC00) --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(chunk), &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

}  // namespace

bool ConsoleIsTerminal(ConsoleStream stream) { return StreamOf(stream).console; }

// Windows 10 and 11 draw VT100's cursor movements once the output mode asks for them; Windows 7
// and 8.1 refuse the flag (ERROR_INVALID_PARAMETER), and the program writes plain lines there.
// Asked once, by the main thread before the boxes' threads start.
bool ConsoleCanRedraw() {
    static const bool redraw = [] {
        const StandardStream& out = StreamOf(ConsoleStream::Out);
        DWORD mode = 0;
        if (!out.console || !GetConsoleMode(out.handle, &mode)) return false;
        if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
        if (!SetConsoleMode(out.handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
        g_originalMode = mode;
        std::atexit(RestoreOutputMode);
        return true;
    }();
    return redraw;
}

// A line wraps at the buffer's width, which the window may show only part of.
int ConsoleColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    const StandardStream& out = StreamOf(ConsoleStream::Out);
    return out.console && GetConsoleScreenBufferInfo(out.handle, &info) ? info.dwSize.X : 0;
}

// On a console as UTF-16, whatever its code page; piped or redirected as the UTF-8 bytes with
// the "\n" line ends they have, as on Linux, so that a script reads the same on both. A stream
// that fails (a pipe whose reader went away) is given up for this text.
void ConsoleWrite(ConsoleStream stream, const std::string& text) {
    const StandardStream& target = StreamOf(stream);
    if (target.handle == nullptr || target.handle == INVALID_HANDLE_VALUE) return;
    if (target.console) WriteConsoleWhole(target.handle, text);
    else WriteWhole(target.handle, text.data(), text.size());
}

void ConsoleCatchStopRequests() {
    if (g_wake != nullptr) return;
    g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

// Closing the console window counts too, but Windows ends the program a few seconds later.
const char* ConsoleStopRequestNames() { return "Ctrl+C or Ctrl+Break"; }

int ConsoleStopRequests(int* firstSignal) {
    if (firstSignal != nullptr) *firstSignal = g_firstSignal;
    return g_stops;
}

int ConsoleInterrupts() { return g_interrupts; }

HANDLE ConsoleStopEvent() { return g_wake; }

void ConsoleWaitForStop(std::uint32_t milliseconds) {
    if (g_wake == nullptr || WaitForSingleObject(g_wake, milliseconds) == WAIT_FAILED) Sleep(milliseconds);
}

// ES_SYSTEM_REQUIRED keeps the system from sleeping while it is idle; a sleep the user asks
// for (the lid, the power button) still comes, and so does a shutdown: Windows asks only
// programs with a window before the session ends (the dialog's ShutdownBlockReasonCreate), and a
// console program has none. The state belongs to the calling thread and lapses when that thread
// ends, so the main thread alone sets and clears it. It carries no reason text.
bool ConsoleHoldOffSleep(bool holding, const std::string&) {
    return SetThreadExecutionState(holding ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS) != 0;
}
