// The update runs inside the "Update" click and the logic relies on taking no input and no
// device event until it returns. Windows gets that by taking no message from the queue. GTK
// would get it the same way, but then the desktop is not answered either: no expose is
// painted, the window manager's liveness pings go unanswered (GNOME offers to force-quit a
// window that misses them for 5 s) and the accessibility bus blocks. So while the transfer runs,
// the backend lets the main loop take held passes (through the box's pauses after each step,
// erased page and data block, and when the progress window closes) in which the desktop is
// answered but nothing reaches the logic:
// - device notifications stay unread in the udev monitor's socket (its source is not ready
//   while held) and are delivered once the update has returned, as Windows delivers the queued
//   WM_DEVICECHANGE afterwards;
// - input to the program's windows (keys, buttons, scrolling, touch, the close button) is
//   dropped, not kept: a click on "Beenden" or Escape pressed during the write is not acted on
//   31 s later, after the success text, where it would end a program the user was reading;
// - the dialog procedure gets no message at all: the logo is not painted from the logic while
//   held, and its area is painted again once the hold ends.
#pragma once

// True while a held pass runs.
bool IsHeld();
// One bounded, non-blocking pass over what the main loop has ready, with the rules above.
// UiServeDesktop (platform/window.h) is the same pass, kept on for the pause it is given.
void RunHeldPass();
// The same, and then waiting (with the same rules) until `done` says so, at most
// `maxMilliseconds`.
void RunHeldPassUntil(bool (*done)(), int maxMilliseconds);
// Remembers what a held pass left unpainted; `repaint` is called by the last pass of a run.
void RepaintAfterHold(void (*repaint)());
// The last held pass of a run, when the progress window has gone: it drops the input that came
// since the previous pass, then asks for what was left unpainted to be painted once the main
// loop runs again.
void EndHold();
