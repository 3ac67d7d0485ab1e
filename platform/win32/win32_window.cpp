// The windows, placement, module, timer and busy functions of platform/window.h on Win32.
#include <windows.h>

#include <commctrl.h>

#include "platform/win32/win32_dll.h"
#include "platform/win32/win32_handles.h"

static_assert(sizeof(LONG) == sizeof(std::int32_t), "a rectangle's sides have the same width in both records");

bool UiGetWindowRect(WindowHandle window, WindowRect* rect) {
    RECT system = {};
    if (!GetWindowRect(AsWindow(window), &system)) return false;
    *rect = {system.left, system.top, system.right, system.bottom};
    return true;
}

bool UiGetControlRect(int controlId, WindowRect* rect) {
    return UiGetWindowRect(FromWindow(GetDlgItem(MainDialog(), controlId)), rect);
}

void UiGetDialogFrame(std::int32_t* frameWidth, std::int32_t* captionHeight) {
    *frameWidth = GetSystemMetrics(SM_CXDLGFRAME);
    *captionHeight = GetSystemMetrics(SM_CYCAPTION);
}

// The bar has to show each new position at once, although no message is dispatched while the
// update runs. With Common Controls 6 and visual styles it does not: it glides towards a new
// position on timer messages, which would wait for the end of the update, and it ignores
// PBS_SMOOTH. So the window gets no visual style (SetWindowTheme with a name that matches no
// section, as the documentation suggests): the control then draws the classic bar, which jumps
// to the position and is smooth as PBS_SMOOTH asks. Without uxtheme.dll the bar keeps its theme.
WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height) {
    const HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, AsWide(text), WS_VISIBLE | PBS_SMOOTH, x, y, width,
                                          height, MainDialog(), nullptr, ProgramModule(), nullptr);
    const ThemeLibrary& uxtheme = ThemeLibraryOnce();
    if (progress != nullptr && uxtheme.SetWindowTheme != nullptr) uxtheme.SetWindowTheme(progress, L" ", L" ");
    return FromWindow(progress);
}

// PBM_SETPOS redraws the bar, but the WM_PAINT for it may wait in the queue for a message loop
// that does not run during the update. UpdateWindow sends that WM_PAINT straight to the window
// procedure, and only when part of the window still needs painting; it takes nothing from the
// thread's queue.
void UiSetProgressPosition(WindowHandle progress, std::uint32_t position) {
    SendMessageW(AsWindow(progress), PBM_SETPOS, position, 0);
    UpdateWindow(AsWindow(progress));
}

void UiCloseProgressWindow(WindowHandle progress) { DestroyWindow(AsWindow(progress)); }

void UiShowWindow(WindowHandle window) { ShowWindow(AsWindow(window), SW_SHOW); }

void UiBringToTop(WindowHandle window) { SetWindowPos(AsWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }

WindowHandle UiForegroundWindow() { return FromWindow(GetForegroundWindow()); }

// The resource is stored in German only; FindResourceW asks for the neutral language, and the
// system then falls back through the thread's and the user's languages to the one that exists.
bool UiLoadRawResource(std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size) {
    const HMODULE module = ProgramModule();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    if (found == nullptr) return false;
    const HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    const DWORD length = SizeofResource(module, found);
    const void* data = LockResource(loaded);
    if (data == nullptr) return false;
    *bytes = static_cast<const std::uint8_t*>(data);
    *size = length;
    return true;
}

void UiSetTimer(std::uintptr_t id, std::uint32_t milliseconds) { SetTimer(MainDialog(), id, milliseconds, nullptr); }

void UiKillTimer(std::uintptr_t id) { KillTimer(MainDialog(), id); }

// Windows takes no message during the update: the pause is the box's alone.
void UiServeDesktop(std::uint32_t) {}

// The system stays awake, and a shutdown shows the reason, until UiEndBusy; an update cut short
// by either would leave the box without firmware.
void UiBeginBusy(const char16_t* reason) {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    ShutdownBlockReasonCreate(MainDialog(), AsWide(reason));
}

void UiEndBusy() {
    ShutdownBlockReasonDestroy(MainDialog());
    SetThreadExecutionState(ES_CONTINUOUS);
}
