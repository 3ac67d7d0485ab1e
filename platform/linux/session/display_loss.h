// A display lost during the write. GDK ends the program as soon as Xlib finds the X connection
// gone (its I/O error handler calls _exit), which mid-write leaves the box erased and half
// written. Xlib lets a program return from that error instead (XSetIOErrorExitHandler, libX11
// 1.7): the display is then dead, every later request on it is dropped, and the write can go on
// without it. So during the write the loss is only taken note of; the main loop is not run again
// (GDK would spin on the dead connection), and the program ends once the write has ended, with
// GDK's exit code. Outside the write GDK's own handling stands. On Wayland nothing changes.
#pragma once

// After gtk_init.
void WatchForDisplayLoss();
// Between UiBeginBusy and UiEndBusy.
void HoldOffDisplayLoss(bool holding);
bool DisplayLost();
// Ends the program when the display was lost during the write; returns otherwise.
void EndIfDisplayLost();
