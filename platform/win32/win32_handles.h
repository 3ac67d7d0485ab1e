// The platform types of platform/window.h are the Win32 handles themselves, carried as integers
// so that the logic never sees a system header. These turn one into the other and nothing else.
#pragma once

#include <windows.h>

#include "platform/window.h"

static_assert(sizeof(HWND) == sizeof(WindowHandle) && sizeof(HDC) == sizeof(DrawContext) &&
                  sizeof(HGDIOBJ) == sizeof(GdiObject) && sizeof(HDEVNOTIFY) == sizeof(NotifyHandle) &&
                  sizeof(HINSTANCE) == sizeof(ModuleHandle),
              "handles pass through the platform types unchanged");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "texts are handed over as UTF-16");

inline HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
inline WindowHandle FromWindow(HWND window) { return reinterpret_cast<WindowHandle>(window); }
inline HDC AsDC(DrawContext dc) { return reinterpret_cast<HDC>(dc); }
inline DrawContext FromDC(HDC dc) { return reinterpret_cast<DrawContext>(dc); }
inline HGDIOBJ AsGdiObject(GdiObject object) { return reinterpret_cast<HGDIOBJ>(object); }
inline GdiObject FromGdiObject(HGDIOBJ object) { return reinterpret_cast<GdiObject>(object); }
inline HINSTANCE AsInstance(ModuleHandle instance) { return reinterpret_cast<HINSTANCE>(instance); }

inline const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
