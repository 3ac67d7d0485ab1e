// The platform's handles are the Win32 handles themselves, carried as integers so that the logic
// never sees a system header. These turn one into the other, and keep the dialog that the window
// functions act on.
#pragma once

#include <windows.h>

#include "platform/window.h"

static_assert(sizeof(HWND) == sizeof(WindowHandle) && sizeof(HDEVNOTIFY) == sizeof(NotifyHandle) &&
                  sizeof(HINSTANCE) == sizeof(ModuleHandle),
              "handles pass through the platform types unchanged");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "texts are handed over as UTF-16");

inline HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
inline WindowHandle FromWindow(HWND window) { return reinterpret_cast<WindowHandle>(window); }
inline HINSTANCE AsInstance(ModuleHandle instance) { return reinterpret_cast<HINSTANCE>(instance); }

inline const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// The running dialog, from WM_INITDIALOG on, and the module its template came from.
HWND MainDialog();
HINSTANCE ProgramModule();
// The paint context of the WM_PAINT being handled; null outside it.
HDC PaintingContext();
