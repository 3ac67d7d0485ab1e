// The console backend's own stop-request event, for the backend's other waits that a stop
// request must end early (the watch on arrivals).
#pragma once

#include <windows.h>

// Auto-reset, set by the control handler once per stop request: one wait that it ends takes it,
// as ConsoleWaitForStop does, and the count (ConsoleStopRequests) says what came. Null before
// ConsoleCatchStopRequests.
HANDLE ConsoleStopEvent();
