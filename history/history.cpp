#include "history/history.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "lines/lines.h"
#include "platform/state.h"

namespace {

// What the file says it is, so that `file` and a look with sqlite3 tell it apart from other
// databases ("VELT"), and the version of its table. A file of a newer version is refused: its
// writer may keep things there that this program would lose or misread.
constexpr std::int32_t APPLICATION_ID = 0x56454C54;
constexpr int SCHEMA_VERSION = 1;
// A writer waits this long for another process or thread to finish its commit; each commit is
// one row, so any wait near it means something is wrong with the file or the disk.
constexpr int BUSY_TIMEOUT_MS = 10000;
constexpr int WAL_RETRY_MS = 10;

// UTC with milliseconds, from SQLite's clock, so that every writer of a file writes one format.
constexpr const char* NOW = "strftime('%Y-%m-%dT%H:%M:%fZ','now')";

}  // namespace

struct History {
    sqlite3* db = nullptr;
    std::string path;
    std::string station;
    std::string boot;
    std::uint32_t pid = 0;
    // One statement sequence at a time: the boxes' threads share the connection, and SQLite's
    // error text belongs to the connection until the next call.
    std::mutex lock;
};

namespace {

bool Fail(sqlite3* db, const std::string& what, std::string* error) {
    if (error != nullptr) {
        *error = what + ": " + sqlite3_errmsg(db);
        // The system's own number, where the file or the disk failed (it is kept from the last
        // such failure, so only then does it belong to this one). Not for a file that could not
        // be opened: SQLite tries again to open it for reading, and the number is that try's.
        const int extended = sqlite3_extended_errcode(db);
        const int kind = extended & 0xFF;
        const int system = sqlite3_system_errno(db);
        if (system != 0 && (kind == SQLITE_IOERR || kind == SQLITE_FULL)) *error += " (system error " + std::to_string(system) + ")";
        // A file this user may write, in a folder it may not: WAL keeps two files beside it.
        if (extended == SQLITE_READONLY_DIRECTORY) *error += " (its folder must let this user make the -wal and -shm files beside it)";
    }
    return false;
}

struct Statement {
    sqlite3_stmt* statement = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(statement); }
};

bool Prepare(sqlite3* db, const std::string& sql, Statement* statement, const std::string& what, std::string* error) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement->statement, nullptr) != SQLITE_OK) return Fail(db, what, error);
    return true;
}

bool Exec(sqlite3* db, const char* sql, const std::string& what, std::string* error) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(db, what, error);
    return true;
}

// A pragma's single value as text ("" when it gives none).
bool PragmaText(sqlite3* db, const char* sql, std::string* value, const std::string& what, std::string* error) {
    Statement statement;
    if (!Prepare(db, sql, &statement, what, error)) return false;
    const int step = sqlite3_step(statement.statement);
    if (step != SQLITE_ROW && step != SQLITE_DONE) return Fail(db, what, error);
    const unsigned char* text = step == SQLITE_ROW ? sqlite3_column_text(statement.statement, 0) : nullptr;
    *value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    return true;
}

bool PragmaNumber(sqlite3* db, const char* sql, std::int64_t* value, const std::string& what, std::string* error) {
    std::string text;
    if (!PragmaText(db, sql, &text, what, error)) return false;
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// A write: BEGIN IMMEDIATE takes the file's write lock first, waiting for it within the busy
// timeout, so that no transaction that already read has to give up half-way. The transaction is
// rolled back on every path that does not commit.
struct Write {
    sqlite3* db;
    bool open = false;
    explicit Write(sqlite3* database) : db(database) {}
    Write(const Write&) = delete;
    Write& operator=(const Write&) = delete;
    bool Begin(const std::string& what, std::string* error) {
        open = Exec(db, "BEGIN IMMEDIATE", what, error);
        return open;
    }
    bool Commit(const std::string& what, std::string* error) {
        if (!Exec(db, "COMMIT", what, error)) return false;
        open = false;
        return true;
    }
    ~Write() {
        if (open) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
};

struct Kind {
    std::int64_t version = 0, application = 0, tables = 0;
};

// What the file holds, and whether this program may keep its record there: not in another
// program's database, nor in a table of a newer version.
bool KindKept(sqlite3* db, const std::string& where, Kind* kind, std::string* error) {
    if (!PragmaNumber(db, "PRAGMA user_version", &kind->version, "could not read " + where, error) ||
        !PragmaNumber(db, "PRAGMA application_id", &kind->application, "could not read " + where, error) ||
        !PragmaNumber(db, "SELECT count(*) FROM sqlite_schema", &kind->tables, "could not read " + where, error)) {
        return false;
    }
    const std::int64_t application = kind->application, version = kind->version;
    if (application != 0 && application != APPLICATION_ID) {
        if (error != nullptr) *error = where + " is another program's database (application_id " + std::to_string(application) + ")";
        return false;
    }
    if (version > SCHEMA_VERSION) {
        if (error != nullptr) {
            *error = where + " was written by a newer program (its table's version is " + std::to_string(version) +
                     ", this program knows up to " + std::to_string(SCHEMA_VERSION) + "); it is left as it is";
        }
        return false;
    }
    if (version == 0 && kind->tables != 0) {
        if (error != nullptr) *error = where + " is a database of another kind (it has tables but no record of updates)";
        return false;
    }
    return true;
}

// The same, read from one state of the file: a deferred transaction keeps its first read's
// snapshot (or, in a new file not yet in WAL, its shared lock) to its end, so that a program
// creating the table meanwhile is not seen half-way (its tables without their version).
bool KindKeptAtOnce(sqlite3* db, const std::string& where, Kind* kind, std::string* error) {
    if (!Exec(db, "BEGIN", "could not read " + where, error)) return false;
    const bool kept = KindKept(db, where, kind, error);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);  // it only read
    return kept;
}

// The switch to WAL needs the file to itself. When two programs open a new file at once, each
// may hold the read lock that the other's switch waits for; SQLite then fails one of them at
// once instead of waiting, as waiting could deadlock. So a switch that found the file locked is
// tried again within the busy timeout; once the other's is through, it finds the file in WAL.
bool SwitchToWal(sqlite3* db, const std::string& where, std::string* mode, std::string* error) {
    for (int waited = 0;; waited += WAL_RETRY_MS) {
        if (PragmaText(db, "PRAGMA journal_mode = WAL", mode, "could not set up " + where, error)) return true;
        if ((sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY || waited >= BUSY_TIMEOUT_MS) return false;
        sqlite3_sleep(WAL_RETRY_MS);
    }
}

// Creates the table in a file that has none. user_version is read and written within one
// IMMEDIATE transaction, so two programs that open a new file at once create it once.
bool MakeSchema(History* history, std::string* error) {
    sqlite3* db = history->db;
    const std::string where = "the record of updates " + history->path;
    Write write(db);
    Kind kind;
    if (!write.Begin("could not lock " + where, error) || !KindKept(db, where, &kind, error)) return false;
    if (kind.version == SCHEMA_VERSION) return true;  // rolled back: nothing was written
    // Rows are never deleted, so ids are never used twice without AUTOINCREMENT. The partial
    // index keeps the look for records left open cheap however long the record grows.
    const char* create =
        "CREATE TABLE updates ("
        " id INTEGER PRIMARY KEY,"
        " begun TEXT NOT NULL,"
        " ended TEXT,"
        " station TEXT NOT NULL,"
        " box TEXT NOT NULL,"
        " serial TEXT NOT NULL,"
        " model TEXT NOT NULL,"
        " bootloader TEXT NOT NULL,"
        " firmware_before TEXT NOT NULL,"
        " image TEXT NOT NULL,"
        " outcome TEXT NOT NULL,"
        " message_id INTEGER NOT NULL DEFAULT 0,"
        " code INTEGER NOT NULL DEFAULT 0,"
        " system_error INTEGER NOT NULL DEFAULT 0,"
        " duration REAL,"
        " writer_pid INTEGER NOT NULL,"
        " writer_boot TEXT NOT NULL);"
        "CREATE INDEX updates_open ON updates (id) WHERE outcome = 'begun';"
        "PRAGMA application_id = 1447382100;"
        "PRAGMA user_version = 1;";
    static_assert(APPLICATION_ID == 1447382100 && SCHEMA_VERSION == 1, "the statement above names both");
    if (!Exec(db, create, "could not create the table of " + where, error)) return false;
    return write.Commit("could not create the table of " + where, error);
}

// Whether the writer of an open record may still complete it: only a process of this station
// and this boot that still runs. A file is never shared between stations (WAL needs the
// writers' shared memory), so an open record written elsewhere has no writer left either.
bool WriterRuns(const History* history, const std::string& station, const std::string& boot, std::int64_t pid) {
    return station == history->station && boot == history->boot && pid > 0 && pid <= 0xFFFFFFFF &&
           StateProcessAlive(static_cast<std::uint32_t>(pid));
}

bool MarkInterrupted(History* history, std::string* error) {
    sqlite3* db = history->db;
    const std::string what = "could not mark the interrupted updates in " + history->path;
    Write write(db);
    if (!write.Begin(what, error)) return false;
    Statement open, mark;
    if (!Prepare(db, "SELECT id, station, writer_boot, writer_pid FROM updates WHERE outcome = 'begun'", &open, what, error) ||
        !Prepare(db, "UPDATE updates SET outcome = 'interrupted' WHERE id = ?1", &mark, what, error)) {
        return false;
    }
    int step;
    while ((step = sqlite3_step(open.statement)) == SQLITE_ROW) {
        const char* station = reinterpret_cast<const char*>(sqlite3_column_text(open.statement, 1));
        const char* boot = reinterpret_cast<const char*>(sqlite3_column_text(open.statement, 2));
        if (WriterRuns(history, station != nullptr ? station : "", boot != nullptr ? boot : "",
                       sqlite3_column_int64(open.statement, 3))) {
            continue;
        }
        sqlite3_bind_int64(mark.statement, 1, sqlite3_column_int64(open.statement, 0));
        if (sqlite3_step(mark.statement) != SQLITE_DONE) return Fail(db, what, error);
        sqlite3_reset(mark.statement);
    }
    if (step != SQLITE_DONE) return Fail(db, what, error);
    return write.Commit(what, error);
}

std::string Column(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement, column)) : "";
}



}  // namespace

History* OpenHistory(const std::string& path, std::string* error) {
    if (!StateMakeFolderFor(path, error)) return nullptr;
    auto* history = new History;
    history->path = path;
    history->station = StateStationName();
    history->boot = StateBootId();
    history->pid = StateProcessId();
    const std::string where = "the record of updates " + path;
    std::string mode;
    bool ok = sqlite3_open_v2(path.c_str(), &history->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
    if (!ok) {
        if (history->db != nullptr) {
            Fail(history->db, "could not open " + where, error);
        } else if (error != nullptr) {
            *error = "could not open " + where + ": out of memory";
        }
    } else if (sqlite3_db_readonly(history->db, "main") == 1) {
        // SQLite falls back to reading a file it may not write; a record it cannot add to is
        // no record.
        ok = false;
        if (error != nullptr) *error = where + " may not be written by this user";
    } else {
        // Per connection, as SQLite keeps them: wait for the other writers, and sync the WAL at
        // every commit, so that a record committed before an update began survives a power
        // loss during it. WAL itself is kept in the file: set when it is not (at its creation),
        // and only in a file that is, or is to become, a record of updates.
        Kind kind;
        sqlite3_busy_timeout(history->db, BUSY_TIMEOUT_MS);
        ok = Exec(history->db, "PRAGMA synchronous = FULL", "could not set up " + where, error) &&
             KindKeptAtOnce(history->db, where, &kind, error) &&
             PragmaText(history->db, "PRAGMA journal_mode", &mode, "could not read " + where, error);
        if (ok && mode != "wal") {
            ok = SwitchToWal(history->db, where, &mode, error);
            if (ok && mode != "wal") {
                ok = false;
                if (error != nullptr) *error = "could not set up " + where + ": it cannot be kept in WAL mode (" + mode + ")";
            }
        }
        ok = ok && MakeSchema(history, error) && MarkInterrupted(history, error);
    }
    if (!ok) {
        CloseHistory(history);
        return nullptr;
    }
    return history;
}

void CloseHistory(History* history) {
    if (history == nullptr) return;
    sqlite3_close(history->db);  // every statement is finalized where it was made
    delete history;
}

std::int64_t BeginUpdateRecord(History* history, const UpdateBegun& begun, std::string* error) {
    const std::lock_guard<std::mutex> hold(history->lock);
    sqlite3* db = history->db;
    const std::string what = "could not record the update of " + begun.box + " in " + history->path;
    Write write(db);
    Statement insert;
    if (!write.Begin(what, error) ||
        !Prepare(db,
                 std::string("INSERT INTO updates (begun, station, box, serial, model, bootloader, firmware_before, image, "
                             "outcome, writer_pid, writer_boot) VALUES (") +
                     NOW + ", ?1, ?2, ?3, ?4, ?5, ?6, ?7, 'begun', ?8, ?9)",
                 &insert, what, error)) {
        return 0;
    }
    const std::string* texts[] = {&history->station, &begun.box,           &begun.serial, &begun.model,
                                  &begun.bootloader, &begun.firmwareBefore, &begun.image};
    int index = 1;
    for (const std::string* text : texts) sqlite3_bind_text(insert.statement, index++, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert.statement, 8, history->pid);
    sqlite3_bind_text(insert.statement, 9, history->boot.data(), static_cast<int>(history->boot.size()), SQLITE_STATIC);
    if (sqlite3_step(insert.statement) != SQLITE_DONE) {
        Fail(db, what, error);
        return 0;
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db);
    return write.Commit(what, error) ? id : 0;
}

bool CompleteUpdateRecord(History* history, std::int64_t id, const UpdateEnded& ended, std::string* error) {
    const std::lock_guard<std::mutex> hold(history->lock);
    sqlite3* db = history->db;
    const std::string what = "could not complete record " + std::to_string(id) + " in " + history->path;
    Write write(db);
    Statement update;
    // The first completion sets the end; the proof after the finish changes only the outcome.
    if (!write.Begin(what, error) ||
        !Prepare(db,
                 std::string("UPDATE updates SET outcome = ?1, message_id = ?2, code = ?3, system_error = ?4, "
                             "ended = coalesce(ended, ") +
                     NOW + "), duration = coalesce(duration, round((julianday(" + NOW +
                     ") - julianday(begun)) * 86400.0, 3)) WHERE id = ?5",
                 &update, what, error)) {
        return false;
    }
    sqlite3_bind_text(update.statement, 1, ended.outcome.data(), static_cast<int>(ended.outcome.size()), SQLITE_STATIC);
    sqlite3_bind_int64(update.statement, 2, ended.messageId);
    sqlite3_bind_int64(update.statement, 3, ended.code);
    sqlite3_bind_int64(update.statement, 4, ended.systemError);
    sqlite3_bind_int64(update.statement, 5, id);
    if (sqlite3_step(update.statement) != SQLITE_DONE) return Fail(db, what, error);
    if (sqlite3_changes(db) != 1) {
        if (error != nullptr) *error = what + ": there is no such record";
        return false;
    }
    return write.Commit(what, error);
}

bool ReadHistory(History* history, const HistoryFilter& filter, std::vector<HistoryRecord>* records, std::string* error) {
    const std::lock_guard<std::mutex> hold(history->lock);
    sqlite3* db = history->db;
    const std::string what = "could not read " + history->path;
    // One statement, one read transaction: short, so that a long listing does not hold the WAL
    // from being checkpointed while the boxes' records go on being written.
    Statement select;
    if (!Prepare(db,
                 "SELECT id, begun, ended, station, box, serial, model, bootloader, firmware_before, image, outcome, "
                 "message_id, code, system_error, duration, writer_boot, writer_pid FROM updates "
                 "WHERE (?1 = '' OR box = ?1 OR serial = ?1) AND (?2 = '' OR serial = ?2) AND begun >= ?3 ORDER BY id",
                 &select, what, error)) {
        return false;
    }
    sqlite3_bind_text(select.statement, 1, filter.box.data(), static_cast<int>(filter.box.size()), SQLITE_STATIC);
    sqlite3_bind_text(select.statement, 2, filter.serial.data(), static_cast<int>(filter.serial.size()), SQLITE_STATIC);
    sqlite3_bind_text(select.statement, 3, filter.since.data(), static_cast<int>(filter.since.size()), SQLITE_STATIC);
    std::vector<HistoryRecord> read;
    int step;
    while ((step = sqlite3_step(select.statement)) == SQLITE_ROW) {
        sqlite3_stmt* row = select.statement;
        HistoryRecord record;
        record.id = sqlite3_column_int64(row, 0);
        record.begun = Column(row, 1);
        record.ended = Column(row, 2);
        record.station = Column(row, 3);
        record.box = {Column(row, 4), Column(row, 5), Column(row, 6), Column(row, 7), Column(row, 8), Column(row, 9)};
        record.end.outcome = Column(row, 10);
        record.end.messageId = static_cast<std::uint32_t>(sqlite3_column_int64(row, 11));
        record.end.code = static_cast<std::int32_t>(sqlite3_column_int64(row, 12));
        record.end.systemError = static_cast<std::uint32_t>(sqlite3_column_int64(row, 13));
        record.duration = sqlite3_column_double(row, 14);
        if (record.end.outcome == "begun" && !WriterRuns(history, record.station, Column(row, 15), sqlite3_column_int64(row, 16))) {
            record.end.outcome = "interrupted";
        }
        read.push_back(std::move(record));
    }
    if (step != SQLITE_DONE) return Fail(db, what, error);
    records->swap(read);
    return true;
}

bool CountHistory(History* history, const std::vector<double>& bounds, const std::vector<std::int64_t>& unsettled,
                  HistoryTotals* totals, std::string* error) {
    const std::lock_guard<std::mutex> hold(history->lock);
    sqlite3* db = history->db;
    const std::string what = "could not count the records in " + history->path;
    std::string excluded;
    for (const std::int64_t id : unsettled) excluded += (excluded.empty() ? "" : ",") + std::to_string(id);
    std::string sql = "SELECT outcome, station, writer_boot, writer_pid, count(*) FROM updates WHERE id NOT IN (" + excluded +
                      ") GROUP BY outcome, station, writer_boot, writer_pid";
    std::string sums = "SELECT count(duration), total(duration), (julianday(max(ended)) - 2440587.5) * 86400.0";
    for (std::size_t i = 0; i < bounds.size(); ++i) sums += ", total(duration <= ?" + std::to_string(i + 1) + ")";
    sums += " FROM updates WHERE duration IS NOT NULL";
    Statement byOutcome, durations;
    if (!Prepare(db, sql, &byOutcome, what, error) || !Prepare(db, sums, &durations, what, error)) return false;
    HistoryTotals counted = {};
    int step;
    while ((step = sqlite3_step(byOutcome.statement)) == SQLITE_ROW) {
        std::string outcome = Column(byOutcome.statement, 0);
        if (outcome == "begun" && !WriterRuns(history, Column(byOutcome.statement, 1), Column(byOutcome.statement, 2),
                                              sqlite3_column_int64(byOutcome.statement, 3))) {
            outcome = "interrupted";
        }
        for (std::size_t i = 0; i < HISTORY_OUTCOME_COUNT; ++i)
            if (outcome == HISTORY_OUTCOMES[i]) counted.outcomes[i] += static_cast<std::uint64_t>(sqlite3_column_int64(byOutcome.statement, 4));
    }
    if (step != SQLITE_DONE) return Fail(db, what, error);
    for (std::size_t i = 0; i < bounds.size(); ++i) sqlite3_bind_double(durations.statement, static_cast<int>(i + 1), bounds[i]);
    if (sqlite3_step(durations.statement) != SQLITE_ROW) return Fail(db, what, error);
    counted.durations = static_cast<std::uint64_t>(sqlite3_column_int64(durations.statement, 0));
    counted.durationSum = sqlite3_column_double(durations.statement, 1);
    counted.lastEnded = sqlite3_column_double(durations.statement, 2);  // NULL, read as 0, for none
    for (std::size_t i = 0; i < bounds.size(); ++i)
        counted.durationsUpTo.push_back(static_cast<std::uint64_t>(sqlite3_column_double(durations.statement, static_cast<int>(i + 3))));
    *totals = counted;
    return true;
}

std::string HistoryJsonLine(const HistoryRecord& record) {
    const bool ended = !record.ended.empty();
    return "{\"schema\":1,\"id\":" + std::to_string(record.id) + ",\"begun\":" + JsonString(record.begun) +
           ",\"ended\":" + (ended ? JsonString(record.ended) : "null") + ",\"station\":" + JsonString(record.station) +
           ",\"box\":" + JsonString(record.box.box) + ",\"serial\":" + JsonString(record.box.serial) + ",\"model\":" + JsonString(record.box.model) +
           ",\"bootloader\":" + JsonString(record.box.bootloader) + ",\"firmware_before\":" + JsonString(record.box.firmwareBefore) +
           ",\"image\":" + JsonString(record.box.image) + ",\"outcome\":" + JsonString(record.end.outcome) +
           ",\"message_id\":" + std::to_string(record.end.messageId) + ",\"code\":" + std::to_string(record.end.code) +
           ",\"system_error\":" + std::to_string(record.end.systemError) +
           ",\"duration\":" + (ended ? ThreeDecimals(record.duration) : "null") + "}\n";
}

std::string HistoryCsvHeader() {
    return "id,begun,ended,station,box,serial,model,bootloader,firmware_before,image,outcome,message_id,code,system_error,duration\r\n";
}

std::string HistoryCsvLine(const HistoryRecord& record) {
    return std::to_string(record.id) + "," + CsvField(record.begun) + "," + CsvField(record.ended) + "," + CsvField(record.station) + "," +
           CsvField(record.box.box) + "," + CsvField(record.box.serial) + "," + CsvField(record.box.model) + "," + CsvField(record.box.bootloader) +
           "," + CsvField(record.box.firmwareBefore) + "," + CsvField(record.box.image) + "," + CsvField(record.end.outcome) + "," +
           std::to_string(record.end.messageId) + "," + std::to_string(record.end.code) + "," +
           std::to_string(record.end.systemError) + "," + (record.ended.empty() ? "" : ThreeDecimals(record.duration)) + "\r\n";
}
