// The firmware update started by the "Update" button.
#pragma once

#include <cstdint>

#include "platform/window.h"
#include "update/engine.h"

constexpr std::int32_t PROGRESS_WIDTH = 400;
constexpr std::int32_t PROGRESS_HEIGHT = 50;

// The dialog's update of the box it holds (UpdateBox with the dialog's windows); when it
// returns, everything has been shown to the user.
void RunUpdate();
// Drops the connection, shows the failure box (with the code line unless `code` is -1) and asks
// the user in the hint box to try again.
void ReportUpdateFailure(std::int32_t code, const char16_t* text, const char16_t* caption, std::uint32_t lastError);

// The progress window's top-left corner: centred on the main window's rectangle.
void ProgressWindowOrigin(const WindowRect& main, std::int32_t* x, std::int32_t* y);
// Raises the main and the progress window once, the first time one of them holds the
// foreground after a block; `remembered` carries that across the blocks of one run.
void KeepInFront(WindowHandle progress, WindowHandle* remembered);
