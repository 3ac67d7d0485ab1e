// One box's whole life in the console program, on a thread of its own: taken, asked, recorded,
// updated or not, proven after its finish, let go. The main thread starts it for an arrival and
// learns how it ended once `ended` is set; it never waits for a box.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_report.h"

struct History;

enum class Outcome {
    Pending,
    Updated,
    Failed,
    Skipped,
    Busy,
    NotStarted,
    CutOff,
    Ignored,  // not a box of this run: another serial than --box names, or a finished box restarting
    Gone,     // watched, and never opened before it was seen gone or the run ended: no update
};
constexpr int OUTCOMES = static_cast<int>(Outcome::Gone) + 1;

// An update that ended (or its proof), as those who watch the run besides its output learn it.
struct EndedUpdate {
    const BoxView* box;
    const char* outcome;       // as the record keeps it: "updated", "confirmed", "unconfirmed", "failed", "cut_off"
    std::string text;          // the result as the box's line says it
    bool codeShown;            // the line also shows the code line of `code` and `systemError`
    std::int32_t code;         // the record's result code and system error
    std::uint32_t systemError;
    std::string image;         // the image's version
    std::int64_t record;       // the record's id; 0 without a record
};

// Called from a box's thread once the record of its update is completed, after its last report:
// it may take a moment, but the box waits for nothing else then.
struct RunObserver {
    void* context = nullptr;
    void (*updateEnded)(void* context, const EndedUpdate& ended) = nullptr;
};

// What the boxes' threads share with the main thread: the run's settings and its output and
// record, the writes under way, and the updates let begin against --count.
struct CliRun {
    const CliOptions* options;
    Reporter* reporter;
    History* history;  // null: no record is kept, or it could not be opened
    std::string historyError;  // why it could not be opened: then no box is touched
    std::atomic<int> writing{0};
    // Updates that may still end and count against --count: taken by each job when it is
    // started, given back by one that turns out to be no update of this run (another program
    // holds the box, it was not ours).
    std::atomic<unsigned> reserved{0};
    // Set by the main thread when the run ends: boxes waiting for another program stop waiting.
    std::atomic<bool> ending{false};
    RunObserver observer;
    // Updates ended and proofs told so far: the main thread notices a change by the number.
    std::atomic<unsigned> endings{0};
    // Records completed as updated whose proof is under way: their outcome is still to change.
    std::mutex unsettledLock;
    std::vector<std::int64_t> unsettled;
};

// What a box that came back at a finished box's port told when it was asked.
struct Comeback {
    std::mutex lock;
    std::condition_variable told;
    bool came = false;
    std::uint32_t version = 0;
};

struct BoxJob {
    std::u16string path;
    std::string location;       // its port, when the arrival was seen
    bool bySerialOnly = false;  // --box named neither its port nor its node: only its serial can
    // A box this program finished at this port shortly before: an arrival in application mode
    // here is that box restarting into its new firmware.
    BoxJob* restartOf = nullptr;

    std::atomic<bool> gone{false};   // set by the main thread: the arrival was pulled out
    std::atomic<bool> holdsReservation{true};
    std::atomic<bool> awaitingProof{false};  // finished, watching for the box to come back (--confirm)
    std::atomic<bool> ended{false};
    // Read by the main thread once `ended` is set; `finishedAt` (steady microseconds) and
    // `location` also while the job awaits its proof.
    Outcome outcome = Outcome::Pending;
    std::uint64_t finishedAt = 0;
    enum class Proof { None, Confirmed, Unconfirmed, Failed } proof = Proof::None;
    Comeback comeback;
};

// The thread's body.
void RunBoxJob(CliRun* run, BoxJob* job);
// Hands a finished box's comeback to the job that proves it.
void TellComeback(BoxJob* job, std::uint32_t version);
// A box as the output names it, from what its query found (null: not asked).
struct DeviceRecord;
BoxView ViewOfBox(const std::u16string& path, const std::string& location, const std::string& serial, const DeviceRecord* record);
// Why a box could not be asked, in the catalogue's words.
std::string TakeFailureText(std::int32_t taken);
// The box in `path` answers to `wanted` (its port, serial number, node or path).
bool NamesBox(const std::u16string& path, const std::string& location, const std::string& serial, const std::string& wanted);
