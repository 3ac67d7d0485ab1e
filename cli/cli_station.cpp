#include "cli/cli_station.h"

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "history/history.h"
#include "platform/service.h"
#include "platform/system.h"
#include "platform/text_file.h"
#include "resources/resource_ids.h"
#include "update/engine.h"

namespace {

// Around an update's 31 s: a box that fails early, one written at its pace, one slowed by a busy
// bus or a retried report, and one that took far too long.
const double DURATION_BOUNDS[] = {10, 20, 30, 35, 40, 60, 120};
// A metrics file that could not be written is tried again this often while nothing changes
// (its folder made after the start: the exporter installed later).
constexpr std::uint64_t METRICS_RETRY_US = 10000000;

// One fixed id per outcome, so that journalctl MESSAGE_ID=... finds every such entry.
struct OutcomeEntry {
    const char* outcome;
    const char* messageId;
    const char* priority;  // 3 error, 5 notice, 6 informational
};
constexpr OutcomeEntry OUTCOME_ENTRIES[] = {
    {"updated", "970eeed1cb2545dc8437b99ae2fcc383", "6"},
    {"confirmed", "1b3211e4c26f476d9931be9eb8a94a67", "6"},
    {"unconfirmed", "e6ec898e4bfe43a785c7d4d6641ec7da", "5"},
    {"failed", "c68fb0aa038440c291d1037376d0b34e", "3"},
    {"cut_off", "2b9eded592374058b33d1f7eec9195e5", "3"},
};

}  // namespace

struct Station {
    CliRun* run;
    std::string programName;
    std::uint64_t watchdogUs = 0;
    std::uint64_t lastPing = 0;
    std::string status;
    bool stopping = false;
    // The metrics file: what it last showed, and whether the last write failed and was told.
    bool metricsWritten = false;
    unsigned metricsWriting = 0;
    unsigned metricsEndings = 0;
    std::uint64_t metricsTried = 0;
    int metricsToldFailure = 0;  // 0 none, 1 the folder is missing, 2 another failure
};

namespace {

std::string Bound(double bound) { return std::to_string(static_cast<long long>(bound)); }

std::string MetricsText(const HistoryTotals& totals, unsigned writing, const std::string& image) {
    std::string text =
        "# HELP veltabox_updates_total Updates of boxes in this station's record, by outcome.\n"
        "# TYPE veltabox_updates_total counter\n";
    for (std::size_t i = 0; i < HISTORY_OUTCOME_COUNT; ++i)
        text += "veltabox_updates_total{outcome=\"" + std::string(HISTORY_OUTCOMES[i]) + "\"} " + std::to_string(totals.outcomes[i]) + "\n";
    text +=
        "# HELP veltabox_boxes_writing Boxes being written now.\n"
        "# TYPE veltabox_boxes_writing gauge\n"
        "veltabox_boxes_writing " + std::to_string(writing) + "\n"
        "# HELP veltabox_last_update_end_timestamp_seconds When the last recorded update ended (0 before the first).\n"
        "# TYPE veltabox_last_update_end_timestamp_seconds gauge\n"
        "veltabox_last_update_end_timestamp_seconds " + ThreeDecimals(totals.lastEnded) + "\n"
        "# HELP veltabox_update_duration_seconds How long the recorded updates took, from their record's beginning to their end.\n"
        "# TYPE veltabox_update_duration_seconds histogram\n";
    for (std::size_t i = 0; i < totals.durationsUpTo.size(); ++i)
        text += "veltabox_update_duration_seconds_bucket{le=\"" + Bound(DURATION_BOUNDS[i]) + "\"} " + std::to_string(totals.durationsUpTo[i]) + "\n";
    text += "veltabox_update_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(totals.durations) + "\n"
            "veltabox_update_duration_seconds_sum " + ThreeDecimals(totals.durationSum) + "\n"
            "veltabox_update_duration_seconds_count " + std::to_string(totals.durations) + "\n"
            "# HELP veltabox_image_info The firmware image this program writes.\n"
            "# TYPE veltabox_image_info gauge\n"
            "veltabox_image_info{version=\"" + image + "\"} 1\n";
    return text;
}

void WriteMetrics(Station* station, unsigned writing) {
    CliRun* run = station->run;
    station->metricsTried = SystemClockMicroseconds();
    station->metricsWriting = writing;
    station->metricsEndings = run->endings;
    HistoryTotals totals = {};
    std::string error;
    bool counted;
    {
        // Held across the count, so that no record turns unsettled between the look at the
        // unsettled ones and the count; the file is written after, with no box waiting on it.
        const std::lock_guard<std::mutex> hold(run->unsettledLock);
        const std::vector<double> bounds(std::begin(DURATION_BOUNDS), std::end(DURATION_BOUNDS));
        counted = CountHistory(run->history, bounds, run->unsettled, &totals, &error);
    }
    bool folderMissing = false;
    station->metricsWritten =
        counted && ReplaceTextFile(run->options->metrics, MetricsText(totals, writing, FirmwareVersionText(IMAGE_VERSION)),
                                   &folderMissing, &error);
    const int failure = station->metricsWritten ? 0 : folderMissing ? 1 : 2;
    if (failure != 0 && failure != station->metricsToldFailure) {
        ReportNote(run->reporter, failure == 1 ? MessageText(IDS_CLI_NO_METRICS_FOLDER) + " (" + run->options->metrics + ")"
                                               : MessageText(IDS_CLI_NO_METRICS) + " (" + error + ")");
    }
    station->metricsToldFailure = failure;
}

void SendEntry(void* context, const EndedUpdate& ended) {
    const auto* station = static_cast<const Station*>(context);
    const OutcomeEntry* entry = &OUTCOME_ENTRIES[0];
    for (const OutcomeEntry& candidate : OUTCOME_ENTRIES)
        if (std::string(candidate.outcome) == ended.outcome) entry = &candidate;
    const BoxView& box = *ended.box;
    std::string message = BoxName(box) + ": " + ended.text;
    if (ended.codeShown) message += " " + CodeLine(ended.code, ended.systemError);
    std::vector<JournalField> fields = {
        {"MESSAGE", message},
        {"MESSAGE_ID", entry->messageId},
        {"PRIORITY", entry->priority},
        {"SYSLOG_IDENTIFIER", station->programName},
        {"VELTABOX_BOX", box.identity},
        {"VELTABOX_MODEL", box.model},
        {"VELTABOX_FW_FROM", box.firmware},
        {"VELTABOX_FW_TO", ended.image},
        {"VELTABOX_OUTCOME", ended.outcome},
        {"VELTABOX_CODE", std::to_string(ended.code)},
        {"VELTABOX_SYSTEM_ERROR", std::to_string(ended.systemError)},
    };
    if (!box.serial.empty()) fields.push_back({"VELTABOX_SERIAL", box.serial});
    if (ended.record != 0) fields.push_back({"VELTABOX_HISTORY_ID", std::to_string(ended.record)});
    // The line on standard output says the same: an entry that could not be sent is lost
    // without taking anything else with it.
    JournalSend(fields);
}

std::string StatusText(const StationActivity& activity, bool stopping) {
    const std::string counts = MessageText(IDS_CLI_STATION_STATUS, activity.writing, activity.updated, activity.failed);
    return stopping ? MessageText(IDS_CLI_STATION_STOPPING) + " " + counts : counts;
}

}  // namespace

Station* StationBegin(CliRun* run, const char* programName) {
    auto* station = new Station;
    station->run = run;
    station->programName = programName;
    station->watchdogUs = ServiceWatchdogMicroseconds();
    station->lastPing = SystemClockMicroseconds();
    if (JournalConnected()) run->observer = {station, SendEntry};
    if (!run->options->metrics.empty() && run->history != nullptr) WriteMetrics(station, 0);
    return station;
}

void StationReady(Station* station, const StationActivity& activity) {
    station->status = StatusText(activity, false);
    ServiceReady(station->status);
}

void StationTick(Station* station, const StationActivity& activity, bool stopping) {
    const std::uint64_t now = SystemClockMicroseconds();
    if (station->watchdogUs != 0 && now - station->lastPing >= station->watchdogUs / 2) {
        ServiceAlive();
        station->lastPing = now;
    }
    const std::string status = StatusText(activity, stopping);
    if (stopping && !station->stopping) {
        station->stopping = true;
        ServiceStopping(status);
    } else if (status != station->status) {
        ServiceStatus(status);
    }
    station->status = status;
    CliRun* run = station->run;
    if (run->options->metrics.empty() || run->history == nullptr) return;
    const bool changed = activity.writing != station->metricsWriting || run->endings != station->metricsEndings;
    if (changed || (!station->metricsWritten && now - station->metricsTried >= METRICS_RETRY_US))
        WriteMetrics(station, activity.writing);
}

void StationEnd(Station* station) {
    CliRun* run = station->run;
    run->observer = RunObserver();
    if (!run->options->metrics.empty() && run->history != nullptr) WriteMetrics(station, 0);
    delete station;
}
