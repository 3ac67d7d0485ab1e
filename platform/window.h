// What the program's logic needs of a window system, and nothing more. Each function stands for
// the Win32 call named beside it (or the fixed group of calls), so that the Win32 backend maps it
// one to one; the recording backend in platform/sim/ plays the same calls for tests and keeps
// every control's text and state.
#pragma once

#include <cstdint>

// Same widths as the Win32 handles they carry: HWND, HDC, HBITMAP/HGDIOBJ, HDEVNOTIFY, HINSTANCE.
using WindowHandle = std::intptr_t;
using DrawContext = std::intptr_t;
using GdiObject = std::intptr_t;
using NotifyHandle = std::intptr_t;
using ModuleHandle = std::intptr_t;

struct WindowRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// Room for the system's paint record (PAINTSTRUCT) between UiBeginPaint and UiEndPaint.
struct PaintSession {
    alignas(8) std::uint8_t storage[128];
};

// The data record of a device-change notification, laid out as DEV_BROADCAST_HDR and
// DEV_BROADCAST_DEVICEINTERFACE_W, so the Win32 backend hands the system's record through as it is.
struct DeviceBroadcastHeader {
    std::uint32_t dbch_size;
    std::uint32_t dbch_devicetype;
    std::uint32_t dbch_reserved;
};
struct DeviceBroadcastInterface {
    std::uint32_t dbcc_size;
    std::uint32_t dbcc_devicetype;
    std::uint32_t dbcc_reserved;
    std::uint8_t dbcc_classguid[16];
    char16_t dbcc_name[1];  // zero-terminated; the record is as long as the name needs
};

// ---- Defined by the logic, called by the backend ----
// The program entry (the backend's WinMain or main calls it) and the main dialog's procedure.
int RunProgram(ModuleHandle instance);
std::intptr_t MainDialogProc(WindowHandle dialog, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

// ---- The dialog ----
void UiInitCommonControls();                                              // InitCommonControls
std::intptr_t UiRunDialog(ModuleHandle instance, std::uint16_t templateId);  // DialogBoxParamW(.., no owner, MainDialogProc, 0)
void UiEndDialog(WindowHandle dialog, std::intptr_t result);              // EndDialog
WindowHandle UiGetControl(WindowHandle dialog, int controlId);            // GetDlgItem
void UiSetControlText(WindowHandle dialog, int controlId, const char16_t* text);  // SetDlgItemTextW
void UiSetWindowText(WindowHandle window, const char16_t* text);         // SetWindowTextW
void UiSendSetText(WindowHandle window, const char16_t* text);           // SendMessageW(WM_SETTEXT)
int UiGetWindowTextLength(WindowHandle window);                          // GetWindowTextLengthW
int UiGetWindowText(WindowHandle window, char16_t* buffer, int capacity); // GetWindowTextW
void UiEnableWindow(WindowHandle window, bool enable);                   // EnableWindow
void UiShowWindow(WindowHandle window, int command);                     // ShowWindow
int UiMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, std::uint32_t type);  // MessageBoxW
void UiSetDialogIcon(WindowHandle dialog, ModuleHandle instance, std::uint16_t iconId);  // LoadIconW, SetClassLongPtrW(GCLP_HICON)
int UiLoadString(ModuleHandle instance, std::uint32_t id, char16_t* buffer, int capacity);  // LoadStringW

// ---- Timers ----
// SetTimer(window, id, milliseconds, no procedure): WM_TIMER with `id` reaches the dialog
// procedure every `milliseconds` until UiKillTimer, whenever the thread takes messages.
void UiSetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds);
void UiKillTimer(WindowHandle window, std::uintptr_t id);                 // KillTimer

// ---- Device notifications ----
// HidD_GetHidGuid, RegisterDeviceNotificationW(DEV_BROADCAST_DEVICEINTERFACE for the HID class,
// DEVICE_NOTIFY_WINDOW_HANDLE). 0 when the registration failed.
NotifyHandle UiRegisterHidNotifications(WindowHandle window);
void UiUnregisterNotifications(NotifyHandle notify);                     // UnregisterDeviceNotification

// ---- Painting ----
DrawContext UiBeginPaint(WindowHandle window, PaintSession* session);    // BeginPaint
void UiEndPaint(WindowHandle window, PaintSession* session);             // EndPaint
GdiObject UiLoadBitmap(ModuleHandle instance, std::uint16_t bitmapId);   // LoadBitmapW
bool UiGetBitmapSize(GdiObject bitmap, std::int32_t* width, std::int32_t* height);  // GetObjectW(BITMAP)
DrawContext UiCreateCompatibleDC(DrawContext dc);                        // CreateCompatibleDC
GdiObject UiSelectObject(DrawContext dc, GdiObject object);              // SelectObject
bool UiTransparentBlt(DrawContext destination, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      DrawContext source, std::int32_t sourceX, std::int32_t sourceY, std::int32_t sourceWidth,
                      std::int32_t sourceHeight, std::uint32_t transparentColour);  // TransparentBlt
void UiDeleteDC(DrawContext dc);                                         // DeleteDC
void UiDeleteObject(GdiObject object);                                   // DeleteObject
void UiSetTextColor(DrawContext dc, std::uint32_t colour);               // SetTextColor (0x00BBGGRR)
void UiSetBkMode(DrawContext dc, int mode);                              // SetBkMode

// ---- Windows, placement and Z order ----
bool UiGetWindowRect(WindowHandle window, WindowRect* rect);             // GetWindowRect
int UiGetSystemMetrics(int index);                                       // GetSystemMetrics
// CreateWindowExW(0, "msctls_progress32", text, WS_VISIBLE | PBS_SMOOTH, x, y, width, height,
// owner, no menu, instance, no data), then SetWindowTheme with no visual style.
WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height, WindowHandle owner, ModuleHandle instance);
// SendMessageW(PBM_SETPOS, position, 0), then UpdateWindow: the new position is on the screen when
// it returns, without a message loop.
void UiSetProgressPosition(WindowHandle progress, std::uint32_t position);
void UiDestroyWindow(WindowHandle window);                               // DestroyWindow
void UiBringToTop(WindowHandle window);                                  // SetWindowPos(HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE)
WindowHandle UiGetForegroundWindow();                                    // GetForegroundWindow

// ---- The program's own module ----
// FindResourceW(RT_RCDATA), LoadResource, SizeofResource, LockResource. False when it cannot be had.
bool UiLoadRawResource(ModuleHandle instance, std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size);

// ---- While an update runs ----
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) and ShutdownBlockReasonCreate with
// the given text; released by UiEndBusy.
void UiBeginBusy(WindowHandle window, const char16_t* reason);
void UiEndBusy(WindowHandle window);
// Called by the update between steps that take the box a while (each erased page): a window
// system that must be answered now and then (a desktop's liveness checks) gets its turn here,
// without any input or device event reaching the logic. On Windows nothing: the update takes no
// messages until it returns, and the window is kept from being ghosted instead.
void UiServeDesktop();
