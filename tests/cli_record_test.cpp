// The console program's record as a production line relies on it: an update whose process is
// killed at any report still shows, as interrupted, in a database that stays whole; and a box
// whose record cannot be begun is sent nothing beyond its query. The program runs in a child
// process on a simulated box on the virtual clock, so that a whole update takes milliseconds.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "history/history.h"
#include "platform/sim/sim_box.h"

namespace {

// The program run in a child on one simulated box; its exit status, or 128 + the signal that
// ended it; 100 when the box was sent more than its query (two reports) and the update failed.
int RunChild(const std::string& history, std::uint32_t powerLossAfter) {
    const pid_t child = fork();
    if (child == 0) {
        if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "w", stderr) == nullptr) _exit(99);
        sim::Reset();
        sim::Box box = sim::MakeBox(1, true);
        box.serial = "REC-1";
        box.faults.powerLossAfterReport = powerLossAfter;
        sim::AddBox(box, u"simulated:box-1");
        const char* const argv[] = {"veltabox-cli", "update", "--history", history.c_str()};
        const int status = RunConsoleProgram(4, argv, "veltabox-cli", false);
        _exit(status != 0 && sim::g_world.boxes[0].reportsReceived > 2 ? 100 : status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::string IntegrityOf(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW)
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return verdict;
}

std::vector<HistoryRecord> Records(const std::string& path) {
    std::string error;
    History* history = OpenHistory(path, &error);
    std::vector<HistoryRecord> records;
    EXPECT_NE(history, nullptr) << error;
    if (history != nullptr) {
        EXPECT_TRUE(ReadHistory(history, HistoryFilter(), &records, &error)) << error;
        CloseHistory(history);
    }
    return records;
}

class CliRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/cli-record.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
    }
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf " + folder_).c_str()), 0); }
    std::string folder_;
};

TEST_F(CliRecordTest, AnUpdateKilledAtAnyReportReadsInterruptedInAWholeDatabase) {
    const std::string path = folder_ + "/history.sqlite3";
    std::mt19937 random(20261211);
    // The query's two reports, the unlock, 115 erased pages, the address, 1311 blocks, the lock
    // and the finish: the update's own reports are the third to the 1431st.
    std::uniform_int_distribution<std::uint32_t> report(3, 1432);
    for (int run = 1; run <= 20; ++run) {
        const std::uint32_t at = report(random);
        ASSERT_EQ(RunChild(path, at), 128 + SIGKILL) << "killed after report " << at;
        ASSERT_EQ(IntegrityOf(path), "ok") << "after report " << at;
        const std::vector<HistoryRecord> records = Records(path);
        ASSERT_EQ(records.size(), static_cast<std::size_t>(run));
        EXPECT_EQ(records.back().end.outcome, "interrupted") << "after report " << at;
        EXPECT_EQ(records.back().box.serial, "REC-1");
        EXPECT_TRUE(records.back().ended.empty());
    }
    // Undisturbed, the same box is recorded as updated behind them all.
    ASSERT_EQ(RunChild(path, 0), 0);
    EXPECT_EQ(Records(path).back().end.outcome, "updated");
}

TEST_F(CliRecordTest, ABoxWhoseRecordCannotBeBegunIsNotWritten) {
    // A database under a plain file can never be made; the box fails before its unlock.
    const std::string blocker = folder_ + "/not-a-folder";
    ASSERT_EQ(std::system(("touch " + blocker).c_str()), 0);
    EXPECT_EQ(RunChild(blocker + "/history.sqlite3", 0), EXIT_SOME_FAILED);
}

}  // namespace
