// The record of every update a station made, in SQLite: one row per update, begun before the
// update's first report and completed when it ends, so that an update cut off by a power loss or
// SIGKILL still shows, as "interrupted". Several processes may record into one file at once (WAL,
// a busy timeout, every write in BEGIN IMMEDIATE); within a process the calls may come from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct History;

// What is known of an update when it begins.
struct UpdateBegun {
    std::string box;        // its identity: the USB port, or the node where that cannot be told
    std::string serial;     // empty: none
    std::string model;      // "VELTABOX" or "VELTA-HUB"
    std::string bootloader; // as the dialog shows the versions ("1.2")
    std::string firmwareBefore;
    std::string image;
};

// How an update ended, as the record keeps it.
struct UpdateEnded {
    std::string outcome;        // "updated", "confirmed", "unconfirmed", "failed", "cut_off"
    std::uint32_t messageId;    // the catalogue text that said it; 0 for none
    std::int32_t code;          // the failed step's result; 0 for none
    std::uint32_t systemError;  // the system's error code after it; 0 for none
};

// One record as it is read back.
struct HistoryRecord {
    std::int64_t id;
    std::string begun;  // UTC, "2026-12-11T13:10:26.123Z"
    std::string ended;  // empty while not completed
    std::string station;
    UpdateBegun box;
    UpdateEnded end;    // outcome "interrupted" for a record whose writer is gone without
                        // completing it, "begun" for one whose writer still runs
    double duration;    // seconds from begun to ended; 0 while not completed
};

struct HistoryFilter {
    std::string box;     // its identity or its serial number; empty: any
    std::string serial;  // empty: any
    std::string since;   // UTC, as a record's "begun" is written, or a prefix of it ("2026-12-11"); empty: all
};

// Opens the database at `path` (its folder made where missing), creating or upgrading its table.
// Null with `error` set in the system's and SQLite's words when it cannot be opened or written,
// or when a newer program's table is in it. Open records whose writer is gone (another boot, a
// process that ended; another station, which cannot share the file) are marked interrupted here.
History* OpenHistory(const std::string& path, std::string* error);
void CloseHistory(History* history);
// The record of an update about to begin, committed before this returns: its id, or 0 with
// `error` set (the update must then not begin).
std::int64_t BeginUpdateRecord(History* history, const UpdateBegun& begun, std::string* error);
// Completes it (ended, duration, outcome and codes); a later call for the same record (the proof
// after the finish) replaces the outcome and codes and keeps the time it ended.
bool CompleteUpdateRecord(History* history, std::int64_t id, const UpdateEnded& ended, std::string* error);
// The records that pass the filter, oldest first.
bool ReadHistory(History* history, const HistoryFilter& filter, std::vector<HistoryRecord>* records, std::string* error);

// The outcomes a completed record can have, as a station's counters name them.
constexpr const char* HISTORY_OUTCOMES[] = {"updated", "confirmed", "unconfirmed", "failed", "cut_off", "interrupted"};
constexpr std::size_t HISTORY_OUTCOME_COUNT = sizeof HISTORY_OUTCOMES / sizeof HISTORY_OUTCOMES[0];

// The record in sums, for counters that must survive the program's restarts.
struct HistoryTotals {
    std::uint64_t outcomes[HISTORY_OUTCOME_COUNT];  // by HISTORY_OUTCOMES
    std::vector<std::uint64_t> durationsUpTo;       // completed records lasting at most each bound
    std::uint64_t durations;                        // completed records
    double durationSum;                             // their seconds
    double lastEnded;                               // the latest end, seconds since 1970 UTC; 0 for none
};
// Counts the records by outcome (a record still begun whose writer is gone as interrupted) and
// the durations of the completed ones up to each of `bounds` (ascending). Records in `unsettled`
// (completed once, their outcome still to change: a proof under way) count under no outcome yet,
// so that no count ever goes down.
bool CountHistory(History* history, const std::vector<double>& bounds, const std::vector<std::int64_t>& unsettled,
                  HistoryTotals* totals, std::string* error);

// A record as one JSON line (with "schema":1 and the field names of the record:
// id, begun, ended, station, box, serial, model, bootloader, firmware_before, image, outcome,
// message_id, code, system_error, duration; ended and duration null while not completed), and as
// CSV (RFC 4180, CRLF) under HistoryCsvHeader(). Each ends with its line end; text that is not
// valid UTF-8 has each bad sequence replaced by U+FFFD.
std::string HistoryJsonLine(const HistoryRecord& record);
std::string HistoryCsvHeader();
std::string HistoryCsvLine(const HistoryRecord& record);
