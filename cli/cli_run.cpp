#include "cli/cli_run.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "cli/cli_text.h"
#include "device/box_list.h"
#include "device/discovery.h"
#include "platform/console.h"
#include "platform/system.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"
#include "update/engine.h"

namespace {

// How often the live lines are drawn again, and the main thread looks for the operator.
constexpr std::uint32_t TICK_MS = 250;

enum class Outcome { Pending, Updated, Failed, Skipped, Busy, NotStarted, CutOff };

// One box and the thread that updates it. The thread owns its connection; the main thread reads
// the outcome once it has joined it.
struct BoxJob {
    std::u16string path;
    int line = -1;
    Outcome outcome = Outcome::Pending;
};

// The writes under way. Sleep and shutdown are held off while there is one, by the main thread
// alone: on Windows the hold belongs to the thread that asked for it.
std::atomic<int> g_writing{0};

void WritingBegins(void*) { ++g_writing; }
void WritingEnds(void*) { --g_writing; }

// Called by the main thread on each tick: the hold follows the first write within a quarter second.
void HoldOffSleepWhileWriting(bool* holding) {
    const bool writing = g_writing > 0;
    if (writing == *holding) return;
    *holding = writing;
    if (!ConsoleHoldOffSleep(writing, MessageText(IDS_WRITING)) && writing)
        ReportNote("Schlaf und Herunterfahren werden w\xC3\xA4hrend des Updates nicht zur\xC3\xBC" "ckgehalten.");
}

struct Progress {
    int line;
};

void BlockWritten(void* context, std::uint32_t percent) { ReportProgress(static_cast<Progress*>(context)->line, percent); }
bool Forced(void*) { return true; }
// A second stop request: every box stops after its current report.
bool OperatorInsists(void*) { return ConsoleStopRequests(nullptr) >= 2; }

BoxView ViewOf(const std::u16string& path, const DeviceRecord* record) {
    BoxView view;
    view.node = Utf8Of(path.c_str());
    view.identity = BoxLocation(path);
    if (view.identity.empty()) view.identity = view.node;
    view.model = record != nullptr && record->productId == PRODUCT_ID_VELTA_HUB ? "VELTA-HUB" : "VELTABOX";
    if (record != nullptr && IsDeviceHeld(*record)) {
        view.mode = record->bootloaderMode != 0 ? "bootloader" : "application";
        // Only the bootloader tells its own version.
        if (record->bootloaderMode != 0) view.bootloader = BootloaderVersionText(record->bootloaderVersion);
        view.firmware = FirmwareVersionText(record->firmwareVersion);
    }
    return view;
}

// Why a box could not be asked, in the catalogue's words.
std::string TakeFailureText(std::int32_t taken) {
    switch (taken) {
        case DEV_ERR_DENIED:
            return MessageText(IDS_BOX_DENIED);
        case DEV_ERR_UNSUPPORTED:
            return MessageText(IDS_KERNEL_TOO_OLD);
        case DEV_ERR_NOT_FOUND:
            return MessageText(IDS_DISCONNECTED);
        default:
            return MessageText(IDS_CLI_NO_ANSWER);
    }
}

// The whole life of one box in the program: taken, asked, updated or not, let go.
void UpdateOne(BoxJob* job, bool force) {
    DeviceRecord record;
    ResetDeviceRecord(record);
    const std::int32_t taken = TakeBox(job->path, record);
    const std::uint32_t takeError = SystemLastError();
    job->line = ReportFound(ViewOf(job->path, taken == DEV_OK ? &record : nullptr));
    if (taken == DEV_ERR_BUSY) {
        job->outcome = Outcome::Busy;
        ReportBusy(job->line, MessageText(IDS_CLI_BUSY));
    } else if (taken != DEV_OK) {
        job->outcome = Outcome::Failed;
        // A box that went, may not be opened or cannot be asked has its text; a query that
        // failed has its code line, as the dialog's failures do.
        const bool explained = taken == DEV_ERR_NOT_FOUND || taken == DEV_ERR_DENIED || taken == DEV_ERR_UNSUPPORTED;
        ReportFailed(job->line, TakeFailureText(taken), explained ? -1 : taken, takeError);
    } else if (record.bootloaderMode == 0) {
        job->outcome = Outcome::Failed;
        ReportFailed(job->line, MessageText(IDS_CLI_WRONG_MODE), -1, 0);
    } else if (ConsoleStopRequests(nullptr) > 0) {
        job->outcome = Outcome::NotStarted;
        ReportSkipped(job->line, MessageText(IDS_CLI_NOT_STARTED));
    } else {
        Progress progress = {job->line};
        UpdateObserver observer = {};
        observer.context = &progress;
        observer.confirmOlderImage = force ? Forced : nullptr;
        observer.writingBegins = WritingBegins;
        observer.writingEnds = WritingEnds;
        observer.blockWritten = BlockWritten;
        observer.cutOff = OperatorInsists;
        if (record.firmwareVersion < IMAGE_VERSION || record.firmwareVersion == NO_FIRMWARE_VERSION || force)
            ReportStarted(job->line);
        const UpdateResult result = UpdateBox(record, FIRMWARE_IMAGE, FIRMWARE_IMAGE_SIZE, observer);
        switch (result.outcome) {
            case UpdateOutcome::Updated:
                job->outcome = Outcome::Updated;
                ReportSucceeded(job->line, MessageText(IDS_SUCCESS));
                break;
            case UpdateOutcome::Declined:
                job->outcome = Outcome::Skipped;
                ReportSkipped(job->line, MessageText(IDS_CLI_SKIPPED));
                break;
            case UpdateOutcome::CutOff:
                job->outcome = Outcome::CutOff;
                ReportFailed(job->line, MessageText(IDS_CLI_CUT_OFF), -1, 0);
                break;
            case UpdateOutcome::Failed:
                job->outcome = Outcome::Failed;
                ReportFailed(job->line, MessageText(result.messageId), result.code, result.lastError);
                break;
        }
    }
    CloseDevice(record);
}

// Every box, each asked on a thread of its own, so that a silent one holds up no other; a box
// another program holds is listed, never asked. Told in the search's order once all have answered.
int ListAll(const std::vector<std::u16string>& paths) {
    struct Listed {
        DeviceRecord record;
        std::int32_t taken;
    };
    std::vector<Listed> listed(paths.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        threads.emplace_back([&paths, &listed, i] {
            ResetDeviceRecord(listed[i].record);
            listed[i].taken = TakeBox(paths[i], listed[i].record);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const int line = ReportFound(ViewOf(paths[i], listed[i].taken == DEV_OK ? &listed[i].record : nullptr));
        if (listed[i].taken == DEV_ERR_BUSY) ReportBusy(line, MessageText(IDS_CLI_BUSY));
        else if (listed[i].taken != DEV_OK) ReportFailed(line, TakeFailureText(listed[i].taken), -1, 0);
        CloseDevice(listed[i].record);
    }
    return EXIT_ALL_UPDATED;
}

// The worst that happened, as the exit status says it. A watch that the operator ended has
// nothing left undone by that alone.
int ExitStatus(const std::deque<BoxJob>& jobs, int stops, int signal, bool watching) {
    bool failed = false, interrupted = false, busy = false, allSkipped = !jobs.empty();
    for (const BoxJob& job : jobs) {
        failed = failed || job.outcome == Outcome::Failed;
        interrupted = interrupted || job.outcome == Outcome::NotStarted || job.outcome == Outcome::CutOff;
        busy = busy || job.outcome == Outcome::Busy;
        allSkipped = allSkipped && job.outcome == Outcome::Skipped;
    }
    if (failed) return EXIT_SOME_FAILED;
    if (interrupted || (stops > 0 && jobs.empty() && !watching)) return 128 + (signal > 0 ? signal : 2);
    if (busy) return EXIT_BOX_HELD;
    if (allSkipped) return EXIT_ALL_SKIPPED;
    if (jobs.empty()) return EXIT_NO_BOX;
    return EXIT_ALL_UPDATED;
}

bool Names(const std::u16string& path, const std::string& wanted) {
    return BoxLocation(path) == wanted || Utf8Of(path.c_str()) == wanted;
}

// Each box on a thread of its own. With --wait the boxes are listed again every tick: a box
// that arrived is taken once, and one that stays attached after its update, finished or
// failed, is taken again only after it went away and came back. udev lists the boxes without
// opening anything, so looking four times a second costs next to nothing.
int UpdateBoxes(const std::vector<std::u16string>& initial, const CliOptions& options) {
    std::deque<BoxJob> jobs;
    std::deque<std::thread> threads;
    std::atomic<std::size_t> ended{0};
    std::set<std::u16string> taken;  // attached, and taken since it arrived
    const auto start = [&](const std::u16string& path) {
        taken.insert(path);
        jobs.emplace_back();
        BoxJob* job = &jobs.back();
        job->path = path;
        const bool force = options.force;
        threads.emplace_back([job, &ended, force] {
            UpdateOne(job, force);
            ++ended;
        });
    };
    const auto wanted = [&](std::size_t started) { return options.count == 0 || started < options.count; };
    for (const std::u16string& path : initial)
        if (wanted(jobs.size())) start(path);
    // The operator's first stop request starts no new box and lets the boxes being written
    // finish; the second cuts them off, which each box's update asks about after every report.
    int toldStops = 0;
    bool holding = false;
    for (;;) {
        const int stops = ConsoleStopRequests(nullptr);
        const bool watching = options.wait && stops == 0 && wanted(jobs.size());
        if (!watching && ended == jobs.size()) break;
        ConsoleWaitForStop(TICK_MS);
        HoldOffSleepWhileWriting(&holding);
        if (stops >= 1 && toldStops == 0) ReportNote(MessageText(IDS_CLI_STOPPING));
        toldStops = stops;
        if (watching) {
            std::vector<std::u16string> attached;
            if (ListBoxes(&attached, &taken) != DEV_OK) attached.clear();
            for (auto it = taken.begin(); it != taken.end();)
                it = std::find(attached.begin(), attached.end(), *it) == attached.end() ? taken.erase(it) : std::next(it);
            for (const std::u16string& path : attached)
                if (taken.count(path) == 0 && (options.box.empty() || Names(path, options.box)) && wanted(jobs.size()))
                    start(path);
        }
        ReportTick();
    }
    for (std::thread& thread : threads) thread.join();
    HoldOffSleepWhileWriting(&holding);

    std::uint32_t counts[7] = {};
    for (const BoxJob& job : jobs) ++counts[static_cast<int>(job.outcome)];
    int signal = 0;
    const int stops = ConsoleStopRequests(&signal);
    const int status = ExitStatus(jobs, stops, signal, options.wait);
    const std::uint32_t failed = counts[static_cast<int>(Outcome::Failed)] + counts[static_cast<int>(Outcome::CutOff)];
    ReportSummary(MessageText(IDS_CLI_SUMMARY, counts[static_cast<int>(Outcome::Updated)], failed,
                              counts[static_cast<int>(Outcome::Skipped)], counts[static_cast<int>(Outcome::Busy)],
                              counts[static_cast<int>(Outcome::NotStarted)]),
                  status, counts[static_cast<int>(Outcome::Updated)], failed, counts[static_cast<int>(Outcome::Skipped)],
                  counts[static_cast<int>(Outcome::Busy)], counts[static_cast<int>(Outcome::NotStarted)]);
    return status;
}


}  // namespace

int RunConsoleProgram(int argc, const char* const* argv, const char* programName) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        ConsoleWrite(ConsoleStream::Err, std::string(programName) + ": " + error + "\n\n" + CliUsage(programName));
        return EXIT_USAGE;
    }
    if (options.command == CliCommand::Help) {
        ConsoleWrite(ConsoleStream::Out, CliUsage(programName));
        return EXIT_ALL_UPDATED;
    }
    if (options.command == CliCommand::Version) {
        ConsoleWrite(ConsoleStream::Out, std::string(programName) + " 1.11\n");
        return EXIT_ALL_UPDATED;
    }
    ConsoleCatchStopRequests();
    ReportBegin(options.json ? ReportStyle::Json : ConsoleCanRedraw() ? ReportStyle::Live : ReportStyle::Plain);

    std::vector<std::u16string> paths;
    if (ListBoxes(&paths) != DEV_OK) paths.clear();
    if (options.command == CliCommand::List) {
        if (paths.empty()) {
            ReportSummary(MessageText(IDS_CLI_NO_BOX), EXIT_NO_BOX, 0, 0, 0, 0, 0);
            return EXIT_NO_BOX;
        }
        return ListAll(paths);
    }
    if (!options.box.empty()) {
        std::vector<std::u16string> named;
        for (const std::u16string& path : paths)
            if (Names(path, options.box)) named.push_back(path);
        if (named.empty() && !options.wait) {
            ReportSummary(MessageText(IDS_CLI_NO_BOX) + " (" + options.box + ")", EXIT_NO_BOX, 0, 0, 0, 0, 0);
            return EXIT_NO_BOX;
        }
        paths = named;
    } else if (paths.size() > 1 && !options.all && !options.wait) {
        ConsoleWrite(ConsoleStream::Err, std::string(programName) + ": " + std::to_string(paths.size()) +
                                             " boxes are attached: name one with --box ID ('" + programName +
                                             " list' shows them) or update them all with --all\n");
        return EXIT_USAGE;
    }
    if (paths.empty() && !options.wait) {
        ReportSummary(MessageText(IDS_CLI_NO_BOX), EXIT_NO_BOX, 0, 0, 0, 0, 0);
        return EXIT_NO_BOX;
    }
    return UpdateBoxes(paths, options);
}
