// What both Linux programs do before the logic runs.
#pragma once

// Names the program to the desktop (window class, accessibility) and opens the display. False,
// with the reason on standard error, when there is no display to show the dialog on.
bool StartWindowSystem(const char* programName);
