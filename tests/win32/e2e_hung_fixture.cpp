// A program that hangs the way a program under test could: it puts up a window that passes for
// the updater's dialog (its class, title and control ids) and then never reads its message
// queue again. The end-to-end driver is run against it to show that each of its waits ends, that
// it reports such a program as failed, and that it leaves none of it running.
#include <windows.h>

#include "resources/resource_ids.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const HWND dialog = CreateWindowExW(0, L"#32770", L"SORVANTIK VELTABOX Firmware Updater 1.11",
                                        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 460, 380, nullptr,
                                        nullptr, instance, nullptr);
    if (dialog == nullptr) return 1;
    const struct {
        const wchar_t* className;
        const wchar_t* text;
        int id;
        DWORD style;
        int x, y, width, height;
    } controls[] = {
        {L"Edit", L"", IDC_INFO_TEXT, ES_MULTILINE | ES_READONLY | WS_BORDER, 20, 140, 400, 150},
        {L"Button", L"Update", IDC_UPDATE, BS_PUSHBUTTON, 90, 310, 80, 24},
        {L"Button", L"Beenden", IDCANCEL, BS_DEFPUSHBUTTON, 250, 310, 80, 24},
    };
    for (const auto& control : controls)
        CreateWindowExW(0, control.className, control.text, WS_CHILD | WS_VISIBLE | control.style, control.x, control.y,
                        control.width, control.height, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                        instance, nullptr);
    // From here on nothing that is sent or posted to the windows is ever handled.
    for (;;) Sleep(INFINITE);
}
