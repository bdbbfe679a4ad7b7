// velnor collect when the databases cannot take the run: a full disk, a
// database another process holds, read-only databases, and a second run of
// the same databases. Each ends with a clear message, and the databases are
// either as before the run or hold the whole run, never part of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/scratch_mount.h"
#include "host/testing/velnor_test_support.h"
#include "reportdb/report_files.h"

namespace velnor::testing {
namespace {

namespace fs = std::filesystem;

// `count` records of `day` spread over `urls` pages and every hour.
std::string DayLog(const std::string& day, int count, int urls) {
  std::string log =
      "#Software: Microsoft Internet Information Services 10.0\r\n"
      "#Fields: date time s-ip cs-method cs-uri-stem s-port c-ip "
      "sc-status\r\n";
  for (int i = 0; i < count; ++i) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "%s %02d:%02d:00 10.0.0.5 GET /page%d.htm 80 10.1.1.1 %d\r\n",
                  day.c_str(), i % 24, i % 60, i % urls,
                  i % 9 == 0 ? 404 : 200);
    log += line;
  }
  return log;
}

class CollectFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(Share("u_ex240601.log"), DayLog("2024-06-01", 500, 50));
    WriteFile(Share("u_ex240602.log"), DayLog("2024-06-02", 20000, 4000));
    fs::create_directories(db_dir_);
  }

  fs::path Share(const std::string& file) const {
    return dir_.path() / "shares/SRV1/D$/Logs/W3SVC1" / file;
  }

  std::vector<std::string> Arguments(const std::string& day,
                                     std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {
        "collect",
        "--server",
        "SRV1",
        "--from",
        day,
        "--to",
        day,
        "--db-dir",
        db_dir_.string(),
        "--share-root",
        (dir_.path() / "shares").string(),
        "--site",
        "Site,D:\\Logs,1",
        "--no-tui",
        "--error-log",
        (dir_.path() / "errors.log").string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  VelnorRun Collect(const std::string& day,
                    std::vector<std::string> extra = {}) {
    return RunVelnor(Arguments(day, std::move(extra)), dir_.path());
  }

  // Makes the databases and collects the first day into them.
  void CollectFirstDay() {
    ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  }

  fs::path Database(reportdb::ReportKind kind) const {
    return db_dir_ / reportdb::ReportDatabaseFileName(kind, "SRV1", false);
  }

  // Every row of the four databases in the order they were written, after
  // checking that each file is sound.
  std::vector<Rows> State() const {
    std::vector<Rows> state;
    for (reportdb::ReportKind kind : reportdb::kReportKinds) {
      EXPECT_EQ(QueryRows(Database(kind), "PRAGMA integrity_check"),
                (Rows{{"ok"}}));
      state.push_back(
          QueryRows(Database(kind), "SELECT * FROM tblGeneral ORDER BY rowid"));
    }
    state.push_back(QueryRows(Database(reportdb::ReportKind::kHitsByHour),
                              "SELECT * FROM tblTotalAccess ORDER BY rowid"));
    return state;
  }

  std::string ErrorLog() const { return ReadFile(dir_.path() / "errors.log"); }

  TempDir dir_{"collect_faults"};
  fs::path db_dir_ = dir_.path() / "db";
};

TEST_F(CollectFaultsTest, AFullDiskStoresNothingAndSaysWhy) {
  std::unique_ptr<ScratchMount> disk = ScratchMount::Mount(db_dir_, 3);
  CollectFirstDay();
  const std::vector<Rows> before = State();
  std::function<void()> limit;
  if (disk) {
    disk->Fill();
  } else {
    // Without a file system of our own, no database file may grow: the
    // same failure as a full disk, met at the same point of the run.
    limit = [size =
                 fs::file_size(Database(reportdb::ReportKind::kHitsByHour))] {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{size, size};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    };
  }
  pid_t pid = StartVelnor(Arguments("2024-06-02"), dir_.path(), limit);
  VelnorRun run = FinishVelnor(pid, dir_.path());
  EXPECT_EQ(run.status, 1) << run.err;
  // A full disk is met where the run first writes: the ledger's record of
  // its start (on a full file system), or the commit of its counts.
  const bool at_start =
      run.err.find("cannot record the run in the collection ledger") !=
      std::string::npos;
  EXPECT_NE(run.err.find(at_start ? "nothing was collected"
                                  : "nothing of this run was stored"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(db_dir_.string() +
                         (at_start ? "/velnor_ledger_SRV1_web.sqlite"
                                   : "/QDX_UAWebLog")),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find(" records in "), std::string::npos)
      << "no summary of records that were not stored: " << run.err;
  EXPECT_EQ(State(), before);
}

TEST_F(CollectFaultsTest, ADatabaseAnotherProcessHoldsIsReportedOnce) {
  CollectFirstDay();
  const std::vector<Rows> before = State();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Database(reportdb::ReportKind::kHitsByMonth).c_str(),
                         &other),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  VelnorRun run = Collect("2024-06-02", {"--wait", "1"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  // Found before anything is read, named, and said once.
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("cannot use the report database"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("HitsByMonth"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("currently locked"), std::string::npos) << run.err;
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(State(), before);
}

TEST_F(CollectFaultsTest, ReadOnlyDatabasesAreReportedOnceAndLeftAlone) {
  std::unique_ptr<ScratchMount> disk = ScratchMount::Mount(db_dir_, 8);
  CollectFirstDay();
  const std::vector<Rows> before = State();
  if (disk) {
    ASSERT_TRUE(disk->MakeReadOnly());
  } else {
    for (reportdb::ReportKind kind : reportdb::kReportKinds) {
      fs::permissions(Database(kind), fs::perms::owner_read);
    }
  }
  VelnorRun run = Collect("2024-06-02");
  EXPECT_EQ(run.status, 1) << run.err;
  std::string said = run.err + ErrorLog();
  std::transform(said.begin(), said.end(), said.begin(), ::tolower);
  EXPECT_NE(said.find("read-only"), std::string::npos) << said;
  // At most the database that would not open and the run's line for it:
  // never a line per record.
  std::string log = ErrorLog();
  EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_EQ(State(), before);
}

TEST_F(CollectFaultsTest, ASecondRunOfTheSameDatabasesWaitsOrNamesTheFirst) {
  CollectFirstDay();
  pid_t first = StartVelnor(Arguments("2024-06-02"), dir_.path());
  // Held still once it has the lock, the first run is sure to be running
  // while the others start.
  const fs::path lock = db_dir_ / ".velnor-srv1-web.lock";
  const std::string holder = "velnor process " + std::to_string(first);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadFile(lock).find(holder) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(first, SIGSTOP);

  TempDir second_dir("collect_faults_second");
  VelnorRun refused =
      RunVelnor(Arguments("2024-06-02", {"--wait", "0.2"}), second_dir.path());
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("is running: " + holder), std::string::npos)
      << refused.err;

  TempDir third_dir("collect_faults_third");
  pid_t third =
      StartVelnor(Arguments("2024-06-02", {"--wait", "60"}), third_dir.path());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(first, SIGCONT);
  EXPECT_EQ(FinishVelnor(first, dir_.path()).status, 0);
  // The third run waited for the first, then found the day counted by it:
  // the ledger is read under the lock, so the day is counted once.
  VelnorRun late = FinishVelnor(third, third_dir.path());
  EXPECT_EQ(late.status, 2) << late.err;
  EXPECT_NE(late.err.find("these days were counted already: 2024-06-02 of "
                          "site 1 (Site) by run 2"),
            std::string::npos)
      << late.err;

  EXPECT_EQ(QueryRows(Database(reportdb::ReportKind::kHitsByHour),
                      "SELECT [No of Hits] FROM tblTotalAccess ORDER BY rowid"),
            (Rows{{"500"}, {"20000"}}));
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    EXPECT_EQ(
        QueryRows(Database(kind), "SELECT sum([No of Hits]) FROM tblGeneral"),
        (Rows{{"20500"}}));
  }
}

}  // namespace
}  // namespace velnor::testing
