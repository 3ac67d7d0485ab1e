// What the console programs need of the system besides the HID functions and the pauses: their
// two output streams, the operator's requests to stop, sleep held off during the writes, and a
// box's place on the USB bus.
#pragma once

#include <cstdint>
#include <string>

enum class ConsoleStream { Out, Err };

// True when the stream is a terminal a person reads, not a pipe or a file.
bool ConsoleIsTerminal(ConsoleStream stream);
// True when lines already written to the terminal on standard output can be redrawn in place.
bool ConsoleCanRedraw();
// Writes UTF-8 text as the stream takes it (on a Windows console as UTF-16, WriteConsoleW).
void ConsoleWrite(ConsoleStream stream, const std::string& text);
// How many characters a line of the terminal on standard output holds before it wraps (ioctl
// TIOCGWINSZ; on Windows the console's buffer width); 0 where that cannot be told.
int ConsoleColumns();

// From here on, the operator's requests to stop (Ctrl+C; SIGTERM and SIGHUP, which come when a
// service is stopped or a terminal or SSH connection drops) are counted instead of ending the
// program, which finishes what it must first.
void ConsoleCatchStopRequests();
// Those requests as the operator makes them on this system, for the usage text.
const char* ConsoleStopRequestNames();
// How many have come so far, and the signal number of the first (0 before any).
int ConsoleStopRequests(int* firstSignal);
// Blocks the calling thread until a stop request comes or `milliseconds` have passed.
void ConsoleWaitForStop(std::uint32_t milliseconds);

// Holds off sleep and shutdown while `holding` is true, as the dialog does during its write;
// false where the system cannot be asked (and the update runs all the same).
bool ConsoleHoldOffSleep(bool holding, const std::string& reason);

// A box's lasting identity: the USB port it is plugged into ("1-2.3"), the same after it is
// plugged in again there; empty where it cannot be told.
std::string BoxLocation(const std::u16string& path);
