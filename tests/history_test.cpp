// The record of updates against real processes and files: several writers at once, writers
// killed mid-record, files that cannot be written, and the texts it is exported as.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "history/history.h"

namespace {

struct Folder {
    std::string path;
    Folder() {
        std::string name = (std::filesystem::temp_directory_path() / "veltabox-history-XXXXXX").string();
        path = mkdtemp(name.data()) != nullptr ? name : "";
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path, ignored);
    }
};

// A value of the file as another program (sqlite3, a reviewer) reads it.
std::string Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value = "(cannot open)";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt* statement = nullptr;
        value = "(" + std::string(sqlite3_errmsg(db)) + ")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            const int step = sqlite3_step(statement);
            value = step == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))
                    : step == SQLITE_DONE ? "" : "(" + std::string(sqlite3_errmsg(db)) + ")";
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

bool IsUtcWithMilliseconds(const std::string& time) {
    return std::regex_match(time, std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}Z"));
}

UpdateBegun Box(const std::string& box) { return {box, "SN-" + box, "VELTABOX", "1.2", "1.10", "1.11"}; }

std::vector<HistoryRecord> Read(History* history, const HistoryFilter& filter = {}) {
    std::vector<HistoryRecord> records;
    std::string error;
    EXPECT_TRUE(ReadHistory(history, filter, &records, &error)) << error;
    return records;
}

int Reaped(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// A child process that a failed assertion must not leave running.
struct Child {
    pid_t pid = -1;
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    int End() {
        const int status = Reaped(pid);
        pid = -1;
        return status;
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            End();
        }
    }
};

}  // namespace

// Two processes, each with two box threads on one History, start on one new file at the same
// moment: it is created once, and every record of each is there, completed, in order and whole.
TEST(History, WritersInSeveralProcessesAndThreadsLoseNothing) {
    Folder folder;
    const std::string path = folder.path + "/station/history.sqlite3";  // the folder is made
    constexpr int PER_THREAD = 60;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    Child children[2];
    for (int process = 0; process < 2; ++process) {
        children[process].pid = fork();
        ASSERT_GE(children[process].pid, 0);
        if (children[process].pid != 0) continue;
        close(gate[1]);
        char byte;
        if (read(gate[0], &byte, 1) != 0) _exit(3);  // both go when the parent closes the gate
        std::string error;
        History* history = OpenHistory(path, &error);
        if (history == nullptr) {
            std::fprintf(stderr, "a writer could not open the new record: %s\n", error.c_str());
            _exit(1);
        }
        bool ok[2] = {true, true};
        auto box = [&](int thread) {
            for (int i = 0; i < PER_THREAD && ok[thread]; ++i) {
                std::string failure;
                const std::string name = "p" + std::to_string(process) + "-t" + std::to_string(thread) + "-" + std::to_string(i);
                const std::int64_t id = BeginUpdateRecord(history, Box(name), &failure);
                ok[thread] = id > 0 && CompleteUpdateRecord(history, id, {"updated", 40032, 0, 0}, &failure);
            }
        };
        std::thread second(box, 1);
        box(0);
        second.join();
        CloseHistory(history);
        _exit(ok[0] && ok[1] ? 0 : 2);
    }
    close(gate[0]);
    close(gate[1]);
    for (Child& child : children) {
        const int status = child.End();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    std::string error;
    History* history = OpenHistory(path, &error);
    ASSERT_NE(history, nullptr) << error;
    const std::vector<HistoryRecord> records = Read(history);
    std::set<std::string> boxes;
    std::int64_t last = 0;
    for (const HistoryRecord& record : records) {
        boxes.insert(record.box.box);
        EXPECT_GT(record.id, last);
        last = record.id;
        EXPECT_EQ(record.box.serial, "SN-" + record.box.box);
        EXPECT_EQ(record.end.outcome, "updated");
        EXPECT_EQ(record.end.messageId, 40032u);
        EXPECT_TRUE(IsUtcWithMilliseconds(record.begun)) << record.begun;
        EXPECT_TRUE(IsUtcWithMilliseconds(record.ended)) << record.ended;
        EXPECT_LE(record.begun, record.ended);
        EXPECT_GE(record.duration, 0.0);
    }
    EXPECT_EQ(records.size(), 4u * PER_THREAD);
    EXPECT_EQ(boxes.size(), 4u * PER_THREAD);
    ASSERT_FALSE(records.empty());

    HistoryFilter one;
    one.box = "p1-t0-7";
    ASSERT_EQ(Read(history, one).size(), 1u);
    EXPECT_EQ(Read(history, one)[0].box.serial, "SN-p1-t0-7");
    HistoryFilter bySerial;
    bySerial.serial = "SN-p0-t1-59";
    EXPECT_EQ(Read(history, bySerial).size(), 1u);
    HistoryFilter sinceTheDay, later;
    sinceTheDay.since = records.front().begun.substr(0, 10);
    later.since = "2999-01-01";
    EXPECT_EQ(Read(history, sinceTheDay).size(), records.size());
    EXPECT_TRUE(Read(history, later).empty());
    CloseHistory(history);

    EXPECT_EQ(Query(path, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Query(path, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Query(path, "PRAGMA application_id"), "1447382100");
    EXPECT_EQ(Query(path, "PRAGMA user_version"), "1");
    EXPECT_EQ(Query(path, "SELECT count(DISTINCT writer_pid) FROM updates"), "2");
}

// A writer killed at any moment after its record was committed: the file stays whole, and the
// record reads "begun" while the writer runs and "interrupted" once it is gone; the next open
// marks it so in the file.
TEST(History, AKilledWriterLeavesItsRecordInterrupted) {
    Folder folder;
    const std::string path = folder.path + "/history.sqlite3";
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 20; ++round) {
        int began[2], go[2];
        ASSERT_EQ(pipe(began), 0);
        ASSERT_EQ(pipe(go), 0);
        const std::string mine = "killed-" + std::to_string(round);
        Child child;
        child.pid = fork();
        ASSERT_GE(child.pid, 0);
        if (child.pid == 0) {
            close(began[0]);
            close(go[1]);
            std::string error;
            History* history = OpenHistory(path, &error);
            if (history == nullptr || BeginUpdateRecord(history, Box(mine), &error) == 0) _exit(1);
            char byte;
            if (write(began[1], "b", 1) != 1 || read(go[0], &byte, 1) != 1) _exit(1);
            // Other boxes go on being written back to back, so that the kill comes amid commits.
            // (Nobody else writes meanwhile: a writer in a loop this tight would keep the lock
            // from the others beyond their busy timeout.)
            for (int i = 0;; ++i) {
                const std::int64_t id = BeginUpdateRecord(history, Box("busy-" + std::to_string(round)), &error);
                if (id == 0 || (i % 2 == 0 && !CompleteUpdateRecord(history, id, {"failed", 40040, -2, 19}, &error))) _exit(1);
            }
        }
        close(began[1]);
        close(go[0]);
        char byte = 0;
        ASSERT_EQ(read(began[0], &byte, 1), 1) << "the writer failed before its record was committed";
        close(began[0]);

        std::string error;
        History* history = OpenHistory(path, &error);
        ASSERT_NE(history, nullptr) << error;
        HistoryFilter filter;
        filter.box = mine;
        std::vector<HistoryRecord> records = Read(history, filter);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].end.outcome, "begun");
        EXPECT_EQ(records[0].ended, "");

        ASSERT_EQ(write(go[1], "g", 1), 1);
        close(go[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(random)));
        kill(child.pid, SIGKILL);
        const int status = child.End();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended by itself: " << status;

        // Read through a connection opened while the writer ran: no mark, the reading alone.
        records = Read(history, filter);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].end.outcome, "interrupted");
        filter.box = "busy-" + std::to_string(round);
        for (const HistoryRecord& record : Read(history, filter)) {
            EXPECT_EQ(record.end.outcome, record.ended.empty() ? "interrupted" : "failed") << record.id;
        }
        CloseHistory(history);
        EXPECT_EQ(Query(path, "PRAGMA integrity_check"), "ok") << "round " << round;
    }
    std::string error;
    History* history = OpenHistory(path, &error);
    ASSERT_NE(history, nullptr) << error;
    CloseHistory(history);
    EXPECT_EQ(Query(path, "SELECT count(*) FROM updates WHERE outcome = 'begun'"), "0");
    EXPECT_EQ(Query(path, "SELECT count(*) FROM updates WHERE box LIKE 'killed-%' AND outcome = 'interrupted'"), "20");
}

// A record that cannot be written stops the update before it begins, with a text that says
// where and why; nothing crashes.
TEST(History, AFileThatCannotBeWrittenIsRefusedWithAText) {
    Folder folder;
    std::string error;
    std::ofstream(folder.path + "/plain").put('x');
    EXPECT_EQ(OpenHistory(folder.path + "/plain/history.sqlite3", &error), nullptr);
    EXPECT_NE(error.find(folder.path + "/plain: Not a directory"), std::string::npos) << error;

    error.clear();
    ASSERT_EQ(mkdir((folder.path + "/folder.sqlite3").c_str(), 0700), 0);
    EXPECT_EQ(OpenHistory(folder.path + "/folder.sqlite3", &error), nullptr);
    EXPECT_NE(error.find("could not open the record of updates " + folder.path + "/folder.sqlite3: "), std::string::npos) << error;

    // A folder this user may not write to, with a record in it and without: another user's
    // station folder. Root may write anywhere, so the look is made as nobody.
    const std::string locked = folder.path + "/locked";
    error.clear();
    History* made = OpenHistory(locked + "/old.sqlite3", &error);
    ASSERT_NE(made, nullptr) << error;
    CloseHistory(made);
    ASSERT_EQ(chmod((locked + "/old.sqlite3").c_str(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(folder.path.c_str(), 0755), 0);
    int texts[2];
    ASSERT_EQ(pipe(texts), 0);
    Child child;
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        close(texts[0]);
        if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(1);
        std::string said;
        for (const char* name : {"/new.sqlite3", "/old.sqlite3"}) {
            std::string failure;
            History* history = OpenHistory(locked + name, &failure);
            said += (history == nullptr ? "refused: " : "opened: ") + failure + "\n";
            CloseHistory(history);
        }
        _exit(write(texts[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    close(texts[1]);
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = read(texts[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(got));
    close(texts[0]);
    EXPECT_EQ(child.End(), 0);
    EXPECT_TRUE(std::regex_match(said, std::regex("refused: could not open the record of updates .*/locked/new.sqlite3: .+\n"
                                                  "refused: could not set up the record of updates .*/locked/old.sqlite3: .+ "
                                                  "\\(its folder must let this user make the -wal and -shm files beside it\\)\n")))
        << said;

    // A file whose writes fail after it opened (here a trigger refuses every new row).
    const std::string path = folder.path + "/history.sqlite3";
    History* history = OpenHistory(path, &error);
    ASSERT_NE(history, nullptr) << error;
    const std::int64_t id = BeginUpdateRecord(history, Box("1-2"), &error);
    ASSERT_GT(id, 0) << error;
    EXPECT_EQ(Query(path, "CREATE TRIGGER refuse BEFORE INSERT ON updates BEGIN SELECT RAISE(ABORT, 'disk says no'); END"), "");
    EXPECT_EQ(BeginUpdateRecord(history, Box("1-3"), &error), 0);
    EXPECT_EQ(error, "could not record the update of 1-3 in " + path + ": disk says no");
    EXPECT_FALSE(CompleteUpdateRecord(history, id + 100, {"updated", 40032, 0, 0}, &error));
    EXPECT_EQ(error, "could not complete record " + std::to_string(id + 100) + " in " + path + ": there is no such record");
    EXPECT_TRUE(CompleteUpdateRecord(history, id, {"updated", 40032, 0, 0}, &error)) << error;
    CloseHistory(history);

    // Another program's database, named by mistake, is refused and left as it was.
    const std::string other = folder.path + "/other.db";
    EXPECT_EQ(Query(other, "CREATE TABLE boxes (serial TEXT)"), "");
    EXPECT_EQ(OpenHistory(other, &error), nullptr);
    EXPECT_EQ(error, "the record of updates " + other + " is a database of another kind (it has tables but no record of updates)");
    EXPECT_EQ(Query(other, "PRAGMA journal_mode"), "delete");

    // A file a newer program wrote is left alone.
    EXPECT_EQ(Query(path, "PRAGMA user_version = 2"), "");
    EXPECT_EQ(OpenHistory(path, &error), nullptr);
    EXPECT_NE(error.find(path + " was written by a newer program (its table's version is 2"), std::string::npos) << error;
    EXPECT_EQ(Query(path, "SELECT count(*) FROM updates"), "1");
}

// Whatever a box or the station's name holds, each JSON line is valid JSON in valid UTF-8, and
// each CSV field reads back as one field.
TEST(History, JsonAndCsvCarryAnyTextIntact) {
    Folder folder;
    const std::string path = folder.path + "/history.sqlite3";
    std::string error;
    History* history = OpenHistory(path, &error);
    ASSERT_NE(history, nullptr) << error;
    // 0xFF never occurs in UTF-8, C0 80 is an overlong NUL, E2 82 is a sequence cut short.
    UpdateBegun begun = {"1-2.3", "SN\xFF\xC0\x80-\xE2\x82", "VELTA,\"HUB\"", "1.2", "1.10", "1.11 \xC3\xBC"};
    const std::int64_t id = BeginUpdateRecord(history, begun, &error);
    ASSERT_GT(id, 0) << error;
    ASSERT_TRUE(CompleteUpdateRecord(history, id, {"unconfirmed", 40050, -2, 19}, &error)) << error;
    std::vector<HistoryRecord> records = Read(history);
    ASSERT_EQ(records.size(), 1u);
    const std::string ended = records[0].ended;
    ASSERT_TRUE(CompleteUpdateRecord(history, id, {"confirmed", 40032, 0, 0}, &error)) << error;
    const std::int64_t open = BeginUpdateRecord(history, Box("1-4"), &error);
    records = Read(history);
    CloseHistory(history);
    ASSERT_EQ(records.size(), 2u);
    HistoryRecord record = records[0];
    EXPECT_EQ(record.box.serial, begun.serial);  // kept as the box gave it
    EXPECT_EQ(record.ended, ended);              // the proof changes the outcome, not the end
    EXPECT_EQ(record.end.outcome, "confirmed");

    record.station = "line \"7\"\n";
    record.duration = 31.2346;
    const std::string times = "\"begun\":\"" + record.begun + "\",\"ended\":\"" + record.ended + "\",";
    EXPECT_EQ(HistoryJsonLine(record),
              "{\"schema\":1,\"id\":" + std::to_string(id) + "," + times +
                  "\"station\":\"line \\\"7\\\"\\n\",\"box\":\"1-2.3\",\"serial\":\"SN\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD-\xEF\xBF\xBD\","
                  "\"model\":\"VELTA,\\\"HUB\\\"\",\"bootloader\":\"1.2\",\"firmware_before\":\"1.10\",\"image\":\"1.11 \xC3\xBC\","
                  "\"outcome\":\"confirmed\",\"message_id\":40032,\"code\":0,\"system_error\":0,\"duration\":31.235}\n");
    EXPECT_EQ(HistoryCsvLine(record), std::to_string(id) + "," + record.begun + "," + record.ended +
                                          ",\"line \"\"7\"\"\n\",1-2.3,SN\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD-\xEF\xBF\xBD,"
                                          "\"VELTA,\"\"HUB\"\"\",1.2,1.10,1.11 \xC3\xBC,confirmed,40032,0,0,31.235\r\n");
    EXPECT_EQ(HistoryCsvHeader(),
              "id,begun,ended,station,box,serial,model,bootloader,firmware_before,image,outcome,message_id,code,system_error,"
              "duration\r\n");

    // Still being written: no end, no duration.
    const HistoryRecord& running = records[1];
    EXPECT_EQ(running.id, open);
    EXPECT_EQ(running.end.outcome, "begun");
    const std::string json = HistoryJsonLine(running);
    EXPECT_NE(json.find("\"ended\":null,"), std::string::npos) << json;
    EXPECT_NE(json.find(",\"outcome\":\"begun\",\"message_id\":0,\"code\":0,\"system_error\":0,\"duration\":null}\n"),
              std::string::npos)
        << json;
    const std::string csv = HistoryCsvLine(running);
    EXPECT_EQ(csv.substr(csv.size() - 15), ",begun,0,0,0,\r\n");
}
