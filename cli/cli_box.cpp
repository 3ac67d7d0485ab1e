#include "cli/cli_box.h"

#include <algorithm>
#include <chrono>

#include "cli/cli_text.h"
#include "device/box_list.h"
#include "device/discovery.h"
#include "history/history.h"
#include "platform/console.h"
#include "platform/system.h"
#include "resources/firmware_image.h"
#include "resources/resource_ids.h"
#include "update/engine.h"

namespace {

// How often a watched box that another program holds, or that could not be opened, is looked at
// again while it stays attached.
constexpr std::uint32_t RETRY_MS = 1000;

struct Progress {
    CliRun* run;
    int line;
};

void WritingBegins(void* context) { ++static_cast<Progress*>(context)->run->writing; }
void WritingEnds(void* context) { --static_cast<Progress*>(context)->run->writing; }
void BlockWritten(void* context, std::uint32_t percent) {
    const auto* progress = static_cast<Progress*>(context);
    ReportProgress(progress->run->reporter, progress->line, percent);
}
bool Forced(void*) { return true; }
// A second interrupt at the keyboard: every box stops after its current report. SIGTERM and
// SIGHUP never do, however many come: a service manager or a closed terminal asks the program to
// end, not to leave boxes half written.
bool OperatorInsists(void*) { return ConsoleInterrupts() >= 2; }

// Takes the box again and again while taking it ends in `waitingOut`, until it does not, the
// arrival is seen gone or the run ends (then `waitingOut`).
std::int32_t TakeOnce(CliRun* run, BoxJob* job, DeviceRecord& record, std::int32_t waitingOut) {
    for (;;) {
        ConsoleWaitForStop(RETRY_MS);
        if (job->gone || run->ending || ConsoleStopRequests(nullptr) > 0) return waitingOut;
        const std::int32_t taken = TakeBox(job->path, record);
        if (taken != waitingOut) return taken;
    }
}

// The reservation against --count is given back while the box waits (for another program, or
// to be opened), so that a box that never comes free does not keep the watch from taking the
// ones that follow.
bool Reserve(CliRun* run, BoxJob* job) {
    if (job->holdsReservation) return true;
    const unsigned count = run->options->count;
    if (count != 0 && run->reserved.fetch_add(1) >= count) {
        --run->reserved;
        return false;
    }
    job->holdsReservation = true;
    return true;
}

void GiveBack(CliRun* run, BoxJob* job) {
    if (job->holdsReservation.exchange(false)) --run->reserved;
}

UpdateBegun BegunOf(const BoxView& view) {
    UpdateBegun begun;
    begun.box = view.identity;
    begun.serial = view.serial;
    begun.model = view.model;
    begun.bootloader = view.bootloader;
    begun.firmwareBefore = view.firmware;
    begun.image = FirmwareVersionText(IMAGE_VERSION);
    return begun;
}

// The record completed, then those who watch the run told, with the result as the line said it.
void Complete(CliRun* run, const BoxView& view, std::int64_t record, const char* outcome, std::uint32_t messageId,
              const std::string& text, bool codeShown, std::int32_t code, std::uint32_t systemError) {
    if (run->history != nullptr && record != 0) {
        std::string error;
        if (!CompleteUpdateRecord(run->history, record, {outcome, messageId, code, systemError}, &error))
            ReportNote(run->reporter, MessageText(IDS_CLI_NO_RECORD) + " (" + error + ")");
    }
    ++run->endings;
    if (run->observer.updateEnded != nullptr) {
        run->observer.updateEnded(run->observer.context, {&view, outcome, text, codeShown, code, systemError,
                                                          FirmwareVersionText(IMAGE_VERSION), record});
    }
}

// A record whose outcome the proof will change, or has changed.
void Unsettled(CliRun* run, std::int64_t record, bool unsettled) {
    if (record == 0) return;
    const std::lock_guard<std::mutex> hold(run->unsettledLock);
    auto& records = run->unsettled;
    if (unsettled) records.push_back(record);
    else records.erase(std::remove(records.begin(), records.end(), record), records.end());
}

// After the finish: the box restarts into its new firmware and comes back at its port, where the
// main thread hands its answer to this job. Waiting here keeps every other box going.
void Prove(CliRun* run, BoxJob* job, const BoxView& view, int line, std::int64_t record) {
    job->finishedAt = SystemClockMicroseconds();
    job->awaitingProof = true;
    std::unique_lock<std::mutex> hold(job->comeback.lock);
    job->comeback.told.wait_for(hold, std::chrono::seconds(run->options->confirm), [job] { return job->comeback.came; });
    const bool came = job->comeback.came;
    const std::uint32_t version = job->comeback.version;
    hold.unlock();
    job->awaitingProof = false;
    if (!came) {
        job->proof = BoxJob::Proof::Unconfirmed;
        const std::string text = MessageText(IDS_CLI_UNCONFIRMED);
        ReportUnconfirmed(run->reporter, line, text);
        Complete(run, view, record, "unconfirmed", IDS_CLI_UNCONFIRMED, text, false, 0, 0);
    } else if (version == IMAGE_VERSION) {
        job->proof = BoxJob::Proof::Confirmed;
        const std::string text = MessageText(IDS_CLI_CONFIRMED);
        ReportConfirmed(run->reporter, line, text);
        Complete(run, view, record, "confirmed", IDS_CLI_CONFIRMED, text, false, 0, 0);
    } else {
        job->proof = BoxJob::Proof::Failed;
        job->outcome = Outcome::Failed;
        const std::string text = MessageText(IDS_CLI_NOT_NEW_FIRMWARE) + " (Firmware " + FirmwareVersionText(version) + ")";
        ReportFailed(run->reporter, line, text, -1, 0);
        Complete(run, view, record, "failed", IDS_CLI_NOT_NEW_FIRMWARE, text, false, 0, 0);
    }
    Unsettled(run, record, false);
}

// The box is in bootloader mode, held and asked: its update, recorded before its first report.
void Update(CliRun* run, BoxJob* job, DeviceRecord& record, const BoxView& view, int line) {
    const bool writes = record.firmwareVersion < IMAGE_VERSION || record.firmwareVersion == NO_FIRMWARE_VERSION ||
                        run->options->force;
    std::int64_t recorded = 0;
    if (writes && (run->history != nullptr || !run->historyError.empty())) {
        std::string error = run->historyError;
        if (run->history != nullptr) recorded = BeginUpdateRecord(run->history, BegunOf(view), &error);
        if (recorded == 0) {
            job->outcome = Outcome::Failed;
            return ReportFailed(run->reporter, line, MessageText(IDS_CLI_NO_RECORD) + " (" + error + ")", -1, 0);
        }
    }
    Progress progress = {run, line};
    UpdateObserver observer = {};
    observer.context = &progress;
    observer.confirmOlderImage = run->options->force ? Forced : nullptr;
    observer.writingBegins = WritingBegins;
    observer.writingEnds = WritingEnds;
    observer.blockWritten = BlockWritten;
    observer.cutOff = OperatorInsists;
    if (writes) ReportStarted(run->reporter, line);
    const UpdateResult result = UpdateBox(record, FIRMWARE_IMAGE, FIRMWARE_IMAGE_SIZE, observer);
    // Let go before the proof: the box restarts and comes back as another device.
    CloseDevice(record);
    switch (result.outcome) {
        case UpdateOutcome::Updated: {
            job->outcome = Outcome::Updated;
            job->finishedAt = SystemClockMicroseconds();
            const std::string text = MessageText(IDS_SUCCESS);
            ReportSucceeded(run->reporter, line, text);
            const bool proving = run->options->confirm > 0;
            if (proving) Unsettled(run, recorded, true);
            Complete(run, view, recorded, "updated", IDS_SUCCESS, text, false, 0, 0);
            if (proving) Prove(run, job, view, line, recorded);
            return;
        }
        case UpdateOutcome::Declined:
            job->outcome = Outcome::Skipped;
            return ReportSkipped(run->reporter, line, MessageText(IDS_CLI_SKIPPED));
        case UpdateOutcome::CutOff: {
            job->outcome = Outcome::CutOff;
            const std::string text = MessageText(IDS_CLI_CUT_OFF);
            ReportFailed(run->reporter, line, text, -1, 0);
            return Complete(run, view, recorded, "cut_off", IDS_CLI_CUT_OFF, text, false, result.code, 0);
        }
        case UpdateOutcome::Failed: {
            job->outcome = Outcome::Failed;
            const std::string text = MessageText(result.messageId);
            ReportFailed(run->reporter, line, text, result.code, result.lastError);
            return Complete(run, view, recorded, "failed", result.messageId, text, result.code != -1, result.code,
                            result.lastError);
        }
    }
}

void Live(CliRun* run, BoxJob* job) {
    const CliOptions& options = *run->options;
    const std::string serial = BoxSerial(job->path);
    if (job->bySerialOnly && (serial.empty() || serial != options.box)) {
        job->outcome = Outcome::Ignored;
        return;
    }
    DeviceRecord record;
    ResetDeviceRecord(record);
    std::int32_t taken = TakeBox(job->path, record);
    // Under a watch, a box that cannot be opened yet was announced a moment before its interface
    // could be (Wine's HID stack does so), or listed a moment after it was pulled out: it is
    // looked at again while it stays, and one that never opens is no update of the run's.
    if (taken == DEV_ERR_NOT_FOUND && options.wait) {
        GiveBack(run, job);
        taken = TakeOnce(run, job, record, DEV_ERR_NOT_FOUND);
        if (taken == DEV_ERR_NOT_FOUND) {
            job->outcome = Outcome::Gone;
            return;
        }
    }
    std::uint32_t takeError = SystemLastError();
    // A box this program just finished, back at its port in its new firmware: its proof, not a
    // box of its own, and never a failed one for being in application mode.
    if (job->restartOf != nullptr && taken == DEV_OK && record.bootloaderMode == 0) {
        if (job->restartOf->awaitingProof) TellComeback(job->restartOf, record.firmwareVersion);
        job->outcome = Outcome::Ignored;
        return CloseDevice(record);
    }
    const int line = ReportFound(run->reporter, ViewOfBox(job->path, job->location, serial, taken == DEV_OK ? &record : nullptr));
    if (taken == DEV_ERR_BUSY) {
        ReportBusy(run->reporter, line, MessageText(IDS_CLI_BUSY));
        job->outcome = Outcome::Busy;
        if (!options.wait) return;
        GiveBack(run, job);
        taken = TakeOnce(run, job, record, DEV_ERR_BUSY);
        takeError = SystemLastError();
        if (taken == DEV_ERR_BUSY) return;
        ReportAnswered(run->reporter, line, ViewOfBox(job->path, job->location, serial, taken == DEV_OK ? &record : nullptr));
    }
    if (!Reserve(run, job)) {
        job->outcome = Outcome::Ignored;  // the watch has its count; this box was never updated
        return CloseDevice(record);
    }
    const BoxView view = ViewOfBox(job->path, job->location, serial, taken == DEV_OK ? &record : nullptr);
    if (taken != DEV_OK) {
        job->outcome = Outcome::Failed;
        // A box that went, may not be opened or cannot be asked has its text; a query that
        // failed has its code line, as the dialog's failures do.
        const bool explained = taken == DEV_ERR_NOT_FOUND || taken == DEV_ERR_DENIED || taken == DEV_ERR_UNSUPPORTED;
        ReportFailed(run->reporter, line, TakeFailureText(taken), explained ? -1 : taken, takeError);
        if (taken == DEV_ERR_DENIED) {
            const std::string advice = ConsoleDeniedAdvice(job->path);
            if (!advice.empty()) ReportNote(run->reporter, advice);
        }
    } else if (record.bootloaderMode == 0) {
        job->outcome = Outcome::Failed;
        ReportFailed(run->reporter, line, MessageText(IDS_CLI_WRONG_MODE), -1, 0);
    } else if (ConsoleStopRequests(nullptr) > 0) {
        job->outcome = Outcome::NotStarted;
        ReportSkipped(run->reporter, line, MessageText(IDS_CLI_NOT_STARTED));
    } else {
        Update(run, job, record, view, line);
    }
    CloseDevice(record);
}

}  // namespace

void RunBoxJob(CliRun* run, BoxJob* job) {
    Live(run, job);
    if (job->outcome == Outcome::Ignored || job->outcome == Outcome::Busy || job->outcome == Outcome::Gone) GiveBack(run, job);
    job->ended = true;
}

void TellComeback(BoxJob* job, std::uint32_t version) {
    {
        std::lock_guard<std::mutex> hold(job->comeback.lock);
        job->comeback.came = true;
        job->comeback.version = version;
    }
    job->comeback.told.notify_all();
}

BoxView ViewOfBox(const std::u16string& path, const std::string& location, const std::string& serial, const DeviceRecord* record) {
    BoxView view;
    view.node = Utf8Of(path.c_str());
    view.identity = location.empty() ? view.node : location;
    view.serial = serial;
    view.model = record != nullptr && record->productId == PRODUCT_ID_VELTA_HUB ? "VELTA-HUB" : "VELTABOX";
    if (record != nullptr && IsDeviceHeld(*record)) {
        view.mode = record->bootloaderMode != 0 ? "bootloader" : "application";
        // Only the bootloader tells its own version.
        if (record->bootloaderMode != 0) view.bootloader = BootloaderVersionText(record->bootloaderVersion);
        view.firmware = FirmwareVersionText(record->firmwareVersion);
    }
    return view;
}

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

bool NamesBox(const std::u16string& path, const std::string& location, const std::string& serial, const std::string& wanted) {
    return (!location.empty() && location == wanted) || (!serial.empty() && serial == wanted) || Utf8Of(path.c_str()) == wanted;
}
