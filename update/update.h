// The firmware update started by the "Update" button.
#pragma once

#include <cstdint>

#include "platform/window.h"

constexpr std::uint32_t IMAGE_START_ADDRESS = 0x08003000;
constexpr std::uint32_t IMAGE_VERSION = 0x00010B00;
constexpr std::uint32_t NO_FIRMWARE_VERSION = 0xFFFFFFFF;
constexpr std::uint32_t BLOCK_SIZE = 48;
constexpr std::uint8_t FILL_BYTE = 0xFF;
constexpr std::uint32_t STEP_PAUSE_MS = 20;
constexpr std::int32_t PROGRESS_WIDTH = 400;
constexpr std::int32_t PROGRESS_HEIGHT = 50;
// The area the update erases; an image that does not fit it could not be written whole.
constexpr std::uint32_t IMAGE_CAPACITY = 115 * 1024;

// Runs the whole update; when it returns, everything has been shown to the user.
void RunUpdate();
// Drops the connection, shows the failure box (with the code line unless `code` is -1) and asks
// the user in the hint box to try again.
void ReportUpdateFailure(std::int32_t code, const char16_t* text, const char16_t* caption, std::uint32_t lastError);

// The progress window's top-left corner: centred on the main window's rectangle.
void ProgressWindowOrigin(const WindowRect& main, std::int32_t* x, std::int32_t* y);
// Raises the main and the progress window once, the first time one of them holds the
// foreground after a block; `remembered` carries that across the blocks of one run.
void KeepInFront(WindowHandle progress, WindowHandle* remembered);
// The share of the image sent, 0 to 100, truncated.
std::uint32_t ProgressPosition(std::uint32_t size, std::uint32_t remaining);
