// A look at the HID stack of the machine it runs on, through the same backend as the program.
//   hid_probe               FindDevice's result and the number of HID interfaces present
//   hid_probe --pause-test  SystemPause and SystemPauseUntil against the performance counter;
//                           fails on a pause that ends early
//   hid_probe --dll-check   where the backend's libraries were loaded from, with copies of them
//                           planted beside the probe; fails when one is not System32's
//   hid_probe --dll-check-by-path  the same for the loads by full path that stand in for the
//                           search flags on Windows 7 without KB2533623
//   hid_probe --transfer-test  report reads and writes against a pipe that stops answering
//   hid_probe --info-answers N  N info requests to the box found, alternately CMD_GET_INFO and
//                           CMD_READ_MEMORY; fails when an answer is not the one to that request
//   hid_probe --device-change-test  WM_DEVICECHANGE records as the dialog reads them: only
//                           interfaces' arrivals and removals reach the logic, a name only where
//                           the record holds it whole
//   hid_probe --watch-test SERIAL...  the console program's watch, with the runner plugging a
//                           box in when it reads "watching" and pulling it out when it reads
//                           "arrived", once per SERIAL: both announced, each with the path the
//                           list gives, the box's serial number read as SERIAL ("-" for none);
//                           then two Ctrl+C to its console (the runner gives it one), each
//                           ending a wait, counted as interrupts
//   hid_probe --state-test  what the record of updates asks of the system: its place, folders
//                           made, the station, the boot, a live and an ended process
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "device/box_list.h"
#include "device/discovery.h"
#include "device/protocol.h"
#include "platform/console.h"
#include "platform/hid.h"
#include "platform/state.h"
#include "platform/system.h"

// After the device headers: windows.h makes INVALID_HANDLE_VALUE a macro, which would turn the
// declaration of the device record's constant of that name into nonsense.
#include <windows.h>

#include <dbt.h>

#include <string>
#include <vector>

#include "platform/win32/win32_device_change.h"
#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_utf8.h"

namespace {

int Probe() {
    const std::int32_t result = FindDevice(g_device);
    std::printf("FindDevice: %d\n", static_cast<int>(result));
    if (IsDeviceHeld(g_device))
        std::printf("box: %ls, product %u, mode %u, bootloader 0x%08x, firmware 0x%08x, reports in %u out %u\n",
                    reinterpret_cast<const wchar_t*>(g_device.devicePath), g_device.productId, g_device.bootloaderMode,
                    static_cast<unsigned>(g_device.bootloaderVersion), static_cast<unsigned>(g_device.firmwareVersion),
                    static_cast<unsigned>(g_device.inputReportLength), static_cast<unsigned>(g_device.outputReportLength));
    InterfaceList* const list = HidListInterfaces();
    if (list == nullptr) {
        std::printf("HID interfaces: no list (error %u)\n", static_cast<unsigned>(SystemLastError()));
        return 1;
    }
    std::uint32_t count = 0;
    ListedInterface member = {};
    for (Listed listed; (listed = HidInterfaceAt(list, count, &member)) != Listed::End; ++count) std::free(member.path);
    HidFreeInterfaceList(list);
    std::printf("HID interfaces: %u\n", static_cast<unsigned>(count));
    CloseDevice(g_device);
    return 0;
}

double ElapsedMs(LONGLONG from, LONGLONG to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// 1 when both pauses leave the thread's last error as they found it.
DWORD WINAPI PausesKeepTheLastError(void*) {
    SetLastError(ERROR_ACCESS_DENIED);
    SystemPause(1);
    const DWORD afterPause = GetLastError();
    SetLastError(ERROR_GEN_FAILURE);
    SystemPauseUntil(SystemClockMicroseconds() + 1000);
    return afterPause == ERROR_ACCESS_DENIED && GetLastError() == ERROR_GEN_FAILURE ? 1 : 0;
}

int PauseTest() {
    const std::uint32_t asked[] = {1, 5, 20, 20, 20, 20, 20, 40, 40, 100};
    int faults = 0;
    for (const std::uint32_t milliseconds : asked) {
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        SystemPause(milliseconds);
        QueryPerformanceCounter(&after);
        const double took = ElapsedMs(before.QuadPart, after.QuadPart);
        const bool isShort = took < milliseconds;
        faults += isShort ? 1 : 0;
        std::printf("SystemPause(%u): %.3f ms%s\n", static_cast<unsigned>(milliseconds), took, isShort ? "  SHORT" : "");
    }
    // As the update paces its blocks: the clock is read when the report is written, other work
    // follows, and the pause ends 20 ms after the reading, not after the work.
    const DWORD work[] = {0, 3, 3, 3, 25};
    for (const DWORD workMs : work) {
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        const std::uint64_t written = SystemClockMicroseconds();
        if (workMs > 0) Sleep(workMs);
        SystemPauseUntil(written + 20000);
        const std::uint64_t ended = SystemClockMicroseconds();
        QueryPerformanceCounter(&after);
        const double took = ElapsedMs(before.QuadPart, after.QuadPart);
        const bool isShort = took < 20 || ended < written + 20000;
        faults += isShort ? 1 : 0;
        std::printf("%lu ms of work, then SystemPauseUntil(20 ms after the reading): %.3f ms in all%s\n",
                    static_cast<unsigned long>(workMs), took, isShort ? "  SHORT" : "");
    }
    // A run as long as 50 blocks: how far past their deadlines the pauses end on this system,
    // and what the waiting costs in processor time.
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelBefore, &userBefore);
    double over = 0;
    double mostOver = 0;
    std::uint64_t deadline = SystemClockMicroseconds();
    LARGE_INTEGER runStart;
    LARGE_INTEGER runEnd;
    QueryPerformanceCounter(&runStart);
    for (int block = 0; block < 50; ++block) {
        deadline += 20000;
        SystemPauseUntil(deadline);
        const double late = static_cast<double>(SystemClockMicroseconds() - deadline) / 1000.0;
        over += late;
        mostOver = late > mostOver ? late : mostOver;
    }
    QueryPerformanceCounter(&runEnd);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelAfter, &userAfter);
    const auto hundredNs = [](const FILETIME& time) {
        return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    };
    const double cpuMs = (hundredNs(kernelAfter) - hundredNs(kernelBefore) + hundredNs(userAfter) - hundredNs(userBefore)) / 10000.0;
    const double wallMs = ElapsedMs(runStart.QuadPart, runEnd.QuadPart);
    std::printf("50 pauses until 20 ms apart: past their deadlines by %.3f ms on average, %.3f ms at most; "
                "processor time %.1f ms of %.1f ms (%.1f %%)\n",
                over / 50, mostOver, cpuMs, wallMs, 100.0 * cpuMs / wallMs);
    // A failed report's pause comes before its error is read: both pauses must leave it alone,
    // also on a thread whose timer is made by this very pause.
    DWORD keptOnNewThread = 0;
    const HANDLE fresh = CreateThread(nullptr, 0, PausesKeepTheLastError, nullptr, 0, nullptr);
    if (fresh != nullptr) {
        WaitForSingleObject(fresh, INFINITE);
        GetExitCodeThread(fresh, &keptOnNewThread);
        CloseHandle(fresh);
    }
    const bool kept = PausesKeepTheLastError(nullptr) != 0 && keptOnNewThread != 0;
    faults += kept ? 0 : 1;
    std::printf("the pauses leave the last error as they found it: %s\n", kept ? "yes" : "NO");
    return faults == 0 ? 0 : 1;
}

// True when `path` names a file directly inside `directory`.
bool DirectlyInside(const wchar_t* path, const wchar_t* directory) {
    const std::size_t length = std::wcslen(directory);
    return _wcsnicmp(path, directory, length) == 0 && path[length] == L'\\' && std::wcschr(path + length + 1, L'\\') == nullptr;
}

// The directory of the running program, without the trailing backslash.
bool ProgramDirectory(wchar_t* directory, DWORD capacity) {
    const DWORD length = GetModuleFileNameW(nullptr, directory, capacity);
    if (length == 0 || length >= capacity) return false;
    wchar_t* const slash = std::wcsrchr(directory, L'\\');
    if (slash == nullptr) return false;
    *slash = 0;
    return true;
}

const wchar_t* const LIBRARIES[] = {L"hid.dll", L"setupapi.dll", L"comctl32.dll", L"msimg32.dll", L"uxtheme.dll"};
constexpr std::size_t LIBRARY_COUNT = sizeof LIBRARIES / sizeof LIBRARIES[0];

// A copy of each library is left beside the probe first, the way a planted one would lie beside
// the downloaded updater; a load that looked in the program's directory would take it. `load`
// then loads them; each must be System32's, and a later load by name must find that same module.
template <typename Load>
int DllCheck(Load load) {
    wchar_t system[MAX_PATH];
    wchar_t own[MAX_PATH];
    if (GetSystemDirectoryW(system, MAX_PATH) == 0 || !ProgramDirectory(own, MAX_PATH)) return 1;
    wchar_t planted[LIBRARY_COUNT][MAX_PATH] = {};
    for (std::size_t i = 0; i < LIBRARY_COUNT; ++i) {
        wchar_t original[MAX_PATH];
        std::swprintf(original, MAX_PATH, L"%ls\\%ls", system, LIBRARIES[i]);
        std::swprintf(planted[i], MAX_PATH, L"%ls\\%ls", own, LIBRARIES[i]);
        // A copy that was there before is left alone, and not removed afterwards either.
        if (!CopyFileW(original, planted[i], TRUE)) planted[i][0] = 0;
    }

    load();

    int outside = 0;
    for (const wchar_t* name : LIBRARIES) {
        wchar_t path[MAX_PATH] = L"(not loaded)";
        const HMODULE module = GetModuleHandleW(name);
        if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
        const bool safe = module != nullptr && DirectlyInside(path, system) && LoadLibraryW(name) == module;
        outside += safe ? 0 : 1;
        std::printf("%ls: %ls%s\n", name, path, safe ? "" : "  NOT FROM THE SYSTEM DIRECTORY");
    }
    for (const wchar_t* copy : planted)
        if (copy[0] != 0 && !DeleteFileW(copy)) std::printf("could not remove %ls (error %lu)\n", copy, GetLastError());
    return outside == 0 ? 0 : 1;
}

// As the programs load them: listing the interfaces loads hid.dll and setupapi.dll, the window
// half's three come on first use.
void LoadAsTheProgramsDo() {
    HidFreeInterfaceList(HidListInterfaces());
    ControlsLibraryOnce();
    ImageLibraryOnce();
    ThemeLibraryOnce();
}

// As on Windows 7 without KB2533623, where the search flags are unknown: what the programs' entry
// does there, then every library by its full path.
void LoadByPath() {
    RestrictLibrarySearchByPath();
    for (const wchar_t* name : LIBRARIES)
        if (LoadFromSystemByPath(name) == nullptr) std::printf("%ls: not loaded (error %lu)\n", name, GetLastError());
}

bool Expect(bool held, const char* what) {
    std::printf("%s %s\n", held ? "ok  " : "FAIL", what);
    return held;
}

// A pipe stands in for a box: its far end answers, or stays silent, as each step needs. The
// transfers go through HidWriteReport and HidReadReport exactly as they would to a box.
int TransferTest() {
    wchar_t name[64];
    std::swprintf(name, 64, L"\\\\.\\pipe\\hid_probe_%lu", GetCurrentProcessId());
    // One report of room each way, so that a second unread write has to wait.
    const HANDLE box = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    if (box == INVALID_HANDLE_VALUE) {
        Expect(false, "pipe created");
        return 1;
    }
    const DeviceHandle device = HidOpen(reinterpret_cast<const char16_t*>(name), nullptr);
    bool passed = Expect(device != PLATFORM_NO_DEVICE, "pipe opened with HidOpen");
    std::uint8_t report[64] = {1, 0x08};
    std::uint8_t answer[64] = {};
    LARGE_INTEGER before;
    LARGE_INTEGER after;

    QueryPerformanceCounter(&before);
    bool done = HidReadReport(device, answer, sizeof answer, 300);
    QueryPerformanceCounter(&after);
    double took = ElapsedMs(before.QuadPart, after.QuadPart);
    std::printf("     silent box: read gave up after %.1f ms, error %u\n", took, static_cast<unsigned>(SystemLastError()));
    passed &= Expect(!done && SystemLastError() == ERROR_TIMEOUT, "a read nobody answers fails with ERROR_TIMEOUT");
    passed &= Expect(took >= 300 && took < 1300, "and returns after its timeout");

    DWORD moved = 0;
    const std::uint8_t sent[64] = {2, 0x42, 0x43};
    WriteFile(box, sent, sizeof sent, &moved, nullptr);
    done = HidReadReport(device, answer, sizeof answer, 300);
    passed &= Expect(done && std::memcmp(answer, sent, sizeof sent) == 0, "an answer that comes is read whole");

    done = HidWriteReport(device, report, sizeof report);
    std::uint8_t arrived[64] = {};
    passed &= Expect(done && ReadFile(box, arrived, sizeof arrived, &moved, nullptr) && moved == sizeof arrived &&
                     std::memcmp(arrived, report, sizeof report) == 0, "a report the box takes is written whole");

    // The box stops reading: the writes fill the pipe, then one has to be given up.
    int written = 0;
    QueryPerformanceCounter(&before);
    while (written < 64 && HidWriteReport(device, report, sizeof report)) {
        ++written;
        QueryPerformanceCounter(&before);
    }
    QueryPerformanceCounter(&after);
    took = ElapsedMs(before.QuadPart, after.QuadPart);
    std::printf("     stuck box: %d reports taken, then the write gave up after %.1f ms, error %u\n", written, took,
                static_cast<unsigned>(SystemLastError()));
    passed &= Expect(written < 64 && SystemLastError() == ERROR_TIMEOUT, "a write the box never takes fails with ERROR_TIMEOUT");
    passed &= Expect(took >= 1000 && took < 2000, "and returns after the write timeout");

    HidClose(device);
    CloseHandle(box);
    return passed ? 0 : 1;
}

// The box numbers each info answer, in bytes 1 and 2, with the report it answers. An answer
// whose number or content belongs to another request is one the HID stack kept from before.
int InfoAnswers(unsigned count) {
    // A box that was just plugged in takes the HID stack a moment to list.
    for (int attempt = 0; attempt < 100 && FindDevice(g_device) != DEV_OK; ++attempt) Sleep(100);
    if (!IsDeviceHeld(g_device) || g_device.bootloaderMode == 0) {
        std::printf("no box in bootloader mode found\n");
        return 1;
    }
    unsigned stale = 0;
    unsigned failed = 0;
    int first = -1;  // the number of the first answer, which its content vouches for
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    QueryPerformanceCounter(&before);
    for (unsigned i = 0; i < count; ++i) {
        const bool memory = i % 2 == 1;
        Report request;
        BuildRequest(request, memory ? CMD_READ_MEMORY : CMD_GET_INFO, memory ? READ_MEMORY_LENGTH : 0);
        if (memory) PutLe32(request + 3, INFO_PAGE_ADDRESS);
        Report answer = {REPORT_ID_RESPONSE};
        std::uint32_t received = 0;
        if (!SendRequest(g_device, request) ||
            HidGetInputReport(g_device.handle, answer, REPORT_BUFFER_SIZE, INFO_ANSWER_TIMEOUT_MS, &received) != HidStatus::Ok ||
            received < (memory ? MEMORY_ANSWER_LENGTH : INFO_ANSWER_LENGTH)) {
            ++failed;
            std::printf("request %u failed (%u bytes), error %u\n", i, static_cast<unsigned>(received),
                        static_cast<unsigned>(SystemLastError()));
            continue;
        }
        // The information page begins with "VELT"; a CMD_GET_INFO answer in bootloader mode has
        // its mode byte set instead. Alternating the two, the content alone gives away an answer
        // to the request before, the number any older one.
        const bool page = GetLe32(answer + 3) == 0x544C4556u;
        const bool content = memory ? page : answer[3] != 0 && !page;
        const unsigned number = GetLe16(answer + 1);
        if (first < 0 && content) first = static_cast<int>(number - i);
        const unsigned expected = static_cast<unsigned>(first + static_cast<int>(i)) & 0xFFFF;
        if (!content || number != expected) {
            ++stale;
            std::printf("request %u (%s): answer number %u, expected %u, bytes 3-6 %08x  STALE\n", i,
                        memory ? "CMD_READ_MEMORY" : "CMD_GET_INFO", number, expected, static_cast<unsigned>(GetLe32(answer + 3)));
        }
    }
    QueryPerformanceCounter(&after);
    std::printf("info answers: %u requests, %u stale, %u failed, %.2f ms per request\n", count, stale, failed,
                ElapsedMs(before.QuadPart, after.QuadPart) / count);
    CloseDevice(g_device);
    return stale == 0 && failed == 0 ? 0 : 1;
}

}  // namespace

namespace {

// What OnDeviceChange told the logic, as "+name" for an arrival and "-name" for a removal, a
// name the record did not hold whole as "?".
std::vector<std::u16string> g_told;

void Tell(char16_t sign, const char16_t* name) { g_told.push_back(sign + std::u16string(name != nullptr ? name : u"?")); }

// The record as the system delivers it: as long as its name needs, or cut `shortBy` units short.
INT_PTR DeviceChange(WPARAM event, DWORD type, const std::u16string& name, std::size_t shortBy = 0) {
    std::vector<std::uint64_t> storage(64, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    record->dbcc_devicetype = type;
    record->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                           (name.size() + 1 - shortBy) * sizeof(wchar_t));
    for (std::size_t i = 0; i < name.size(); ++i) record->dbcc_name[i] = name[i];
    // What lies past the record's size is no part of it, however it reads.
    if (shortBy > 0) record->dbcc_name[name.size()] = L'x';
    return OnDeviceChange(event, reinterpret_cast<LPARAM>(record));
}

int DeviceChangeTest() {
    const std::u16string box = u"\\\\?\\HID#VID_21B8&PID_0001#7&1";
    const bool results = DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, box) == TRUE &&
                         DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, box) == TRUE &&
                         DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, box, 1) == TRUE &&
                         DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, u"COM3") == TRUE &&
                         DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, box) == TRUE &&
                         DeviceChange(DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE, box) == FALSE &&
                         OnDeviceChange(DBT_DEVNODES_CHANGED, 0) == FALSE &&
                         OnDeviceChange(DBT_DEVICEARRIVAL, 0) == TRUE;
    const std::vector<std::u16string> expected = {u"+" + box, u"-" + box, u"-?"};
    const bool told = g_told == expected;
    std::printf("%s device changes: handled as arrival and removal only, of interfaces only\n", results ? "PASS" : "FAIL");
    std::printf("%s device changes: the logic told of each interface, a name cut short as none\n", told ? "PASS" : "FAIL");
    return results && told ? 0 : 1;
}

}  // namespace

namespace {

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (const char16_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}

bool SameFolded(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() && _wcsnicmp(reinterpret_cast<const wchar_t*>(a.c_str()), reinterpret_cast<const wchar_t*>(b.c_str()), a.size()) == 0;
}

// The watch's announcements until one of the box's kind comes: an arrival of an interface the
// list names a box (`path` set to the announced one), or the removal of `path`. Every wait's
// result is kept in `whole`. The bound only keeps a run whose box never comes from hanging.
bool AwaitBox(InterfaceWatch* watch, bool arrival, std::u16string* path, bool* whole, std::u16string* listed) {
    for (int wait = 0; wait < 240; ++wait) {
        std::vector<InterfaceChange> changes;
        *whole = ConsoleWaitForChanges(watch, 500, &changes) && *whole;
        for (const InterfaceChange& change : changes) {
            std::printf("     %s %s\n", change.arrival ? "arrival" : "removal", Narrow(change.path).c_str());
            if (change.arrival != arrival) continue;
            if (!arrival) {
                if (SameFolded(change.path, *path)) {
                    *listed = change.path;
                    return true;
                }
                continue;
            }
            std::vector<std::u16string> boxes;
            ListBoxes(&boxes);
            for (const std::u16string& box : boxes) {
                if (!SameFolded(box, change.path)) continue;
                *path = change.path;
                *listed = box;
                return true;
            }
        }
    }
    return false;
}

// One box per serial number, in turn: plugged in by the runner on "watching", pulled out on
// "arrived".
int WatchTest(int count, char** serials) {
    ConsoleCatchStopRequests();
    InterfaceWatch* const watch = ConsoleWatchInterfaces();
    if (!Expect(watch != nullptr, "the watch is registered for HID interfaces")) return 1;
    bool passed = true;
    bool whole = true;
    for (int i = 0; i < count; ++i) {
        const std::string expected = std::strcmp(serials[i], "-") == 0 ? "" : serials[i];
        std::printf("watching\n");
        std::fflush(stdout);
        std::u16string box;
        std::u16string listed;
        passed &= Expect(AwaitBox(watch, true, &box, &whole, &listed), "the box's arrival is announced");
        passed &= Expect(!box.empty() && box == listed, "with the path the interface list gives it");
        const std::string read = BoxSerial(box);
        std::printf("     serial number \"%s\", instance \"%s\"\n", read.c_str(), BoxInstance(box).c_str());
        passed &= Expect(read == expected, expected.empty() ? "a serial number unfit for a key read as none"
                                                            : "its serial number read as the box sets it");
        passed &= Expect(!BoxInstance(box).empty(), "its instance told while it is there");
        std::printf("arrived\n");
        std::fflush(stdout);
        std::u16string removed;
        passed &= Expect(AwaitBox(watch, false, &box, &whole, &removed), "its removal is announced");
        passed &= Expect(removed == box, "with the same path");
        passed &= Expect(BoxInstance(box).empty(), "no instance once it is gone");
    }
    passed &= Expect(whole, "no announcement lost on the way");

    // The runner gives the probe a console. Two Ctrl+C sent to it (Wine's console sends no
    // Ctrl+Break) each end a wait with nothing announced, and the handler counts both as the
    // operator's interrupts, the second of which may cut boxes short.
    for (int sent = 1; sent <= 2; ++sent) {
        if (!Expect(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE, "a Ctrl+C sent to the probe's console")) {
            passed = false;
            break;
        }
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        std::vector<InterfaceChange> changes;
        for (int wait = 0; wait < 20 && ConsoleStopRequests(nullptr) < sent; ++wait) ConsoleWaitForChanges(watch, 3000, &changes);
        QueryPerformanceCounter(&after);
        std::printf("     the wait ended %.1f ms after it\n", ElapsedMs(before.QuadPart, after.QuadPart));
    }
    int first = 0;
    passed &= Expect(ConsoleStopRequests(&first) == 2 && first == 2 && ConsoleInterrupts() == 2,
                     "both are stop requests, the first SIGINT, and both interrupts");
    ConsoleEndWatch(watch);
    return passed ? 0 : 1;
}

// Where the record lives, the folders made for it (also where a file is in the way), and what
// tells its writer's boot and process.
int StateTest() {
    const std::string history = StateDefaultHistoryPath(false);
    const std::string demo = StateDefaultHistoryPath(true);
    std::printf("     history %s, demo %s\n", history.c_str(), demo.c_str());
    const std::string folder = "\\SORVANTIK\\VELTABOX\\";
    bool passed = Expect(history.size() > folder.size() && history.compare(history.size() - 15, 15, "history.sqlite3") == 0 &&
                             history.find(folder) != std::string::npos &&
                             demo == history.substr(0, history.size() - 15) + "demo-history.sqlite3",
                         "the record in the user's local application data, the demo's beside it");

    wchar_t temporary[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temporary);
    std::string base = length > 0 && length < MAX_PATH ? Utf8OfWide(temporary) : std::string(".\\");
    // A folder name beyond ASCII, handed over as UTF-8.
    base += "hid_probe-\xC3\xA4-" + std::to_string(GetCurrentProcessId());
    const std::string file = base + "\\a\\b\\history.sqlite3";
    std::string error;
    passed &= Expect(StateMakeFolderFor(file, &error) && StateMakeFolderFor(file, &error), "the folders above a file made, and made again");
    const std::wstring wide = std::wstring(temporary) + L"hid_probe-\u00E4-" + std::to_wstring(GetCurrentProcessId());
    const DWORD made = GetFileAttributesW((wide + L"\\a\\b").c_str());
    passed &= Expect(made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_DIRECTORY) != 0, "with the name given in UTF-8");
    const HANDLE blocker = CreateFileW((wide + L"\\a\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (blocker != INVALID_HANDLE_VALUE) CloseHandle(blocker);
    error.clear();
    const bool refused = !StateMakeFolderFor(base + "\\a\\file\\c\\history.sqlite3", &error);
    std::printf("     a file in the way: %s\n", error.c_str());
    passed &= Expect(refused && !error.empty(), "a folder that cannot be made is refused with the system's words");
    DeleteFileW((wide + L"\\a\\file").c_str());
    RemoveDirectoryW((wide + L"\\a\\b").c_str());
    RemoveDirectoryW((wide + L"\\a").c_str());
    RemoveDirectoryW(wide.c_str());

    const std::string boot = StateBootId();
    Sleep(50);
    std::printf("     station %s, boot %s, process %u\n", StateStationName().c_str(), boot.c_str(),
                static_cast<unsigned>(StateProcessId()));
    passed &= Expect(!StateStationName().empty() && !boot.empty() && boot == StateBootId(), "the station named, the boot the same a moment later");
    passed &= Expect(StateProcessId() == GetCurrentProcessId() && StateProcessAlive(StateProcessId()), "this process alive");

    // A child that has ended, its handle still held, so that its ID is not given to another.
    wchar_t program[MAX_PATH];
    wchar_t command[MAX_PATH + 16];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::swprintf(command, MAX_PATH + 16, L"\"%ls\" --exit", program);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const bool started = CreateProcessW(program, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child) != FALSE;
    if (started) {
        WaitForSingleObject(child.hProcess, INFINITE);
        passed &= Expect(!StateProcessAlive(child.dwProcessId), "a process that ended is not alive, though its handle is held");
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    } else {
        passed &= Expect(false, "a child process started");
    }
    passed &= Expect(!StateProcessAlive(0), "no process 0");
    return passed ? 0 : 1;
}

}  // namespace

void OnInterfaceArrival(const char16_t* path) { Tell(u'+', path); }
void OnInterfaceRemoval(const char16_t* path) { Tell(u'-', path); }

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--pause-test") == 0) return PauseTest();
    if (argc == 2 && std::strcmp(argv[1], "--dll-check") == 0) return DllCheck(LoadAsTheProgramsDo);
    if (argc == 2 && std::strcmp(argv[1], "--dll-check-by-path") == 0) return DllCheck(LoadByPath);
    if (argc == 2 && std::strcmp(argv[1], "--transfer-test") == 0) return TransferTest();
    if (argc == 2 && std::strcmp(argv[1], "--device-change-test") == 0) return DeviceChangeTest();
    if (argc == 3 && std::strcmp(argv[1], "--info-answers") == 0) return InfoAnswers(static_cast<unsigned>(std::atoi(argv[2])));
    if (argc >= 3 && std::strcmp(argv[1], "--watch-test") == 0) return WatchTest(argc - 2, argv + 2);
    if (argc == 2 && std::strcmp(argv[1], "--state-test") == 0) return StateTest();
    if (argc == 2 && std::strcmp(argv[1], "--exit") == 0) return 0;
    if (argc == 1) return Probe();
    std::fprintf(stderr, "usage: hid_probe [--pause-test | --dll-check | --dll-check-by-path | --transfer-test | --device-change-test | "
                         "--info-answers N | --watch-test SERIAL... | --state-test]\n");
    return 2;
}
