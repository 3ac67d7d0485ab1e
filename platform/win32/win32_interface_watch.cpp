// The console program's watch on HID interfaces arriving and leaving (platform/console.h): the
// system's device-interface notifications, which Windows sends only to a window, taken by a
// message-only window on a thread of the watch's own. That thread does nothing but take them,
// so that the system, which gives a window a bounded time to answer each one, never finds it
// busy; the names are queued under a lock and an event wakes the program's waiting thread.
// Windows 7 has all of it.
//
// The program links user32.dll for the window rather than loading it by hand: user32 is a
// KnownDLL, always System32's whatever lies beside the program, and setupapi.dll brings it into
// the process anyway; linked, its functions are held against the Windows 7 list after each link
// as every other import is. The console control handler is not touched by it: Windows runs the
// handler on a thread it makes for each event, whatever windows the process has. The window is
// message-only, so it takes no broadcasts (the session's end among them) and shows nowhere.
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/hid.h"
#include "platform/win32/win32_console_stop.h"
#include "platform/win32/win32_device_change.h"
#include "platform/win32/win32_dll.h"

namespace {

// Announcements not yet taken beyond this are dropped, and the caller told to list instead: a
// program that stopped waiting must not have the window's thread take all the memory.
constexpr std::size_t MOST_QUEUED = 1024;

struct Announcement {
    bool arrival;
    std::u16string name;  // as the notification spells it
};

}  // namespace

struct InterfaceWatch {
    // Made before the window's thread starts; read by both sides.
    GUID hidGuid;
    HANDLE changed;           // auto-reset: set by the window's thread after each announcement
    HANDLE ready;             // manual-reset: the window is registered, or could not be
    wchar_t className[48];    // the watch's own, so that two watches never share a class
    HANDLE thread;
    DWORD threadId;
    // Written by the window's thread before `ready` is set, read by the caller after.
    HWND window;              // null when the notifications could not be registered for
    // Between the two threads, under `lock`.
    CRITICAL_SECTION lock;
    std::vector<Announcement> queued;
    bool lost;
    // The caller's alone: the interfaces seen, in the list's spelling.
    std::vector<std::u16string> known;
};

namespace {

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Windows spells an interface's name in a notification with other capitals than the Setup API
// spells its path (on Windows the list has it in lower case, a removal in upper case), and
// differs in nothing else; the dialog compares them the same way (app/hotplug.cpp).
bool SameInterface(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// The window's thread. The record of an arrival or a removal is only valid while the message is
// handled, so the name is copied out of it at once.
void Queue(InterfaceWatch* watch, bool arrival, const DEV_BROADCAST_HDR* header) {
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    const auto& record = *reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    if (!IsEqualGUID(record.dbcc_classguid, watch->hidGuid)) return;
    const char16_t* name = DeviceInterfaceName(record);
    EnterCriticalSection(&watch->lock);
    if (name == nullptr || watch->queued.size() >= MOST_QUEUED) {
        watch->lost = true;
    } else {
        try {
            watch->queued.push_back(Announcement{arrival, name});
        } catch (const std::bad_alloc&) {
            watch->lost = true;
        }
    }
    LeaveCriticalSection(&watch->lock);
    SetEvent(watch->changed);
}

LRESULT CALLBACK WatchProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* watch = reinterpret_cast<InterfaceWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (watch != nullptr && message == WM_DEVICECHANGE) {
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            Queue(watch, wParam == DBT_DEVICEARRIVAL, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
        return TRUE;
    }
    // ConsoleEndWatch's request: the loop ends, and the thread lets everything go.
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MarkLost(InterfaceWatch* watch) {
    EnterCriticalSection(&watch->lock);
    watch->lost = true;
    LeaveCriticalSection(&watch->lock);
    SetEvent(watch->changed);
}

// A window belongs to the thread that made it: this thread makes it, takes its messages and
// destroys it.
DWORD WINAPI WatchThread(void* parameter) {
    auto* watch = static_cast<InterfaceWatch*>(parameter);
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW type = {};
    type.cbSize = sizeof type;
    type.lpfnWndProc = WatchProcedure;
    type.hInstance = module;
    type.lpszClassName = watch->className;
    const bool registered = RegisterClassExW(&type) != 0;
    const HWND window = registered ? CreateWindowExW(0, watch->className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, watch)
                                   : nullptr;
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = watch->hidGuid;
    const HDEVNOTIFY notification = window != nullptr ? RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE)
                                                      : nullptr;
    watch->window = notification != nullptr ? window : nullptr;
    SetEvent(watch->ready);
    if (notification != nullptr) {
        MSG message;
        BOOL got;
        while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) DispatchMessageW(&message);
        // The queue broke: nothing is announced from here on.
        if (got < 0) MarkLost(watch);
        UnregisterDeviceNotification(notification);
    }
    if (window != nullptr) DestroyWindow(window);
    if (registered) UnregisterClassW(watch->className, module);
    return 0;
}

void FreeWatch(InterfaceWatch* watch) {
    if (watch->thread != nullptr) CloseHandle(watch->thread);
    if (watch->changed != nullptr) CloseHandle(watch->changed);
    if (watch->ready != nullptr) CloseHandle(watch->ready);
    DeleteCriticalSection(&watch->lock);
    delete watch;
}

// Every interface present, each in the list's spelling; false when there is no list.
bool ListedPaths(std::vector<std::u16string>* paths) {
    InterfaceList* const list = HidListInterfaces();
    if (list == nullptr) return false;
    ListedInterface member = {};
    for (std::uint32_t index = 0;; ++index) {
        const Listed listed = HidInterfaceAt(list, index, &member);
        if (listed == Listed::End) break;
        if (listed != Listed::Interface) continue;
        paths->push_back(member.path);
        std::free(member.path);
    }
    HidFreeInterfaceList(list);
    return true;
}

// The announced name in the list's spelling: an arrival's from the list made for it (or, where
// the interface went again before it, from what was seen of it), a removal's from what was seen.
// A name never seen is passed on as announced; the caller has not seen it either.
std::u16string ListSpelling(InterfaceWatch* watch, const Announcement& announcement, const std::vector<std::u16string>& present) {
    auto seen = watch->known.begin();
    while (seen != watch->known.end() && !SameInterface(*seen, announcement.name)) ++seen;
    if (!announcement.arrival) {
        if (seen == watch->known.end()) return announcement.name;
        const std::u16string path = *seen;
        watch->known.erase(seen);
        return path;
    }
    for (const std::u16string& path : present) {
        if (!SameInterface(path, announcement.name)) continue;
        if (seen != watch->known.end()) *seen = path;
        else watch->known.push_back(path);
        return path;
    }
    if (seen != watch->known.end()) return *seen;
    watch->known.push_back(announcement.name);
    return announcement.name;
}

}  // namespace

InterfaceWatch* ConsoleWatchInterfaces() {
    const HidLibraries& api = HidLibrariesOnce();
    if (api.loadError != ERROR_SUCCESS) return nullptr;
    auto* watch = new (std::nothrow) InterfaceWatch();
    if (watch == nullptr) return nullptr;
    api.HidD_GetHidGuid(&watch->hidGuid);
    // Named after the record's address, which no other watch of the process has meanwhile.
    static const wchar_t PREFIX[] = L"VELTABOX-watch-";
    std::size_t length = 0;
    for (; PREFIX[length] != 0; ++length) watch->className[length] = PREFIX[length];
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(watch));
    for (int shift = 60; shift >= 0; shift -= 4) watch->className[length++] = L"0123456789abcdef"[(address >> shift) & 0xF];
    watch->className[length] = 0;
    InitializeCriticalSection(&watch->lock);
    watch->changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    watch->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->changed != nullptr && watch->ready != nullptr)
        watch->thread = CreateThread(nullptr, 0, WatchThread, watch, 0, &watch->threadId);
    if (watch->thread != nullptr) WaitForSingleObject(watch->ready, INFINITE);
    if (watch->window == nullptr) {
        // The thread, if it started, has let everything go and is ending.
        if (watch->thread != nullptr) WaitForSingleObject(watch->thread, INFINITE);
        FreeWatch(watch);
        return nullptr;
    }
    // After the registration, so that an interface that comes meanwhile is in the list or
    // announced, or both. Without a list, the interfaces the caller lists are learnt as they are
    // announced.
    ListedPaths(&watch->known);
    return watch;
}

bool ConsoleWaitForChanges(InterfaceWatch* watch, std::uint32_t milliseconds, std::vector<InterfaceChange>* changes) {
    if (watch == nullptr) {
        ConsoleWaitForStop(milliseconds);
        return false;
    }
    const HANDLE events[2] = {watch->changed, ConsoleStopEvent()};
    const DWORD waited = WaitForMultipleObjects(events[1] != nullptr ? 2 : 1, events, FALSE, milliseconds);
    // A wait that fails at once would turn the caller's loop into spinning.
    if (waited == WAIT_FAILED) Sleep(milliseconds);
    std::vector<Announcement> taken;
    EnterCriticalSection(&watch->lock);
    taken.swap(watch->queued);
    bool whole = !watch->lost;
    watch->lost = false;
    LeaveCriticalSection(&watch->lock);
    // A thread that ended has stopped taking the system's announcements.
    whole = whole && waited != WAIT_FAILED && WaitForSingleObject(watch->thread, 0) == WAIT_TIMEOUT;
    std::vector<std::u16string> present;
    bool listed = false;
    for (const Announcement& announcement : taken) {
        if (announcement.arrival && !listed) {
            listed = true;
            whole = ListedPaths(&present) && whole;
        }
        changes->push_back(InterfaceChange{announcement.arrival, ListSpelling(watch, announcement, present)});
    }
    return whole;
}

// The thread is asked to end through its window, and it unregisters, destroys the window and
// its class before it ends; only then does the record go.
void ConsoleEndWatch(InterfaceWatch* watch) {
    if (watch == nullptr) return;
    if (!PostMessageW(watch->window, WM_CLOSE, 0, 0)) PostThreadMessageW(watch->threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(watch->thread, INFINITE);
    FreeWatch(watch);
}
