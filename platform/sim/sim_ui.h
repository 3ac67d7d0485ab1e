// A recording window system: it keeps every control's text and state, answers message boxes
// from a script, records progress positions, window operations and drawing, and tells the logic
// of interfaces arriving and leaving the way the real dialogs do (from the dialog's loop between
// user actions, and from inside an open message box).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/window.h"

namespace simui {

constexpr WindowHandle MAIN_DIALOG = 0x1000;
constexpr WindowHandle OTHER_PROGRAM = 0x9000;  // a window of some other program
constexpr ModuleHandle MODULE = 0x400000;

struct Control {
    int id;
    std::u16string text;
    bool enabled;
    bool visible;
};

enum class BoxKind { Error, Question };
enum class Answer { Ok, Yes, No };

struct MessageBoxRecord {
    std::u16string text;
    std::u16string caption;
    BoxKind kind;
    Answer answer;
};

// What the user does with the next message box: the answer, and what happens while it is open.
struct ScriptedAnswer {
    Answer answer;
    std::function<void()> whileOpen;
};

struct ProgressWindow {
    WindowHandle handle;
    std::u16string text;
    std::int32_t x, y, width, height;
    std::vector<std::uint32_t> positions;
    bool destroyed;
};

struct WindowOperation {
    enum Kind { BringToTop, Show } kind;
    WindowHandle window;
};

struct LogoDrawn {
    std::uint16_t bitmapId;
    LogoPlacement at;
    std::int32_t sourceWidth, sourceHeight;
    std::uint32_t keyColour;
};

struct Ui {
    std::vector<Control> controls;  // the template's controls, in order
    std::u16string title;
    std::uint16_t icon = 0;
    bool initialised = false;
    bool ended = false;
    std::intptr_t endResult = 0;
    std::uint16_t templateId = 0;
    bool windowSystemPrepared = false;

    bool watchFails = false;
    NotifyHandle watch = 0;
    int watchesStopped = 0;

    std::deque<ScriptedAnswer> answers;
    std::vector<MessageBoxRecord> boxes;
    int unscriptedBoxes = 0;
    int openBoxes = 0;

    bool progressCreationFails = false;
    std::uint32_t progressUpdateMs = 0;  // how long each new position takes to show, on the world's clock
    std::vector<ProgressWindow> progress;
    std::vector<WindowOperation> operations;
    std::function<WindowHandle()> foreground;  // the main dialog when unset

    WindowRect mainRect = {100, 200, 706, 622};
    WindowRect groupRect = {126, 242, 354, 345};
    int frameWidth = 3;
    int captionHeight = 22;
    std::int32_t logoWidth = 365;
    std::int32_t logoHeight = 122;
    bool logoMissing = false;
    std::vector<LogoDrawn> logos;

    bool imageMissing = false;
    bool imageOverridden = false;
    std::vector<std::uint8_t> image;  // used when imageOverridden

    int busyBegun = 0;
    int busyEnded = 0;
    std::u16string busyReason;
    std::vector<std::uint32_t> desktopServed;  // the microseconds each UiServeDesktop call was offered

    std::map<std::uintptr_t, std::uint32_t> timers;  // the running timers and their intervals

    // What the user does once the dialog is up, step by step, as UiRunDialog's loop runs.
    std::vector<std::function<void()>> script;
};

extern Ui g_ui;

// A fresh window system; the simulated world (sim::Reset) is separate.
void Reset();

const Control& ControlById(int id);
std::u16string Text(int id);
bool Enabled(int id);
bool Visible(int id);
WindowHandle HandleOf(int id);

// The user's actions, handed to the logic as the dialog would.
// A click on a disabled button does nothing and returns false.
bool Click(int id);
void Cancel();
void Paint();
void Arrival(const std::u16string& path);
void Removal(const std::u16string& path);
// Delivers a removal for every interface the simulated world lost since the last delivery.
void DeliverPendingRemovals();
// Lets the timer's interval pass on the world's clock and fires it; false (and nothing
// happens) when no such timer runs.
bool FireTimer(std::uintptr_t id);

// The whole program as the backend starts it: RunProgram with the module handle.
int RunProgramWithScript(std::vector<std::function<void()>> script);

}  // namespace simui
