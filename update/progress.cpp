#include "app/globals.h"
#include "update/update.h"

void ProgressWindowOrigin(const WindowRect& main, std::int32_t* x, std::int32_t* y) {
    const std::int32_t halfWidth = (main.right - main.left) >> 1;
    const std::int32_t halfHeight = (main.bottom - main.top) >> 1;
    *x = main.left + halfWidth - PROGRESS_WIDTH / 2;
    *y = main.top + halfHeight - PROGRESS_HEIGHT / 2;
}

void KeepInFront(WindowHandle progress, WindowHandle* remembered) {
    if (*remembered == g_hMainDlg || *remembered == progress) return;
    const WindowHandle foreground = UiForegroundWindow();
    // Never pull the windows over another program the user has turned to.
    if (foreground != g_hMainDlg && foreground != progress) return;
    *remembered = UiForegroundWindow();
    UiBringToTop(g_hMainDlg);
    UiBringToTop(progress);
    UiShowWindow(g_hMainDlg);
    UiShowWindow(progress);
}
