#include "cli/cli_options.h"

#include <cstdlib>
#include <cstring>

#include "platform/console.h"

bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error) {
    *options = CliOptions();
    bool commandGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->command = CliCommand::Help;
            return true;
        } else if (arg == "--version") {
            options->command = CliCommand::Version;
            return true;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--all") {
            options->all = true;
        } else if (arg == "--force") {
            options->force = true;
        } else if (arg == "--wait") {
            options->wait = true;
        } else if (arg == "--count" || arg.rfind("--count=", 0) == 0) {
            const std::string value = arg == "--count" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(8);
            char* end = nullptr;
            const unsigned long count = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != 0 || count == 0 || count > 100000) {
                *error = "--count needs a number of updates, 1 or more";
                return false;
            }
            options->count = static_cast<unsigned>(count);
        } else if (arg == "--box" || arg.rfind("--box=", 0) == 0) {
            if (arg == "--box" && i + 1 >= argc) {
                *error = "--box needs a box's identity, as 'list' shows it";
                return false;
            }
            options->box = arg == "--box" ? argv[++i] : arg.substr(6);
        } else if (!commandGiven && (arg == "list" || arg == "update")) {
            options->command = arg == "list" ? CliCommand::List : CliCommand::Update;
            commandGiven = true;
        } else {
            *error = "unknown argument '" + arg + "'";
            return false;
        }
    }
    if (!commandGiven) {
        *error = "say 'list' or 'update'";
        return false;
    }
    if (options->count > 0 && !options->wait) {
        *error = "--count goes with --wait";
        return false;
    }
    if (options->command == CliCommand::List && (options->all || options->force || options->wait || !options->box.empty())) {
        *error = "'list' takes only --json";
        return false;
    }
    if (options->all && !options->box.empty()) {
        *error = "--all and --box exclude each other";
        return false;
    }
    return true;
}

std::string CliUsage(const std::string& program) {
    return "Usage: " + program + " list [--json]\n"
           "       " + program + " update [--box ID | --all] [--force] [--json] [--wait [--count N]]\n"
           "\n"
           "Writes the firmware image this program carries (version 1.11) into SORVANTIK VELTABOX and\n"
           "VELTA-HUB boxes started in their bootloader mode, each box at its own pace, all at once.\n"
           "\n"
           "  list         every attached box: its identity (the USB port it is plugged into), its node,\n"
           "               model, mode, bootloader and firmware version, or that another program holds it\n"
           "  update       the one box attached; with several, name one with --box ID or take them all\n"
           "  --box ID     the box with this identity (or node) as 'list' shows it\n"
           "  --all        every attached box in bootloader mode\n"
           "  --force      also write a box whose firmware is not older than the image (else skipped)\n"
           "  --json       JSON Lines on standard output, one event a line; texts for people on standard error\n"
           "  --wait       go on watching: every box in bootloader mode that arrives is updated once per\n"
           "               arrival (a box left attached after its update is taken again only once it was\n"
           "               pulled out and came back), until --count updates have ended or Ctrl+C\n"
           "  --count N    with --wait: end after N updates, succeeded or failed\n"
           "\n"
           + ConsoleStopRequestNames() +
           ": no box starts any more, boxes being written are finished, then the\n"
           "summary. A second Ctrl+C stops every box after its current report; such a box must be updated\n"
           "again from its bootloader mode.\n"
           "\n"
           "Exit status, the worst that happened:\n"
           "  1    some box failed\n"
           "  130  interrupted before every box was done (128 + the signal's number)\n"
           "  4    a box is held by another program\n"
           "  5    every box was skipped, its firmware not older than the image\n"
           "  3    no box attached\n"
           "  2    usage error\n"
           "  0    every box updated\n";
}
