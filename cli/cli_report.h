// What the console program tells as the boxes go: on a terminal one live line per box, redrawn
// in place; piped, plain lines (one per box per tenth of the image); with --json, JSON Lines on
// standard output and the people's text on standard error.
//
// The boxes' threads never write to a stream: each call hands its event to the one writer
// thread and returns at once, so a reader that stalls (Ctrl+S in a terminal, a full pipe, a slow
// log collector) delays what is printed, never a report to a box or its pause. When the writer
// falls behind, a box's progress events are folded into its latest one; every other event is
// written, in order.
#pragma once

#include <cstdint>
#include <string>

enum class ReportStyle { Live, Plain, Json };

// One box as the output names it.
struct BoxView {
    std::string identity;  // its USB port; its node where that cannot be told
    std::string serial;    // its USB serial number; empty: none
    std::string node;
    std::string model;     // "VELTABOX" or "VELTA-HUB"
    std::string mode;      // "bootloader", "application", or empty before the box answered
    std::string bootloader;
    std::string firmware;
};

// "VELTABOX 1-3 (VB2041)": a box as the lines for people name it.
std::string BoxName(const BoxView& box);

// The closing line and event.
struct ReportTotals {
    std::string text;
    int exitCode;
    std::uint32_t updated, failed, skipped, busy, notStarted;
    bool proving;  // --confirm: the proof's counts below are told too
    std::uint32_t confirmed, unconfirmed;
};

struct Reporter;

// Starts the writer; with --json the first event names the schema and the image's version.
Reporter* ReportBegin(ReportStyle style, const std::string& imageVersion);
// Everything handed over is written, then the writer ends and the reporter is freed.
void ReportEnd(Reporter* reporter);

// A box found: its line, and the "found" event. Returns the number the other calls take.
int ReportFound(Reporter* reporter, const BoxView& box);
// The box's line again, now that a box held by another program was let go and answered.
void ReportAnswered(Reporter* reporter, int box, const BoxView& view);
// Another program holds the box; it was not asked anything.
void ReportBusy(Reporter* reporter, int box, const std::string& text);
void ReportStarted(Reporter* reporter, int box);
void ReportProgress(Reporter* reporter, int box, std::uint32_t percent);
void ReportSucceeded(Reporter* reporter, int box, const std::string& text);
// A failure: its text, and the code line's two numbers (code -1: no code line).
void ReportFailed(Reporter* reporter, int box, const std::string& text, std::int32_t code, std::uint32_t lastError);
void ReportSkipped(Reporter* reporter, int box, const std::string& text);
// The proof after the finish: the box came back running the image, or did not come back in time.
void ReportConfirmed(Reporter* reporter, int box, const std::string& text);
void ReportUnconfirmed(Reporter* reporter, int box, const std::string& text);
// Said to the people only (standard error with --json): a note that concerns no one box, or one
// box's note (box >= 0) that is no result.
void ReportNote(Reporter* reporter, const std::string& text);
// Redraws the live lines (every few hundred milliseconds, so the time left moves on).
void ReportTick(Reporter* reporter);
// The closing line and event; nothing is told after it.
void ReportSummary(Reporter* reporter, const ReportTotals& totals);
