// The window half of the platform, recorded instead of shown.
#include "platform/sim/sim_ui.h"

#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "app/text.h"
#include "platform/sim/sim_box.h"
#include "platform/window_constants.h"
#include "resources/catalogue.h"
#include "resources/firmware_image.h"

namespace simui {

Ui g_ui;

namespace {

constexpr WindowHandle CONTROL_BASE = 0x2000;
constexpr WindowHandle PROGRESS_BASE = 0x3000;
constexpr DrawContext MEMORY_DC = 0x6000;
constexpr GdiObject LOGO_BITMAP = 0x7000;
constexpr GdiObject STOCK_BITMAP = 0x7001;

std::vector<Control> TemplateControls() {
    return {
        {2, u"Beenden", true, true},        {1002, u"Update", false, true},   {40010, u"Firmware 1:", true, true},
        {1005, u"Firmware 2:", true, true}, {40013, u"0.00.00", true, true},  {40014, u"0.00.00", true, true},
        {40004, u"", true, true},           {-1, u"Hinweisfenster:", true, true},
        {40007, u"Installierte Firmware Versionen", true, true},
        {40011, u"Firmware 3:", true, true}, {40015, u"0.00.00", true, true},
    };
}

Control* ControlByHandle(WindowHandle window) {
    const WindowHandle index = window - CONTROL_BASE;
    if (index < 0 || index >= static_cast<WindowHandle>(g_ui.controls.size())) return nullptr;
    return &g_ui.controls[static_cast<std::size_t>(index)];
}

ProgressWindow* ProgressByHandle(WindowHandle window) {
    for (ProgressWindow& p : g_ui.progress)
        if (p.handle == window && !p.destroyed) return &p;
    return nullptr;
}

std::u16string* TextOf(WindowHandle window) {
    if (window == MAIN_DIALOG) return &g_ui.title;
    if (Control* control = ControlByHandle(window)) return &control->text;
    if (ProgressWindow* p = ProgressByHandle(window)) return &p->text;
    return nullptr;
}

std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return MainDialogProc(MAIN_DIALOG, message, wParam, lParam);
}

}  // namespace

void Reset() { g_ui = Ui(); }

const Control& ControlById(int id) {
    for (const Control& control : g_ui.controls)
        if (control.id == id) return control;
    throw std::out_of_range("no control " + std::to_string(id));
}

std::u16string Text(int id) { return ControlById(id).text; }
bool Enabled(int id) { return ControlById(id).enabled; }
bool Visible(int id) { return ControlById(id).visible; }

WindowHandle HandleOf(int id) {
    for (std::size_t i = 0; i < g_ui.controls.size(); ++i)
        if (g_ui.controls[i].id == id) return CONTROL_BASE + static_cast<WindowHandle>(i);
    return 0;
}

bool Click(int id) {
    if (!Enabled(id) || g_ui.ended) return false;
    Send(WM_COMMAND, static_cast<std::uintptr_t>(id), HandleOf(id));
    return true;
}

void Cancel() { Send(WM_COMMAND, 2, 0); }

void Paint() { Send(WM_PAINT, 0, 0); }

std::intptr_t SendDeviceChange(std::uintptr_t eventCode, std::uint32_t deviceType, const std::u16string& path) {
    // The record is as long as its name, the way the system delivers it.
    const std::size_t size = offsetof(DeviceBroadcastInterface, dbcc_name) + (path.size() + 1) * sizeof(char16_t);
    std::vector<std::uint64_t> storage((size + 7) / 8, 0);
    auto* record = reinterpret_cast<DeviceBroadcastInterface*>(storage.data());
    record->dbcc_size = static_cast<std::uint32_t>(size);
    record->dbcc_devicetype = deviceType;
    std::memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(char16_t));
    return Send(WM_DEVICECHANGE, eventCode, reinterpret_cast<std::intptr_t>(record));
}

void DeliverPendingRemovals() {
    while (!sim::g_world.removedPaths.empty()) {
        const std::u16string path = sim::g_world.removedPaths.front();
        sim::g_world.removedPaths.erase(sim::g_world.removedPaths.begin());
        SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path);
    }
}

bool FireTimer(std::uintptr_t id) {
    const auto timer = g_ui.timers.find(id);
    if (timer == g_ui.timers.end()) return false;
    sim::WaitFor(timer->second);
    Send(WM_TIMER, id, 0);
    return true;
}

int RunProgramWithScript(std::vector<std::function<void()>> script) {
    g_ui.script = std::move(script);
    return RunProgram(MODULE);
}

}  // namespace simui

using simui::g_ui;

void UiInitCommonControls() { g_ui.commonControlsInitialised = true; }

std::intptr_t UiRunDialog(ModuleHandle, std::uint16_t templateId) {
    g_ui.templateId = templateId;
    g_ui.controls = simui::TemplateControls();
    g_ui.title = u"SORVANTIK Firmware Updater";
    g_ui.initialised = true;
    simui::Send(WM_INITDIALOG, 0, 0);
    // The dialog's message loop: between the user's actions it delivers what the system posted.
    for (std::size_t step = 0; step < g_ui.script.size() && !g_ui.ended; ++step) {
        simui::DeliverPendingRemovals();
        g_ui.script[step]();
    }
    if (!g_ui.ended) simui::DeliverPendingRemovals();
    return g_ui.ended ? g_ui.endResult : -1;
}

void UiEndDialog(WindowHandle, std::intptr_t result) {
    g_ui.ended = true;
    g_ui.endResult = result;
}

WindowHandle UiGetControl(WindowHandle dialog, int controlId) {
    return dialog == simui::MAIN_DIALOG ? simui::HandleOf(controlId) : 0;
}

void UiSetControlText(WindowHandle dialog, int controlId, const char16_t* text) {
    UiSetWindowText(UiGetControl(dialog, controlId), text);
}

void UiSetWindowText(WindowHandle window, const char16_t* text) {
    if (std::u16string* target = simui::TextOf(window)) *target = text;
}

void UiSendSetText(WindowHandle window, const char16_t* text) { UiSetWindowText(window, text); }

int UiGetWindowTextLength(WindowHandle window) {
    const std::u16string* text = simui::TextOf(window);
    return text == nullptr ? 0 : static_cast<int>(text->size());
}

int UiGetWindowText(WindowHandle window, char16_t* buffer, int capacity) {
    const std::u16string* text = simui::TextOf(window);
    return CopyText(text == nullptr ? nullptr : text->c_str(), buffer, capacity);
}

void UiEnableWindow(WindowHandle window, bool enable) {
    if (simui::Control* control = simui::ControlByHandle(window)) control->enabled = enable;
}

void UiShowWindow(WindowHandle window, int command) {
    if (simui::Control* control = simui::ControlByHandle(window)) {
        control->visible = command != 0;
        return;
    }
    g_ui.operations.push_back({simui::WindowOperation::Show, window, command});
}

int UiMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, std::uint32_t type) {
    simui::MessageBoxRecord record{text, caption, type, owner, 0};
    ++g_ui.openBoxes;
    // The box's own message loop delivers what the system posted, then the user acts.
    simui::DeliverPendingRemovals();
    const bool yesNo = (type & 0x0F) == 0x04;
    int answer = yesNo ? 7 : 1;  // an unscripted question is declined
    if (!g_ui.answers.empty()) {
        simui::ScriptedAnswer scripted = g_ui.answers.front();
        g_ui.answers.pop_front();
        if (scripted.whileOpen) scripted.whileOpen();
        simui::DeliverPendingRemovals();
        answer = scripted.answer;
    } else {
        ++g_ui.unscriptedBoxes;
    }
    --g_ui.openBoxes;
    record.answer = answer;
    g_ui.boxes.push_back(record);
    return answer;
}

void UiSetDialogIcon(WindowHandle, ModuleHandle, std::uint16_t iconId) { g_ui.icon = iconId; }

int UiLoadString(ModuleHandle, std::uint32_t id, char16_t* buffer, int capacity) {
    return CopyCatalogueText(id, buffer, capacity);
}

NotifyHandle UiRegisterHidNotifications(WindowHandle) {
    g_ui.registration = g_ui.registrationFails ? 0 : 0x8800;
    return g_ui.registration;
}

void UiUnregisterNotifications(NotifyHandle) { ++g_ui.unregistrations; }

DrawContext UiBeginPaint(WindowHandle, PaintSession*) {
    ++g_ui.paints;
    return simui::PAINT_DC;
}

void UiEndPaint(WindowHandle, PaintSession*) {}

GdiObject UiLoadBitmap(ModuleHandle, std::uint16_t) {
    if (g_ui.logoMissing) return 0;
    ++g_ui.liveBitmaps;
    return simui::LOGO_BITMAP;
}

bool UiGetBitmapSize(GdiObject bitmap, std::int32_t* width, std::int32_t* height) {
    if (bitmap != simui::LOGO_BITMAP) return false;
    *width = g_ui.logoWidth;
    *height = g_ui.logoHeight;
    return true;
}

DrawContext UiCreateCompatibleDC(DrawContext) {
    ++g_ui.liveDCs;
    return simui::MEMORY_DC;
}

GdiObject UiSelectObject(DrawContext, GdiObject) { return simui::STOCK_BITMAP; }

bool UiTransparentBlt(DrawContext destination, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      DrawContext, std::int32_t, std::int32_t, std::int32_t sourceWidth, std::int32_t sourceHeight,
                      std::uint32_t transparentColour) {
    g_ui.blits.push_back({destination, x, y, width, height, sourceWidth, sourceHeight, transparentColour});
    return true;
}

void UiDeleteDC(DrawContext) { --g_ui.liveDCs; }
void UiDeleteObject(GdiObject) { --g_ui.liveBitmaps; }
void UiSetTextColor(DrawContext, std::uint32_t colour) { g_ui.textColour = colour; }
void UiSetBkMode(DrawContext, int mode) { g_ui.bkMode = mode; }

bool UiGetWindowRect(WindowHandle window, WindowRect* rect) {
    if (window == simui::MAIN_DIALOG) {
        *rect = g_ui.mainRect;
        return true;
    }
    if (window == simui::HandleOf(40007)) {
        *rect = g_ui.groupRect;
        return true;
    }
    if (const simui::ProgressWindow* p = simui::ProgressByHandle(window)) {
        *rect = {p->x, p->y, p->x + p->width, p->y + p->height};
        return true;
    }
    return false;
}

int UiGetSystemMetrics(int index) {
    if (index == 7) return g_ui.frameWidth;
    if (index == 4) return g_ui.captionHeight;
    return 0;
}

WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height, WindowHandle owner, ModuleHandle instance) {
    if (g_ui.progressCreationFails) return 0;
    const WindowHandle handle = simui::PROGRESS_BASE + static_cast<WindowHandle>(g_ui.progress.size());
    g_ui.progress.push_back({handle, text, x, y, width, height, owner, instance, {}, false});
    return handle;
}

void UiSetProgressPosition(WindowHandle progress, std::uint32_t position) {
    if (simui::ProgressWindow* p = simui::ProgressByHandle(progress)) p->positions.push_back(position);
    if (g_ui.progressUpdateMs > 0) sim::WaitFor(g_ui.progressUpdateMs);
}

void UiDestroyWindow(WindowHandle window) {
    if (simui::ProgressWindow* p = simui::ProgressByHandle(window)) p->destroyed = true;
}

void UiBringToTop(WindowHandle window) { g_ui.operations.push_back({simui::WindowOperation::BringToTop, window, 0}); }

WindowHandle UiGetForegroundWindow() { return g_ui.foreground ? g_ui.foreground() : simui::MAIN_DIALOG; }

bool UiLoadRawResource(ModuleHandle, std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size) {
    if (g_ui.imageMissing || resourceId != 122) return false;
    if (g_ui.imageOverridden) {
        *bytes = g_ui.image.data();
        *size = static_cast<std::uint32_t>(g_ui.image.size());
    } else {
        *bytes = FIRMWARE_IMAGE;
        *size = FIRMWARE_IMAGE_SIZE;
    }
    return true;
}

void UiBeginBusy(WindowHandle, const char16_t* reason) {
    ++g_ui.busyBegun;
    g_ui.busyReason = reason;
}

void UiEndBusy(WindowHandle) { ++g_ui.busyEnded; }

void UiServeDesktop() { ++g_ui.desktopServed; }

void UiSetTimer(WindowHandle, std::uintptr_t id, std::uint32_t milliseconds) { g_ui.timers[id] = milliseconds; }

void UiKillTimer(WindowHandle, std::uintptr_t id) { g_ui.timers.erase(id); }
