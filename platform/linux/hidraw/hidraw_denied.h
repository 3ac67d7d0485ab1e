// What the user learns when a hidraw node may not be opened. Without the box's udev rule its
// nodes belong to root alone, and the box then looks absent: the dialog keeps the catalogue's
// texts ("no box found"), so standard error is where the reason can be read.
#pragma once

#include <string>

// The line itself, without its end; empty when the device behind the node is no box.
std::string DeniedNodeAdvice(const char* node, int error);
// When udev says the device behind the node is a box: one line to standard error with the node,
// the device as udev describes it, the system's reason and the udev rule that gives the
// logged-in user the box. Any other device (a keyboard or mouse that belongs to root) is passed
// over in silence: the rule would not help there. Leaves errno as it found it.
// The dialog writes it to standard error; the console programs, whose boxes' threads never
// write to a stream, pass it on through their own output instead (ConsoleDeniedAdvice).
void SayNodeDenied(const char* node, int error);
