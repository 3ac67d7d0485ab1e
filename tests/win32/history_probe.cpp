// The record of updates on Windows, with SQLite compiled in and the Win32 state backend: run
// under Wine by scripts/test.sh, twice on one file.
//   history_probe write FILE   records one update completed and one left open, reads both back
//   history_probe check FILE   a later process: the open one now reads interrupted, and the file
//                              is whole; a file under FILE.plain (a plain file the caller made) is
//                              refused with a text
// Prints each record as a JSON line and PASS or FAIL lines; the exit status is the number of
// failures.
#include <cstdio>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "history/history.h"

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

std::string Pragma(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    std::string value;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

std::vector<HistoryRecord> ReadAll(History* history) {
    std::vector<HistoryRecord> records;
    std::string error;
    Check(ReadHistory(history, {}, &records, &error), "read back " + error);
    for (const HistoryRecord& record : records) std::fputs(HistoryJsonLine(record).c_str(), stdout);
    return records;
}

}  // namespace

// The history takes UTF-8 paths, as SQLite does.
std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        const unsigned c = static_cast<unsigned>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {  // the test's paths hold no surrogate pairs
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int wmain(int argc, wchar_t** argv) {
    const std::string mode = argc == 3 ? Utf8(argv[1]) : "";
    if (mode != "write" && mode != "check") {
        std::fputs("usage: history_probe write|check FILE\n", stderr);
        return 100;
    }
    const std::string path = Utf8(argv[2]);
    std::string error;
    History* history = OpenHistory(path, &error);
    Check(history != nullptr, "open " + path + " " + error);
    if (history == nullptr) return g_failures;
    if (mode == "write") {
        const std::int64_t done = BeginUpdateRecord(history, {"PCIROOT(0)#USB(2)", "SN1", "VELTABOX", "1.2", "1.10", "1.11"}, &error);
        Check(done > 0 && CompleteUpdateRecord(history, done, {"updated", 40032, 0, 0}, &error), "one update recorded " + error);
        Check(BeginUpdateRecord(history, {"PCIROOT(0)#USB(3)", "", "VELTA-HUB", "1.2", "1.10", "1.11"}, &error) > 0,
              "one update begun " + error);
        const std::vector<HistoryRecord> records = ReadAll(history);
        Check(records.size() == 2 && records[0].end.outcome == "updated" && records[0].ended.size() == 24 &&
                  records[1].end.outcome == "begun",
              "the completed one reads updated, the open one begun while its writer runs");
    } else {
        const std::vector<HistoryRecord> records = ReadAll(history);
        Check(records.size() == 2 && records[1].end.outcome == "interrupted", "the open one reads interrupted once its writer is gone");
        Check(Pragma(path, "PRAGMA integrity_check") == "ok" && Pragma(path, "PRAGMA journal_mode") == "wal",
              "the file is whole and in WAL mode");
        error.clear();
        History* refused = OpenHistory(path + ".plain\\history.sqlite3", &error);
        Check(refused == nullptr && !error.empty(), "a file under a plain file is refused: " + error);
        CloseHistory(refused);
    }
    CloseHistory(history);
    return g_failures;
}
