// The console program's command line.
#pragma once

#include <string>

enum class CliCommand { List, Update, History, Help, Version };

// --confirm without a number.
constexpr unsigned DEFAULT_CONFIRM_SECONDS = 10;

struct CliOptions {
    CliCommand command = CliCommand::Help;
    std::string box;       // --box ID: a box's identity (its USB port), its serial number, or its node or device path
    bool all = false;      // --all
    bool force = false;    // --force: also a box whose firmware is not older than the image
    bool json = false;     // --json: JSON Lines on standard output
    bool csv = false;      // history --csv
    bool wait = false;     // --wait: also every box that arrives later, until --count or a stop
    unsigned count = 0;    // --count N: with --wait, end after N updates have ended (0: no end)
    unsigned confirm = 0;  // --confirm[=SECONDS]: watch for each finished box to come back running the image (0: no)
    std::string history;   // --history PATH: the record's database instead of the default one
    bool noHistory = false;  // --no-history: keep no record
    std::string metrics;   // --metrics FILE: the Prometheus text file kept up to date (empty: none)
    std::string serial;    // history --serial S
    std::string since;     // history --since TIME
};

// False with `error` set for a command line that is not one of the program's.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);
// The text of --help, with the exit codes and where the record is kept unless told.
std::string CliUsage(const std::string& program, const std::string& historyPath);
