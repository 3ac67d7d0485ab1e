// The main thread of an update: it starts a thread for each box, watches boxes arrive and leave,
// holds off sleep while one is written and tells the summary. It never waits for a box.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_box.h"
#include "cli/cli_station.h"

// A box attached when the run began, as the run's choice of boxes found it.
struct AttachedBox {
    std::u16string path;
    std::string instance;
    std::string location;
    bool bySerialOnly;
};

// Updates `initial` and, with --wait, every box that arrives; with --confirm also watches for the
// finished boxes to come back; tells `station` on each turn. Returns the exit status.
int UpdateBoxes(CliRun* run, Station* station, const std::vector<AttachedBox>& initial);
