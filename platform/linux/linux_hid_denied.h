// What the user learns when a hidraw node may not be opened. Without the box's udev rule its
// nodes belong to root alone, and the box then looks absent: the dialog keeps the catalogue's
// texts ("no box found"), so standard error is where the reason can be read.
#pragma once

// Writes one line to standard error: the node, the device behind it as udev describes it (so
// that a keyboard is not taken for the box), the system's reason and the udev rule that gives the
// logged-in user the box. Leaves errno as it found it.
void SayNodeDenied(const char* node, int error);
