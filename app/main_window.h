// The main dialog: its initialisation, the version group, the hint box, the logo and shutdown.
// Its entries for the backend's events (OnInitDialog, OnCommand, OnPaint, OnTimer, the arrival
// and removal of interfaces) are declared in platform/window.h, because the backend calls them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/version_format.h"
#include "platform/window.h"

// The numbers the window title shows.
constexpr unsigned PROGRAM_VERSION_MAJOR = 1;
constexpr unsigned PROGRAM_VERSION_MINOR = 11;
constexpr int TITLE_CHARS = 256;

// Refreshes the version group from g_device.
void ShowVersions();
// Cancels the notification registration and drops the connection.
void ShutdownDevice();

// The hint box: one message alone, or a situation message, an empty line and the instructions.
void AppendInfoText(const char16_t* text);
void SetInfoText(std::uint32_t messageId);
void SetInfoTextWithInstructions(std::uint32_t situationMessageId);

// Where the logo goes: right of the version group, at most half its size, in the coordinates of
// the dialog's paint context. `window` and `group` are screen rectangles.
LogoPlacement ComputeLogoPlacement(const WindowRect& window, const WindowRect& group, int frameWidth, int captionHeight,
                                   std::int32_t bitmapWidth, std::int32_t bitmapHeight);
void PaintLogo();

// The window for a box FindDevice has just found and queried: ready in bootloader mode, else
// the wrong mode, with the box let go.
void ShowArrivedBox();

// FindDevice on g_device, asked again a few times when a box failed its first query at once.
std::int32_t SearchForBox();
// For a search that found a box it cannot use (another program holds it, the user may not open
// it, the system cannot query it): "Update" disabled, no box held, the reason in the hint box;
// while another program holds the box, the dialog looks again every second. False, and nothing
// done, for any other result.
bool ShowUnusableBox(std::int32_t found);
// The hint no longer names an unusable box (a usable one was found, or the dialog ends).
void ForgetUnusableBox();
// Searches again while the hint names a box that cannot be used (on the timer, and when a device
// is removed): ready once the box is usable, another reason if that changed, the removal text
// once the box is gone.
void LookAgain();
