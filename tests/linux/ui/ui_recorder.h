// What the window half hands to the logic, recorded: the tests link the backend alone and stand
// in for the dialog procedure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtk/gtk.h>

struct DeliveredMessage {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::u16string name;  // dbcc_name of a device-change record
};

// Everything MainDialogProc received since the last Clear.
std::vector<DeliveredMessage>& Delivered();
void ClearDelivered();
// Runs the main loop (not held) until `done` or the time is up; true when `done` came.
bool RunLoopUntil(bool (*done)(), int milliseconds);
// The display, opened once; false when there is none.
bool HaveDisplay();
