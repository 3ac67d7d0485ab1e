// What the console programs need of the system besides the HID functions and the pauses: their
// two output streams, the operator's requests to stop, sleep held off during the writes, and a
// box's place on the USB bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// program, which finishes what it must first. A request the program was started to ignore
// (nohup's SIGHUP) stays ignored.
void ConsoleCatchStopRequests();
// Those requests as the operator makes them on this system, for the usage text.
const char* ConsoleStopRequestNames();
// How many have come so far, and the signal number of the first (0 before any).
int ConsoleStopRequests(int* firstSignal);
// How many of them were the operator's interrupt at the keyboard (SIGINT; on Windows Ctrl+C or
// Ctrl+Break): only a second one of these may cut the boxes being written short.
int ConsoleInterrupts();
// Blocks the calling thread until a stop request comes or `milliseconds` have passed.
void ConsoleWaitForStop(std::uint32_t milliseconds);

// HID interfaces arriving and leaving, as the system announces them (udev's monitor on Linux;
// device-interface notifications to a window of a thread of its own on Windows; the simulated
// world's own in the demos). Defined beside BoxLocation, by the HID backend's console half.
struct InterfaceChange {
    bool arrival;          // else a removal
    std::u16string path;   // in the form the interface list gives it
};
struct InterfaceWatch;
// Null where the system cannot announce them: the caller then lists the interfaces instead.
InterfaceWatch* ConsoleWatchInterfaces();
// Blocks until a stop request, an announcement or `milliseconds` have passed, and appends what
// was announced since the last call, in order. False when announcements may have been lost (the
// system's queue overran, the watch broke): the caller lists the interfaces to catch up.
bool ConsoleWaitForChanges(InterfaceWatch* watch, std::uint32_t milliseconds, std::vector<InterfaceChange>* changes);
void ConsoleEndWatch(InterfaceWatch* watch);

// Holds off sleep and shutdown while `holding` is true, as the dialog does during its write;
// false where the system cannot be asked (and the update runs all the same).
bool ConsoleHoldOffSleep(bool holding, const std::string& reason);

// A box's lasting identity: the USB port it is plugged into ("1-2.3"), the same after it is
// plugged in again there; empty where it cannot be told.
std::string BoxLocation(const std::u16string& path);
// What tells one arrival at `path` from another: on Linux udev's path of the node's device,
// whose HID device is numbered anew for every device the kernel sees, so that a box plugged in
// where another was just pulled out is a different one even on the same node; on Windows the
// interface path itself. Empty when the interface has gone.
std::string BoxInstance(const std::u16string& path);
// The box's USB serial number (udev's usb_device "serial", else the HID device's HID_UNIQ; on
// Windows HidD_GetSerialNumberString), as printable ASCII with the ends trimmed; empty when it
// has none, or one that could not serve as a key (control characters, bytes above 0x7E, a comma).
std::string BoxSerial(const std::u16string& path);
// What a person must do about a box at `path` that may not be opened, beyond the catalogue's text
// (on Linux: the node, the box's HID ID and the udev rule that would give it); empty where there
// is nothing to add.
std::string ConsoleDeniedAdvice(const std::u16string& path);
