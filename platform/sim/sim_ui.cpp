// The window half of the platform, recorded instead of shown.
#include "platform/sim/sim_ui.h"

#include <cstddef>
#include <stdexcept>

#include "app/text.h"
#include "platform/sim/sim_box.h"
#include "resources/catalogue.h"
#include "resources/firmware_image.h"

namespace simui {

Ui g_ui;

namespace {

constexpr WindowHandle PROGRESS_BASE = 0x3000;
constexpr int VERSION_GROUP = 40007;

std::vector<Control> TemplateControls() {
    return {
        {2, u"Beenden", true, true},        {1002, u"Update", false, true},   {40010, u"Firmware 1:", true, true},
        {1005, u"Firmware 2:", true, true}, {40013, u"0.00.00", true, true},  {40014, u"0.00.00", true, true},
        {40004, u"", true, true},           {-1, u"Hinweisfenster:", true, true},
        {40007, u"Installierte Firmware Versionen", true, true},
        {40011, u"Firmware 3:", true, true}, {40015, u"0.00.00", true, true},
    };
}

Control* ControlOf(int id) {
    for (Control& control : g_ui.controls)
        if (control.id == id) return &control;
    return nullptr;
}

ProgressWindow* ProgressByHandle(WindowHandle window) {
    for (ProgressWindow& p : g_ui.progress)
        if (p.handle == window && !p.destroyed) return &p;
    return nullptr;
}

bool g_painting = false;

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

bool Click(int id) {
    if (!Enabled(id) || g_ui.ended) return false;
    OnCommand(id);
    return true;
}

void Cancel() { OnCommand(COMMAND_CANCEL); }

void Paint() {
    g_painting = true;
    OnPaint();
    g_painting = false;
}

void Arrival(const std::u16string& path) { OnInterfaceArrival(path.c_str()); }

void Removal(const std::u16string& path) { OnInterfaceRemoval(path.c_str()); }

void DeliverPendingRemovals() {
    while (!sim::g_world.removedPaths.empty()) {
        const std::u16string path = sim::g_world.removedPaths.front();
        sim::g_world.removedPaths.erase(sim::g_world.removedPaths.begin());
        Removal(path);
    }
}

bool FireTimer(std::uintptr_t id) {
    const auto timer = g_ui.timers.find(id);
    if (timer == g_ui.timers.end()) return false;
    sim::WaitFor(timer->second);
    OnTimer(id);
    return true;
}

int RunProgramWithScript(std::vector<std::function<void()>> script) {
    g_ui.script = std::move(script);
    return RunProgram(MODULE);
}

}  // namespace simui

using simui::g_ui;

void UiPrepareWindowSystem() { g_ui.windowSystemPrepared = true; }

std::intptr_t UiRunDialog(ModuleHandle, std::uint16_t templateId) {
    g_ui.templateId = templateId;
    g_ui.controls = simui::TemplateControls();
    g_ui.title = u"SORVANTIK Firmware Updater";
    g_ui.initialised = true;
    OnInitDialog(simui::MAIN_DIALOG);
    // The dialog's loop: between the user's actions it delivers what the system posted.
    for (std::size_t step = 0; step < g_ui.script.size() && !g_ui.ended; ++step) {
        simui::DeliverPendingRemovals();
        g_ui.script[step]();
    }
    if (!g_ui.ended) simui::DeliverPendingRemovals();
    return g_ui.ended ? g_ui.endResult : -1;
}

void UiEndDialog(std::intptr_t result) {
    g_ui.ended = true;
    g_ui.endResult = result;
}

void UiSetTitle(const char16_t* text) { g_ui.title = text; }

void UiSetDialogIcon(std::uint16_t iconId) { g_ui.icon = iconId; }

void UiSetControlText(int controlId, const char16_t* text) {
    if (simui::Control* control = simui::ControlOf(controlId)) control->text = text;
}

int UiGetControlTextLength(int controlId) {
    const simui::Control* control = simui::ControlOf(controlId);
    return control == nullptr ? 0 : static_cast<int>(control->text.size());
}

int UiGetControlText(int controlId, char16_t* buffer, int capacity) {
    const simui::Control* control = simui::ControlOf(controlId);
    return CopyText(control == nullptr ? nullptr : control->text.c_str(), buffer, capacity);
}

void UiEnableControl(int controlId, bool enable) {
    if (simui::Control* control = simui::ControlOf(controlId)) control->enabled = enable;
}

void UiShowControl(int controlId, bool show) {
    if (simui::Control* control = simui::ControlOf(controlId)) control->visible = show;
}

namespace {

simui::Answer AskUser(simui::BoxKind kind, const char16_t* text, const char16_t* caption) {
    ++g_ui.openBoxes;
    // The box's own loop delivers what the system posted, then the user acts.
    simui::DeliverPendingRemovals();
    // An unscripted question is declined.
    simui::Answer answer = kind == simui::BoxKind::Question ? simui::Answer::No : simui::Answer::Ok;
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
    g_ui.boxes.push_back({text, caption, kind, answer});
    return answer;
}

}  // namespace

bool UiAskYesNo(const char16_t* text, const char16_t* caption) {
    return AskUser(simui::BoxKind::Question, text, caption) == simui::Answer::Yes;
}

void UiShowError(const char16_t* text, const char16_t* caption) { AskUser(simui::BoxKind::Error, text, caption); }

int UiLoadString(std::uint32_t id, char16_t* buffer, int capacity) { return CopyCatalogueText(id, buffer, capacity); }

NotifyHandle UiWatchHidInterfaces() {
    g_ui.watch = g_ui.watchFails ? 0 : 0x8800;
    return g_ui.watch;
}

void UiStopWatching(NotifyHandle) { ++g_ui.watchesStopped; }

void UiDrawLogo(std::uint16_t bitmapId, std::uint32_t keyColour,
                LogoPlacement (*place)(std::int32_t width, std::int32_t height)) {
    if (!simui::g_painting) throw std::logic_error("the logo is drawn only when the dialog paints");
    if (g_ui.logoMissing) return;
    g_ui.logos.push_back({bitmapId, place(g_ui.logoWidth, g_ui.logoHeight), g_ui.logoWidth, g_ui.logoHeight, keyColour});
}

bool UiGetWindowRect(WindowHandle window, WindowRect* rect) {
    if (window == simui::MAIN_DIALOG) {
        *rect = g_ui.mainRect;
        return true;
    }
    if (const simui::ProgressWindow* p = simui::ProgressByHandle(window)) {
        *rect = {p->x, p->y, p->x + p->width, p->y + p->height};
        return true;
    }
    return false;
}

bool UiGetControlRect(int controlId, WindowRect* rect) {
    if (controlId != simui::VERSION_GROUP) return false;
    *rect = g_ui.groupRect;
    return true;
}

void UiGetDialogFrame(std::int32_t* frameWidth, std::int32_t* captionHeight) {
    *frameWidth = g_ui.frameWidth;
    *captionHeight = g_ui.captionHeight;
}

WindowHandle UiCreateProgressWindow(const char16_t* text, std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height) {
    if (g_ui.progressCreationFails) return 0;
    const WindowHandle handle = simui::PROGRESS_BASE + static_cast<WindowHandle>(g_ui.progress.size());
    g_ui.progress.push_back({handle, text, x, y, width, height, {}, false});
    return handle;
}

void UiSetProgressPosition(WindowHandle progress, std::uint32_t position) {
    if (simui::ProgressWindow* p = simui::ProgressByHandle(progress)) p->positions.push_back(position);
    if (g_ui.progressUpdateMs > 0) sim::WaitFor(g_ui.progressUpdateMs);
}

void UiCloseProgressWindow(WindowHandle progress) {
    if (simui::ProgressWindow* p = simui::ProgressByHandle(progress)) p->destroyed = true;
}

void UiBringToTop(WindowHandle window) { g_ui.operations.push_back({simui::WindowOperation::BringToTop, window}); }

void UiShowWindow(WindowHandle window) { g_ui.operations.push_back({simui::WindowOperation::Show, window}); }

WindowHandle UiForegroundWindow() { return g_ui.foreground ? g_ui.foreground() : simui::MAIN_DIALOG; }

bool UiLoadRawResource(std::uint16_t resourceId, const std::uint8_t** bytes, std::uint32_t* size) {
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

void UiBeginBusy(const char16_t* reason) {
    ++g_ui.busyBegun;
    g_ui.busyReason = reason;
}

void UiEndBusy() { ++g_ui.busyEnded; }

void UiServeDesktop(std::uint32_t microseconds) { g_ui.desktopServed.push_back(microseconds); }

void UiSetTimer(std::uintptr_t id, std::uint32_t milliseconds) { g_ui.timers[id] = milliseconds; }

void UiKillTimer(std::uintptr_t id) { g_ui.timers.erase(id); }
