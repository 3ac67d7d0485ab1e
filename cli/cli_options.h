// The console program's command line.
#pragma once

#include <string>

enum class CliCommand { List, Update, Help, Version };

struct CliOptions {
    CliCommand command = CliCommand::Help;
    std::string box;     // --box ID: a box's identity (its USB port) or its node or device path
    bool all = false;    // --all
    bool force = false;  // --force: also a box whose firmware is not older than the image
    bool json = false;   // --json: JSON Lines on standard output
    bool wait = false;   // --wait: also every box that arrives later, until --count or a stop
    unsigned count = 0;  // --count N: with --wait, end after N updates have ended (0: no end)
};

// False with `error` set for a command line that is not one of the program's.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);
// The text of --help, with the exit codes.
std::string CliUsage(const std::string& program);
