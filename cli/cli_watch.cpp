#include "cli/cli_watch.h"

#include <algorithm>
#include <deque>
#include <map>
#include <thread>

#include "cli/cli_run.h"
#include "cli/cli_text.h"
#include "device/box_list.h"
#include "platform/console.h"
#include "platform/system.h"
#include "resources/resource_ids.h"

namespace {

// How often the live lines are drawn again, and the main thread looks for the operator.
constexpr std::uint32_t TICK_MS = 250;
// With the system announcing arrivals, the boxes are still listed now and then, in case an
// announcement went missing without the watch noticing.
constexpr std::uint64_t LISTING_FALLBACK_US = 5000000;
// How long after a box's finish a box in application mode at its port is taken for that box,
// restarted into its new firmware, when no proof is asked for.
constexpr std::uint64_t RESTART_WINDOW_US = 30000000;
constexpr std::uint64_t GONE_KEPT_US = 60000000;

// One arrival, from the moment it was seen to the moment it was seen gone.
struct Arrival {
    std::u16string path;
    std::string instance;
    BoxJob* job;       // null: not ours (another box than --box names, or the watch does not take it)
    int missedListings;  // listed without it, while no watch says whether it left
};

struct Watch {
    CliRun* run;
    std::deque<BoxJob> jobs;
    std::deque<std::thread> threads;
    std::vector<Arrival> attached;
    // Removed boxes whose listing may still show them for a moment, with when they left;
    // forgotten when something arrives at the same path again, or after a minute.
    std::map<std::string, std::uint64_t> gone;
    InterfaceWatch* announcements;
    std::uint64_t lastListing;
};

unsigned Counted(const Watch& watch) {
    unsigned counted = 0;
    for (const BoxJob& job : watch.jobs)
        if (job.ended && job.outcome != Outcome::Ignored && job.outcome != Outcome::Gone &&
            !(job.outcome == Outcome::Busy && watch.run->options->wait))
            ++counted;
    return counted;
}

// --count reached: the updates begun and those still to end fill it.
bool Wanted(const Watch& watch) {
    const unsigned count = watch.run->options->count;
    return count == 0 || watch.run->reserved < count;
}

BoxJob* Start(Watch& watch, const std::u16string& path, const std::string& location, bool bySerialOnly, BoxJob* restartOf) {
    watch.jobs.emplace_back();
    BoxJob* job = &watch.jobs.back();
    job->path = path;
    job->location = location;
    job->bySerialOnly = bySerialOnly;
    job->restartOf = restartOf;
    ++watch.run->reserved;
    CliRun* run = watch.run;
    watch.threads.emplace_back([run, job] { RunBoxJob(run, job); });
    return job;
}

// The box this program finished at `location`: awaiting its proof, or (without --confirm) just
// finished there.
BoxJob* FinishedAt(Watch& watch, const std::string& location) {
    if (location.empty()) return nullptr;
    const std::uint64_t now = SystemClockMicroseconds();
    for (auto it = watch.jobs.rbegin(); it != watch.jobs.rend(); ++it) {
        if (it->location != location) continue;
        if (it->awaitingProof) return &*it;
        if (it->ended && it->outcome == Outcome::Updated && now - it->finishedAt < RESTART_WINDOW_US) return &*it;
        return nullptr;
    }
    return nullptr;
}

bool Proving(const Watch& watch) {
    return std::any_of(watch.jobs.begin(), watch.jobs.end(), [](const BoxJob& job) { return job.awaitingProof.load(); });
}

// A box seen for the first time: updated when the watch takes new boxes, or asked when it is a
// finished box's proof.
void Arrived(Watch& watch, const std::u16string& path, const std::string& instance, bool taking) {
    const CliOptions& options = *watch.run->options;
    const std::string location = BoxLocation(path);
    BoxJob* restartOf = FinishedAt(watch, location);
    BoxJob* job = nullptr;
    const bool named = options.box.empty() || NamesBox(path, location, std::string(), options.box);
    if (restartOf != nullptr || (taking && Wanted(watch)))
        job = Start(watch, path, location, !named && restartOf == nullptr, restartOf);
    watch.attached.push_back({path, instance, job, 0});
}

void Left(Watch& watch, std::vector<Arrival>::iterator arrival) {
    if (arrival->job != nullptr) arrival->job->gone = true;
    watch.gone[arrival->instance] = SystemClockMicroseconds();
    watch.attached.erase(arrival);
}

// The announcements first: a removal ends its arrival even when a box arrived on the same node
// since, which the listing that follows then finds as new.
void Announced(Watch& watch, const std::vector<InterfaceChange>& changes) {
    for (const InterfaceChange& change : changes) {
        if (change.arrival) {
            // Where the interface path is all that names an arrival (Windows), the same box
            // plugged in again is a new arrival under the same name.
            watch.gone.erase(BoxInstance(change.path));
            continue;
        }
        const auto arrival = std::find_if(watch.attached.begin(), watch.attached.end(),
                                          [&](const Arrival& a) { return a.path == change.path; });
        if (arrival != watch.attached.end()) Left(watch, arrival);
    }
}

// What is attached now against what was: a box listed under an instance not seen before is a new
// arrival, even on a node that another box had. A listing that fails is skipped and changes
// nothing; a box missing from a listing is taken for gone only where no watch tells removals,
// and only once two listings in a row missed it (a listing can come up empty for a moment).
void Reconcile(Watch& watch, bool watched, bool taking) {
    std::vector<std::u16string> paths;
    if (ListBoxes(&paths) != DEV_OK) return;
    watch.lastListing = SystemClockMicroseconds();
    std::vector<std::string> instances;
    for (const std::u16string& path : paths) instances.push_back(BoxInstance(path));
    for (auto it = watch.attached.begin(); it != watch.attached.end();) {
        const bool listed = std::find(instances.begin(), instances.end(), it->instance) != instances.end();
        it->missedListings = listed ? 0 : it->missedListings + 1;
        if (!watched && it->missedListings >= 2) {
            const std::ptrdiff_t at = it - watch.attached.begin();
            Left(watch, it);
            it = watch.attached.begin() + at;
        } else {
            ++it;
        }
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (instances[i].empty() || watch.gone.count(instances[i]) != 0) continue;
        const bool known = std::any_of(watch.attached.begin(), watch.attached.end(),
                                       [&](const Arrival& a) { return a.instance == instances[i]; });
        if (!known) Arrived(watch, paths[i], instances[i], taking);
    }
}

// A station runs for days: the threads of boxes that are done are joined as they end, and what
// is kept of removed boxes is let go after a while.
void Tidy(Watch& watch) {
    for (std::size_t i = 0; i < watch.threads.size(); ++i)
        if (watch.threads[i].joinable() && watch.jobs[i].ended) watch.threads[i].join();
    const std::uint64_t now = SystemClockMicroseconds();
    for (auto it = watch.gone.begin(); it != watch.gone.end();)
        it = now - it->second > GONE_KEPT_US ? watch.gone.erase(it) : std::next(it);
}

// Called by the main thread on each tick: the hold follows the first write within a quarter second.
// On Windows the hold belongs to the thread that asked for it.
void HoldOffSleepWhileWriting(CliRun* run, bool* holding) {
    const bool writing = run->writing > 0;
    if (writing == *holding) return;
    *holding = writing;
    if (!ConsoleHoldOffSleep(writing, MessageText(IDS_WRITING)) && writing)
        ReportNote(run->reporter, MessageText(IDS_CLI_SLEEP_NOT_HELD));
}

// The worst that happened, as the exit status says it. A watch that the operator ended has
// nothing left undone by that alone: ending it is how a watch ends.
int ExitStatus(const std::deque<BoxJob>& jobs, int stops, int signal, bool watching) {
    bool failed = false, interrupted = false, busy = false, allSkipped = true, any = false;
    for (const BoxJob& job : jobs) {
        if (job.outcome == Outcome::Ignored || job.outcome == Outcome::Gone) continue;
        any = true;
        failed = failed || job.outcome == Outcome::Failed;
        interrupted = interrupted || job.outcome == Outcome::NotStarted || job.outcome == Outcome::CutOff;
        busy = busy || job.outcome == Outcome::Busy;
        allSkipped = allSkipped && job.outcome == Outcome::Skipped;
    }
    if (failed) return EXIT_SOME_FAILED;
    // Told to stop, the program says so in its status, as a program ended by that signal would,
    // once the boxes it was writing are finished: whoever sent the signal sees it obeyed.
    if (interrupted || (stops > 0 && !watching)) return 128 + (signal > 0 ? signal : 2);
    if (busy) return EXIT_BOX_HELD;
    if (any && allSkipped) return EXIT_ALL_SKIPPED;
    if (!any) return EXIT_NO_BOX;
    return EXIT_ALL_UPDATED;
}

StationActivity Activity(const Watch& watch) {
    StationActivity activity = {static_cast<unsigned>(std::max(watch.run->writing.load(), 0)), 0, 0};
    for (const BoxJob& job : watch.jobs) {
        if (job.ended) {
            activity.updated += job.outcome == Outcome::Updated;
            activity.failed += job.outcome == Outcome::Failed || job.outcome == Outcome::CutOff;
        } else if (job.awaitingProof) {
            ++activity.updated;  // written whole; its proof may still turn it into a failure
        }
    }
    return activity;
}

// The summary, told; returns the exit status it names.
int Summarise(Watch& watch) {
    std::uint32_t counts[OUTCOMES] = {};
    std::uint32_t confirmed = 0, unconfirmed = 0;
    for (const BoxJob& job : watch.jobs) {
        ++counts[static_cast<int>(job.outcome)];
        confirmed += job.proof == BoxJob::Proof::Confirmed;
        unconfirmed += job.proof == BoxJob::Proof::Unconfirmed;
    }
    int signal = 0;
    const int stops = ConsoleStopRequests(&signal);
    const CliOptions& options = *watch.run->options;
    ReportTotals totals = {};
    totals.exitCode = ExitStatus(watch.jobs, stops, signal, options.wait);
    totals.updated = counts[static_cast<int>(Outcome::Updated)];
    totals.failed = counts[static_cast<int>(Outcome::Failed)] + counts[static_cast<int>(Outcome::CutOff)];
    totals.skipped = counts[static_cast<int>(Outcome::Skipped)];
    totals.busy = counts[static_cast<int>(Outcome::Busy)];
    totals.notStarted = counts[static_cast<int>(Outcome::NotStarted)];
    totals.proving = options.confirm > 0;
    totals.confirmed = confirmed;
    totals.unconfirmed = unconfirmed;
    totals.text = MessageText(IDS_CLI_SUMMARY, totals.updated, totals.failed, totals.skipped, totals.busy, totals.notStarted);
    if (totals.proving) totals.text += " " + MessageText(IDS_CLI_PROOF_SUMMARY, confirmed, unconfirmed);
    ReportSummary(watch.run->reporter, totals);
    return totals.exitCode;
}

}  // namespace

int UpdateBoxes(CliRun* run, Station* station, const std::vector<AttachedBox>& initial) {
    const CliOptions& options = *run->options;
    Watch watch;
    watch.run = run;
    // Watching before the boxes were listed, so that nothing arrives unseen in between.
    watch.announcements = options.wait || options.confirm > 0 ? ConsoleWatchInterfaces() : nullptr;
    watch.lastListing = SystemClockMicroseconds();
    for (const AttachedBox& box : initial) {
        BoxJob* job = Wanted(watch) ? Start(watch, box.path, box.location, box.bySerialOnly, nullptr) : nullptr;
        watch.attached.push_back({box.path, box.instance, job, 0});
    }
    StationReady(station, Activity(watch));
    int toldStops = 0;
    bool holding = false;
    std::vector<InterfaceChange> changes;
    for (;;) {
        const int stops = ConsoleStopRequests(nullptr);
        const bool taking = options.wait && stops == 0 && (options.count == 0 || Counted(watch) < options.count);
        const bool proving = Proving(watch);
        const bool allEnded = std::all_of(watch.jobs.begin(), watch.jobs.end(), [](const BoxJob& job) { return job.ended.load(); });
        if (!taking && !proving && allEnded) break;
        if (!taking) run->ending = true;
        changes.clear();
        bool heard = false;
        if (watch.announcements != nullptr) {
            heard = ConsoleWaitForChanges(watch.announcements, TICK_MS, &changes);
        } else {
            ConsoleWaitForStop(TICK_MS);
        }
        HoldOffSleepWhileWriting(run, &holding);
        if (stops >= 1 && toldStops == 0) ReportNote(run->reporter, MessageText(IDS_CLI_STOPPING));
        toldStops = stops;
        if (taking || proving) {
            const bool watched = watch.announcements != nullptr && heard;
            Announced(watch, changes);
            if (!watched || !changes.empty() || SystemClockMicroseconds() - watch.lastListing >= LISTING_FALLBACK_US)
                Reconcile(watch, watched, taking);
        }
        ReportTick(run->reporter);
        // The watchdog hears from this loop alone: it never waits for a box, so a ping missed
        // is this loop stuck, never a box being slow.
        StationTick(station, Activity(watch), stops > 0);
        Tidy(watch);
    }
    run->ending = true;
    for (std::thread& thread : watch.threads)
        if (thread.joinable()) thread.join();
    HoldOffSleepWhileWriting(run, &holding);
    if (watch.announcements != nullptr) ConsoleEndWatch(watch.announcements);
    return Summarise(watch);
}
