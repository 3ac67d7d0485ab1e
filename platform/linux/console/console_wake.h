// The console half's own wake-up: the pipe its signal handler writes to, so that a wait on
// anything else (udev's monitor) also ends when the operator asks the program to stop.
#pragma once

// Readable once a stop request came since the last drain; -1 before the requests are caught.
int ConsoleWakeDescriptor();
void ConsoleDrainWake();
