#include "cli/cli_run.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_box.h"
#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "cli/cli_station.h"
#include "cli/cli_text.h"
#include "cli/cli_watch.h"
#include "device/box_list.h"
#include "device/discovery.h"
#include "history/history.h"
#include "platform/console.h"
#include "platform/state.h"
#include "resources/resource_ids.h"
#include "update/engine.h"

namespace {

int Finish(Reporter* reporter, const std::string& text, int exitCode) {
    ReportTotals totals = {};
    totals.text = text;
    totals.exitCode = exitCode;
    ReportSummary(reporter, totals);
    ReportEnd(reporter);
    return exitCode;
}

// Every box, each asked on a thread of its own, so that a silent one holds up no other; a box
// another program holds is listed, never asked. Told in the search's order once all have
// answered; the status is what an update would say of the boxes found.
int ListAll(Reporter* reporter, const std::vector<std::u16string>& paths) {
    struct Listed {
        DeviceRecord record;
        std::int32_t taken;
        std::string serial;
    };
    std::vector<Listed> listed(paths.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        threads.emplace_back([&paths, &listed, i] {
            listed[i].serial = BoxSerial(paths[i]);
            ResetDeviceRecord(listed[i].record);
            listed[i].taken = TakeBox(paths[i], listed[i].record);
        });
    }
    for (std::thread& thread : threads) thread.join();
    bool busy = false, failed = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const Listed& box = listed[i];
        const int line = ReportFound(reporter, ViewOfBox(paths[i], BoxLocation(paths[i]), box.serial,
                                                         box.taken == DEV_OK ? &box.record : nullptr));
        busy = busy || box.taken == DEV_ERR_BUSY;
        failed = failed || (box.taken != DEV_OK && box.taken != DEV_ERR_BUSY);
        if (box.taken == DEV_ERR_BUSY) ReportBusy(reporter, line, MessageText(IDS_CLI_BUSY));
        else if (box.taken != DEV_OK) ReportFailed(reporter, line, TakeFailureText(box.taken), -1, 0);
        CloseDevice(listed[i].record);
    }
    ReportEnd(reporter);
    return failed ? EXIT_SOME_FAILED : busy ? EXIT_BOX_HELD : EXIT_ALL_UPDATED;
}

std::string HistoryPath(const CliOptions& options, bool demo) {
    return options.history.empty() ? StateDefaultHistoryPath(demo) : options.history;
}

std::string PeopleLine(const HistoryRecord& record) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f s", record.duration);
    BoxView box;
    box.model = record.box.model;
    box.identity = record.box.box;
    box.serial = record.box.serial;
    std::string line = record.begun + "  " + record.station + "  " + BoxName(box) + "  " + record.box.firmwareBefore + " -> " +
                       record.box.image + "  " + record.end.outcome;
    if (!record.ended.empty()) line += "  " + std::string(duration);
    return line + "\n";
}

int TellHistory(const CliOptions& options, bool demo) {
    std::string error;
    History* history = OpenHistory(HistoryPath(options, demo), &error);
    std::vector<HistoryRecord> records;
    HistoryFilter filter;
    filter.box = options.box;
    filter.serial = options.serial;
    filter.since = options.since;
    const bool read = history != nullptr && ReadHistory(history, filter, &records, &error);
    if (history != nullptr) CloseHistory(history);
    if (!read) {
        ConsoleWrite(ConsoleStream::Err, MessageText(IDS_CLI_HISTORY_UNREADABLE) + " (" + error + ")\n");
        return EXIT_SOME_FAILED;
    }
    std::string out = options.csv ? HistoryCsvHeader() : std::string();
    for (const HistoryRecord& record : records)
        out += options.json ? HistoryJsonLine(record) : options.csv ? HistoryCsvLine(record) : PeopleLine(record);
    ConsoleWrite(ConsoleStream::Out, out);
    return EXIT_ALL_UPDATED;
}

int Update(Reporter* reporter, const CliOptions& options, const std::vector<std::u16string>& paths, const char* programName,
           bool demo) {
    std::vector<AttachedBox> chosen;
    for (const std::u16string& path : paths) {
        const std::string location = BoxLocation(path);
        if (!options.box.empty() && !NamesBox(path, location, BoxSerial(path), options.box)) continue;
        chosen.push_back({path, BoxInstance(path), location, false});
    }
    if (!options.box.empty() && chosen.empty() && !options.wait)
        return Finish(reporter, MessageText(IDS_CLI_NO_BOX) + " (" + options.box + ")", EXIT_NO_BOX);
    if (options.box.empty() && chosen.size() > 1 && !options.all && !options.wait) {
        ConsoleWrite(ConsoleStream::Err, std::string(programName) + ": " + std::to_string(chosen.size()) +
                                             " boxes are attached: name one with --box ID ('" + programName +
                                             " list' shows them) or update them all with --all\n");
        return Finish(reporter, MessageText(IDS_CLI_SEVERAL_BOXES), EXIT_USAGE);
    }
    if (chosen.empty() && !options.wait) return Finish(reporter, MessageText(IDS_CLI_NO_BOX), EXIT_NO_BOX);

    CliRun run;
    run.options = &options;
    run.reporter = reporter;
    run.history = nullptr;
    if (!options.noHistory) {
        std::string error;
        run.history = OpenHistory(HistoryPath(options, demo), &error);
        if (run.history == nullptr) run.historyError = error.empty() ? "?" : error;
    }
    Station* station = StationBegin(&run, programName);
    const int status = UpdateBoxes(&run, station, chosen);
    StationEnd(station);
    if (run.history != nullptr) CloseHistory(run.history);
    ReportEnd(reporter);
    return status;
}

}  // namespace

int RunConsoleProgram(int argc, const char* const* argv, const char* programName, bool demo) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        ConsoleWrite(ConsoleStream::Err, std::string(programName) + ": " + error + "\n\n" +
                                             CliUsage(programName, StateDefaultHistoryPath(demo)));
        return EXIT_USAGE;
    }
    if (options.command == CliCommand::Help) {
        ConsoleWrite(ConsoleStream::Out, CliUsage(programName, StateDefaultHistoryPath(demo)));
        return EXIT_ALL_UPDATED;
    }
    if (options.command == CliCommand::Version) {
        ConsoleWrite(ConsoleStream::Out, std::string(programName) + " " + FirmwareVersionText(IMAGE_VERSION) + "\n");
        return EXIT_ALL_UPDATED;
    }
    if (options.command == CliCommand::History) return TellHistory(options, demo);
    ConsoleCatchStopRequests();
    Reporter* reporter =
        ReportBegin(options.json ? ReportStyle::Json : ConsoleCanRedraw() ? ReportStyle::Live : ReportStyle::Plain,
                    FirmwareVersionText(IMAGE_VERSION));
    std::vector<std::u16string> paths;
    // A list that cannot be had says nothing about the boxes: it is its own failure.
    if (ListBoxes(&paths) != DEV_OK) return Finish(reporter, MessageText(IDS_CLI_LIST_FAILED), EXIT_SOME_FAILED);
    if (options.command == CliCommand::List) {
        if (paths.empty()) return Finish(reporter, MessageText(IDS_CLI_NO_BOX), EXIT_NO_BOX);
        return ListAll(reporter, paths);
    }
    return Update(reporter, options, paths, programName, demo);
}
