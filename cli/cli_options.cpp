#include "cli/cli_options.h"

#include <cstdlib>
#include <cstring>

#include "platform/console.h"

namespace {

// "--name VALUE" or "--name=VALUE": true with `value` set when `arg` is the option; `error` set
// when its value is missing.
bool TakeValue(const std::string& name, const std::string& arg, int argc, const char* const* argv, int* i, std::string* value,
               std::string* error) {
    if (arg == name) {
        if (*i + 1 >= argc) {
            *error = name + " needs a value";
            return true;
        }
        *value = argv[++*i];
        return true;
    }
    if (arg.rfind(name + "=", 0) != 0) return false;
    *value = arg.substr(name.size() + 1);
    return true;
}

bool Number(const std::string& value, unsigned long most, unsigned* number) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || value[0] < '0' || value[0] > '9' || *end != 0 || parsed == 0 || parsed > most) return false;
    *number = static_cast<unsigned>(parsed);
    return true;
}

// The options that take a text. An empty one is refused: it would read as none given, and an
// empty --box would take every box.
struct TextOption {
    const char* name;
    std::string CliOptions::*field;
    const char* needs;
};

constexpr TextOption TEXT_OPTIONS[] = {
    {"--box", &CliOptions::box, "a box's identity or serial number, as 'list' shows it"},
    {"--history", &CliOptions::history, "the path of a database"},
    {"--metrics", &CliOptions::metrics, "the path of a file, such as /var/lib/prometheus/node-exporter/veltabox.prom"},
    {"--serial", &CliOptions::serial, "a serial number"},
    {"--since", &CliOptions::since, "a time in UTC, such as 2026-12-11 or 2026-12-11T08:00"},
};

const TextOption* TextOptionNamed(const std::string& arg) {
    for (const TextOption& option : TEXT_OPTIONS) {
        const std::string name = option.name;
        if (arg == name || arg.rfind(name + "=", 0) == 0) return &option;
    }
    return nullptr;
}

// Which options each command takes beyond --json.
bool OnlyFor(const CliOptions& options, std::string* error) {
    const bool updating = options.all || options.force || options.wait || options.confirm > 0;
    const bool reading = options.csv || !options.serial.empty() || !options.since.empty();
    if (options.command == CliCommand::List && (updating || reading || !options.box.empty() || !options.history.empty() ||
                                                options.noHistory)) {
        *error = "'list' takes only --json";
        return false;
    }
    if (options.command == CliCommand::Update && reading) {
        *error = "--csv, --serial and --since go with 'history'";
        return false;
    }
    if (options.command == CliCommand::History && (updating || options.noHistory)) {
        *error = "'history' takes --json or --csv, --box, --serial, --since and --history";
        return false;
    }
    if (options.json && options.csv) {
        *error = "--json and --csv exclude each other";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error) {
    *options = CliOptions();
    error->clear();
    bool commandGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            options->command = CliCommand::Help;
            return true;
        } else if (arg == "--version") {
            options->command = CliCommand::Version;
            return true;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--csv") {
            options->csv = true;
        } else if (arg == "--all") {
            options->all = true;
        } else if (arg == "--force") {
            options->force = true;
        } else if (arg == "--wait") {
            options->wait = true;
        } else if (arg == "--no-history") {
            options->noHistory = true;
        } else if (arg == "--confirm") {
            options->confirm = DEFAULT_CONFIRM_SECONDS;
        } else if (arg.rfind("--confirm=", 0) == 0) {
            if (!Number(arg.substr(10), 3600, &options->confirm)) {
                *error = "--confirm=SECONDS needs 1 to 3600 seconds";
                return false;
            }
        } else if (TakeValue("--count", arg, argc, argv, &i, &value, error)) {
            if (!error->empty()) return false;
            if (!Number(value, 100000, &options->count)) {
                *error = "--count needs a number of updates, 1 or more";
                return false;
            }
        } else if (const TextOption* text = TextOptionNamed(arg)) {
            std::string missing;
            TakeValue(text->name, arg, argc, argv, &i, &value, &missing);
            if (value.empty()) {
                *error = std::string(text->name) + " needs " + text->needs;
                return false;
            }
            options->*(text->field) = value;
        } else if (!commandGiven && (arg == "list" || arg == "update" || arg == "history")) {
            options->command = arg == "list" ? CliCommand::List : arg == "update" ? CliCommand::Update : CliCommand::History;
            commandGiven = true;
        } else {
            *error = "unknown argument '" + arg + "'";
            return false;
        }
    }
    if (!commandGiven) {
        *error = "say 'list', 'update' or 'history'";
        return false;
    }
    if (options->count > 0 && !options->wait) {
        *error = "--count goes with --wait";
        return false;
    }
    if (!options->metrics.empty() && (options->command != CliCommand::Update || options->noHistory)) {
        *error = "--metrics goes with 'update', and counts from the record: not with --no-history";
        return false;
    }
    if (options->noHistory && !options->history.empty()) {
        *error = "--history and --no-history exclude each other";
        return false;
    }
    if (options->all && !options->box.empty()) {
        *error = "--all and --box exclude each other";
        return false;
    }
    return OnlyFor(*options, error);
}

std::string CliUsage(const std::string& program, const std::string& historyPath) {
    return "Usage: " + program + " list [--json]\n"
           "       " + program + " update [--box ID | --all] [--force] [--json] [--wait [--count N]] [--confirm[=SECONDS]]\n"
           "                      [--history PATH | --no-history] [--metrics FILE]\n"
           "       " + program + " history [--json | --csv] [--box ID] [--serial S] [--since TIME] [--history PATH]\n"
           "\n"
           "Writes the firmware image this program carries (version 1.11) into SORVANTIK VELTABOX and\n"
           "VELTA-HUB boxes started in their bootloader mode, each box at its own pace, all at once, and\n"
           "keeps a record of every update.\n"
           "\n"
           "  list           every attached box: its identity (the USB port it is plugged into), its serial\n"
           "                 number, node, model, mode, bootloader and firmware version, or that another\n"
           "                 program holds it\n"
           "  update         the one box attached; with several, name one with --box ID or take them all\n"
           "  history        the record of the updates, oldest first\n"
           "  --box ID       the box with this identity, serial number or node, as 'list' shows it\n"
           "  --all          every attached box in bootloader mode\n"
           "  --force        also write a box whose firmware is not older than the image (else skipped)\n"
           "  --json         JSON Lines on standard output, one event a line; texts for people on standard error\n"
           "  --wait         go on watching: every box in bootloader mode that arrives is updated once per\n"
           "                 arrival (a box left attached after its update is taken again only once it was\n"
           "                 pulled out and came back; one another program holds is taken once it is let\n"
           "                 go), until --count updates have ended or the program is told to stop\n"
           "  --count N      with --wait: end after N updates, succeeded or failed\n"
           "  --confirm[=S]  after the finish, wait up to S seconds (10 unless told) for each box to come\n"
           "                 back at its port running the new firmware: confirmed; another version is a\n"
           "                 failed update; nothing within the time is told, and is no failure\n"
           "  --history PATH the record's database (else " +
           (historyPath.empty() ? std::string("none: no home folder") : historyPath) +
           ")\n"
           "  --no-history   keep no record\n"
           "  --metrics FILE keep FILE up to date for Prometheus (node_exporter's or windows_exporter's\n"
           "                 textfile collector): the record's updates by outcome, the boxes being written,\n"
           "                 the durations; while FILE's folder does not exist, nothing is written\n"
           "  --csv          history as CSV\n"
           "  --serial S     history of the box with this serial number\n"
           "  --since TIME   history from this time on (UTC, such as 2026-12-11 or 2026-12-11T08:00)\n"
           "\n"
           "Every update is recorded before its first report; a box whose record cannot be begun is not\n"
           "touched. " +
           ConsoleStopRequestNames() +
           ": no box starts any more, boxes being written are finished,\n"
           "then the summary. Only a second Ctrl+C stops every box after its current report; such a box must\n"
           "be updated again from its bootloader mode.\n"
           "\n"
           "Exit status, the worst that happened (for list: what update would say of the boxes found):\n"
           "  1    some box failed, or the boxes could not be listed\n"
           "  130  interrupted before every box was done (128 + the signal's number)\n"
           "  4    a box is held by another program\n"
           "  5    every box was skipped, its firmware not older than the image\n"
           "  3    no box attached\n"
           "  2    usage error\n"
           "  0    every box updated\n";
}
