// What a console program run by a service manager tells it, and the structured log a service's
// output may go to: systemd's notification protocol and journal on Linux. Where no service
// manager or journal listens (a terminal, Windows), every call is false and nothing is sent, so
// that the caller goes on as it would without them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// READY=1 with a STATUS= line: the program has done what it must before it serves.
bool ServiceReady(const std::string& status);
// STATUS=: what the program is doing, in a line for people (systemctl status shows it).
bool ServiceStatus(const std::string& status);
// STOPPING=1 with a STATUS= line: told to stop, the program finishes what it must first.
bool ServiceStopping(const std::string& status);
// WATCHDOG=1: the program's main loop is alive.
bool ServiceAlive();
// The interval within which the service manager expects WATCHDOG=1 from this process, in
// microseconds; 0 when it expects none.
std::uint64_t ServiceWatchdogMicroseconds();

// One field of a structured journal entry: NAME (upper-case letters, digits, underscores) and
// its value.
struct JournalField {
    std::string name;
    std::string value;
};
// True when standard output or standard error is connected to the journal (a service's
// output, as the service manager tells in JOURNAL_STREAM).
bool JournalConnected();
// Sends one entry; false when it could not be sent. Never blocks on a reader of the journal.
bool JournalSend(const std::vector<JournalField>& fields);
