// What the window half hands to the logic, recorded: the tests link the backend alone and stand
// in for the logic's entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtk/gtk.h>

struct DeliveredEvent {
    enum Kind { Arrival, Removal, Command, Timer, Paint } kind;
    std::u16string path;  // of an arrival or a removal
    int id;               // of a command or a timer
};

// Everything the logic was handed since the last Clear.
std::vector<DeliveredEvent>& Delivered();
void ClearDelivered();
// Runs the main loop (not held) until `done` or the time is up; true when `done` came.
bool RunLoopUntil(bool (*done)(), int milliseconds);
// The display, opened once; false when there is none.
bool HaveDisplay();
