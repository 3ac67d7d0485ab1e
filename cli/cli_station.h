// The console program as a station that runs by itself: what it tells the service manager
// (ready, what it does, alive, stopping), every ended update as a structured journal entry when
// its output goes to the journal, and, with --metrics, the file of counters an exporter serves.
// Called by the main thread, which never waits for a box; the journal's entries alone are sent
// from the boxes' threads.
#pragma once

#include "cli/cli_box.h"

struct Station;

// What the boxes of this run are doing, as the status line tells it.
struct StationActivity {
    unsigned writing;
    unsigned updated;
    unsigned failed;
};

// Begins with the run's record opened: sets the run's observer when the output is the journal,
// and writes the metrics file a first time.
Station* StationBegin(CliRun* run, const char* programName);
// The first look at the boxes is done: READY=1.
void StationReady(Station* station, const StationActivity& activity);
// Each turn of the main loop: the watchdog's ping at half its interval, the status line when it
// changed, STOPPING=1 once told to stop, and the metrics file again when a write began or
// ended or an update ended.
void StationTick(Station* station, const StationActivity& activity, bool stopping);
// The metrics' last write, once every box has ended; frees the station.
void StationEnd(Station* station);
