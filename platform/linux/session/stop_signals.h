// The stop signals (SIGTERM, SIGINT, SIGHUP) while the firmware is written. A process ended
// mid-write leaves the box erased and half written; one ended after the finish leaves it whole.
// So a stop request that comes during the write is kept until the write has ended, and then
// carried out as it was asked: the process ends by that very signal, before any message box, so
// that whoever sent it (a session ending, a service manager, a terminal closed) sees it obeyed.
#pragma once

// From here on the three signals are only taken note of. One that the process ignores (nohup's
// SIGHUP) stays ignored.
void DeferStopSignals();
// Puts the signals back as they were; when one came meanwhile, the process ends by it here and
// this does not return.
void EndStopSignalDeferral();
