// What the console program tells as the boxes go: on a terminal one live line per box, redrawn
// in place; piped, plain lines (one per box per tenth of the image); with --json, JSON Lines on
// standard output and the people's text on standard error. Safe to call from the boxes' threads.
#pragma once

#include <cstdint>
#include <string>

enum class ReportStyle { Live, Plain, Json };

// One box as the output names it.
struct BoxView {
    std::string identity;  // its USB port; its node where that cannot be told
    std::string node;
    std::string model;     // "VELTABOX" or "VELTA-HUB"
    std::string mode;      // "bootloader", "application", or empty before the box answered
    std::string bootloader;
    std::string firmware;
};

void ReportBegin(ReportStyle style);
// A box found: its line, and the "found" event. Returns the number the other calls take.
int ReportFound(const BoxView& box);
// Another program holds the box; it was not asked anything.
void ReportBusy(int box, const std::string& text);
void ReportStarted(int box);
void ReportProgress(int box, std::uint32_t percent);
void ReportSucceeded(int box, const std::string& text);
// A failure: its text, and the code line's two numbers (code -1: no code line).
void ReportFailed(int box, const std::string& text, std::int32_t code, std::uint32_t lastError);
void ReportSkipped(int box, const std::string& text);
// Said to the people only (standard error with --json): a note that concerns no one box.
void ReportNote(const std::string& text);
// Redraws the live lines (every few hundred milliseconds, so the time left moves on).
void ReportTick();
// The closing line and event; the output is complete after it.
void ReportSummary(const std::string& text, int exitCode, std::uint32_t updated, std::uint32_t failed,
                   std::uint32_t skipped, std::uint32_t busy, std::uint32_t notStarted);
