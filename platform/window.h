// What the program's logic needs of a window system, in the program's own words: one modal
// dialog whose controls it names by their IDs, message boxes, a progress window kept in front,
// the logo, a timer, word of HID interfaces arriving and leaving, and the system held awake while
// a box is written. Each backend maps this onto its own system (the dialog manager and GDI on
// Windows, GTK 3 with cairo and udev on Linux, a recording window system for the tests) and
// hands the user's and the system's events to the logic through the entries below.
#pragma once

#include <cstdint>

// A top-level window of the program (the dialog or the progress window), as the backend names
// it; 0 names none. The backend refuses a value that names no window of its own any more.
using WindowHandle = std::intptr_t;
// The program's own module, where its resources are (an HINSTANCE on Windows).
using ModuleHandle = std::intptr_t;
// The watch on HID interfaces arriving and leaving; 0 when there is none.
using NotifyHandle = std::intptr_t;

struct WindowRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// Where the logo goes, in the dialog's coordinates (its top-left corner, frame included, lies
// at the frame width and the caption height before its client area's origin).
struct LogoPlacement {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};

// A colour as 0x00BBGGRR.
constexpr std::uint32_t Colour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
}

// The commands the dialog takes besides its buttons' IDs: "Beenden", Escape and the close box.
constexpr int COMMAND_CANCEL = 2;

// ---- Entries of the logic, called by the backend on the dialog's thread ----
// The program; the backend's entry (WinMain, main) calls it and exits with what it returns.
int RunProgram(ModuleHandle instance);
// The dialog has been created and is about to be shown.
void OnInitDialog(WindowHandle dialog);
// A button or the cancel command. False for a command the dialog does not take.
bool OnCommand(int commandId);
// The logo's part of the dialog is to be drawn: the logic calls UiDrawLogo, or draws nothing.
void OnPaint();
// The text colour of a static control where the logic names one; false for the system's own.
bool ControlTextColour(int controlId, std::uint32_t* colour);
// The timer `id` fired. False for a timer the dialog did not set.
bool OnTimer(std::uintptr_t id);
// A HID interface arrived, or was removed, under `path` (the form the device link stores).
void OnInterfaceArrival(const char16_t* path);
void OnInterfaceRemoval(const char16_t* path);

// ---- The dialog ----
// Whatever the window system needs before the first window (the common controls on Windows).
void UiPrepareWindowSystem();
// Creates the dialog from its template, calls OnInitDialog and runs it until UiEndDialog.
std::intptr_t UiRunDialog(ModuleHandle instance, std::uint16_t templateId);
void UiEndDialog(std::intptr_t result);
void UiSetTitle(const char16_t* text);
void UiSetDialogIcon(std::uint16_t iconId);
void UiSetControlText(int controlId, const char16_t* text);
// The control's text as the user sees it: its length, and a copy cut to `capacity` units with
// its terminator (the units copied are returned).
int UiGetControlTextLength(int controlId);
int UiGetControlText(int controlId, char16_t* buffer, int capacity);
void UiEnableControl(int controlId, bool enable);
void UiShowControl(int controlId, bool show);
// Screen rectangles: a top-level window's, and a control's of the dialog.
bool UiGetWindowRect(WindowHandle window, WindowRect* rect);
bool UiGetControlRect(int controlId, WindowRect* rect);
// The width of the dialog's frame and the height of its caption.
void UiGetDialogFrame(std::int32_t* frameWidth, std::int32_t* captionHeight);

// ---- Message boxes, modal to the dialog ----
// A warning with Yes and No: true for Yes.
bool UiAskYesNo(const char16_t* text, const char16_t* caption);
void UiShowError(const char16_t* text, const char16_t* caption);

// ---- The program's own module ----
// A text of the string table; the units copied, 0 when there is none.
int UiLoadString(std::uint32_t id, char16_t* buffer, int capacity);
// Raw data built into the program. False when it cannot be had.
bool UiLoadRawResource(std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size);

// ---- The logo ----
// Draws the bitmap `bitmapId` with `keyColour` left out, scaled into where `place` puts it for
// the bitmap's width and height; only from OnPaint. Nothing when the bitmap cannot be had.
void UiDrawLogo(std::uint16_t bitmapId, std::uint32_t keyColour,
                LogoPlacement (*place)(std::int32_t width, std::int32_t height));

// ---- Timers ----
// OnTimer(id) every `milliseconds` until UiKillTimer, whenever the dialog takes events.
void UiSetTimer(std::uintptr_t id, std::uint32_t milliseconds);
void UiKillTimer(std::uintptr_t id);

// ---- HID interfaces arriving and leaving ----
// From now on OnInterfaceArrival and OnInterfaceRemoval, whenever the dialog takes events.
// 0 when the system will not tell.
NotifyHandle UiWatchHidInterfaces();
void UiStopWatching(NotifyHandle watch);

// ---- The progress window and the dialog's place in front ----
// A progress bar of its own at (x, y), owned by the dialog; 0 when it cannot be had.
WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height);
// The new position (0 to 100) is on the screen when it returns, without the dialog taking
// events meanwhile.
void UiSetProgressPosition(WindowHandle progress, std::uint32_t position);
void UiCloseProgressWindow(WindowHandle progress);
void UiBringToTop(WindowHandle window);
void UiShowWindow(WindowHandle window);
// The window the user works in now, whichever program's; 0 when none.
WindowHandle UiForegroundWindow();

// ---- While an update writes ----
// The system kept awake and, where it asks first, from shutting down, with `reason` shown
// where the system shows one; until UiEndBusy. Input and device events wait (or are dropped,
// where the backend must serve the desktop meanwhile) until the update has returned.
void UiBeginBusy(const char16_t* reason);
void UiEndBusy();
// Called by the update in the box's pauses (after each step, erased page and data block), with
// the microseconds of the pause still left: a window system that must be answered now and then
// (a desktop's liveness checks, a screen reader's questions) gets its turn here, without any
// input or device event reaching the logic, and returns before the time is up.
void UiServeDesktop(std::uint32_t microseconds);
