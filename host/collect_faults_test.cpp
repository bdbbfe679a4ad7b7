// velnor collect when the databases cannot take the run: a full disk, a
// database another process holds, read-only databases, a second run of the
// same databases, and the run killed (SIGKILL) at many moments: at random
// times, as its changes start to be written, during the final commit and
// just past it. Each ends with a clear message (a killed run shows in the
// ledger as interrupted, and the next --since-last counts its day once),
// and the four databases, the collection ledger and the statistics are
// sound and hold either the state before the run or the state after the
// whole run: never part of a run, never one file ahead of another, never
// ledger rows of counts that are not there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/report_rows.h"
#include "host/testing/scratch_mount.h"
#include "host/testing/velnor_test_support.h"
#include "reportdb/report_files.h"

namespace velnor::host {
namespace {

using testing::Contains;
using testing::HasEnded;
using testing::HeldWriteLock;
using testing::QueryRows;
using testing::ReadFile;
using testing::Rows;
using testing::TempDir;
using testing::Words;
using testing::WriteFile;

namespace fs = std::filesystem;

class CollectFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path logs = dir_.path() / "shares/SRV1/D$/Logs/W3SVC1";
    WriteFile(logs / "u_ex240601.log", IisLog("2024-06-01", 500, 50));
    WriteFile(logs / "u_ex240602.log", IisLog("2024-06-02", 20000, 4000));
    // Logs of past days, long finished: a file changed minutes ago may
    // still be copied, and its days would be counted in part only.
    for (const char* name : {"u_ex240601.log", "u_ex240602.log"}) {
      fs::last_write_time(logs / name, fs::file_time_type::clock::now() -
                                           std::chrono::hours(48));
    }
    fs::create_directories(db_dir_);
  }

  // collect of `day` (or, if "", no period) into `db`.
  std::vector<std::string> Arguments(const std::string& day,
                                     std::vector<std::string> extra = {},
                                     const fs::path& db = {}) const {
    std::vector<std::string> arguments = Words(
        "collect --server SRV1 --no-tui --site Site,D:\\Logs,1 --db-dir " +
        (db.empty() ? db_dir_ : db).string() + " --share-root " +
        (dir_.path() / "shares").string() + " --error-log " +
        (dir_.path() / "errors.log").string());
    if (!day.empty())
      arguments.insert(arguments.end(), {"--from", day, "--to", day});
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

  std::vector<Rows> State() const {
    return DatabaseState(db_dir_, "SRV1", false);
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

// What report and runs print, redirected onto a full disk: the command
// says it could not write it and fails, where a cron job's file would
// otherwise end empty or cut with status 0.
TEST_F(CollectFaultsTest, OutputOntoAFullDiskIsAnError) {
  CollectFirstDay();
  const std::function<void()> onto_full_disk = [] {
    ::dup2(::open("/dev/full", O_WRONLY), 1);
  };
  const std::string db = db_dir_.string();
  for (const std::vector<std::string>& command :
       {Words("report --db-dir " + db + " --server SRV1"),
        Words("report --db-dir " + db + " --server SRV1 --format csv"),
        Words("report --db-dir " + db), Words("runs --db-dir " + db)}) {
    SCOPED_TRACE(command.front() + " " + command.back());
    ASSERT_EQ(RunVelnor(command, dir_.path()).status, 0);
    VelnorRun run = FinishVelnor(
        StartVelnor(command, dir_.path(), onto_full_disk), dir_.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(
        Contains(run.err, "could not be written whole to standard output"))
        << run.err;
  }
}

// A raw listing shown as a table waits in a temporary file until its
// column widths are known: that file cut short (a full /tmp, here a file
// size limit) leaves rows out, and the run says the listing is not whole.
TEST_F(CollectFaultsTest, ATableListingCutShortInItsTemporaryFileIsAnError) {
  CollectFirstDay();
  const std::function<void()> small_files = [] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  VelnorRun run = FinishVelnor(
      StartVelnor(Arguments("2024-06-02", {"--raw"}), dir_.path(), small_files),
      dir_.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "the listing could not be written whole to standard "
                       "output"))
      << run.err;
}

TEST_F(CollectFaultsTest, ADatabaseAnotherProcessHoldsIsReportedOnce) {
  CollectFirstDay();
  const std::vector<Rows> before = State();
  VelnorRun run;
  {
    HeldWriteLock other(Database(reportdb::ReportKind::kHitsByMonth));
    auto start = std::chrono::steady_clock::now();
    run = Collect("2024-06-02", {"--wait", "1"});
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(20));
  }

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

// The error log is by default in the database folder: a folder that
// cannot be written is named as what to fix, not the error log.
TEST_F(CollectFaultsTest, AReadOnlyDatabaseFolderIsWhatTheMessageNames) {
  std::unique_ptr<ScratchMount> disk = ScratchMount::Mount(db_dir_, 8);
  CollectFirstDay();
  if (disk) {
    ASSERT_TRUE(disk->MakeReadOnly());
  } else if (geteuid() == 0) {
    GTEST_SKIP() << "root writes every folder, and no read-only mount here";
  } else {
    fs::permissions(db_dir_, fs::perms::owner_read | fs::perms::owner_exec);
  }
  std::vector<std::string> arguments = Arguments("2024-06-02");
  auto log = std::find(arguments.begin(), arguments.end(), "--error-log");
  arguments.erase(log, log + 2);
  VelnorRun run = RunVelnor(arguments, dir_.path());
  if (!disk) fs::permissions(db_dir_, fs::perms::owner_all);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(run.err.starts_with(
      "velnor: error: cannot write the error log " +
      (db_dir_ / "velnor-errors.log").string() + ": the database folder " +
      db_dir_.string() +
      " cannot be written\n  help: a run writes its databases, a lock file "
      "and the error log there; make the folder writable"))
      << run.err;
}

TEST_F(CollectFaultsTest, ASecondRunOfTheSameDatabasesWaitsOrNamesTheFirst) {
  CollectFirstDay();
  pid_t first = StartVelnor(Arguments("2024-06-02"), dir_.path());
  // Held still once it has the lock, the first run is sure to be running
  // while the others start.
  EXPECT_TRUE(StopOnceHoldingLock(first, db_dir_ / ".velnor-srv1-web.lock"));
  const std::string holder = "velnor process " + std::to_string(first);

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

  EXPECT_EQ(SiteTotalRows(db_dir_, "SRV1"),
            (Rows{{"1", "500"}, {"1", "20000"}}));
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    EXPECT_EQ(
        QueryRows(Database(kind), "SELECT sum([No of Hits]) FROM tblGeneral"),
        (Rows{{"20500"}}));
  }
}

// The runs the ledger holds without an end: started, never committed.
Rows Interrupted(const fs::path& db_dir) {
  return QueryRows(db_dir / "velnor_ledger_SRV1_web.sqlite",
                   "SELECT run_id FROM runs WHERE ended IS NULL");
}

void CopyDatabases(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) {
    if (entry.path().extension() == ".mdb" ||
        entry.path().extension() == ".sqlite") {
      fs::copy_file(entry.path(), to / entry.path().filename());
    }
  }
}

// When to kill a run.
enum class Moment {
  kRandom,       // a random time within the length of a whole run
  kJournalMade,  // a database's changes start to be written
  kCommitting,   // the super-journal appears: the commit has begun
  kPastCommit,   // a journal goes: the commit point is passed
};

// Waits until `moment` shows in `db_dir` (or `delay` passes, for kRandom)
// while `pid` runs, then kills it. False when the run ended first.
bool KillAt(pid_t pid, const fs::path& db_dir, Moment moment,
            std::chrono::microseconds delay) {
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ::inotify_add_watch(watch, db_dir.c_str(), IN_CREATE | IN_DELETE);
  auto deadline = std::chrono::steady_clock::now() + delay;
  bool killed = false;
  while (!killed) {
    if (HasEnded(pid)) break;
    if (moment == Moment::kRandom) {
      if (std::chrono::steady_clock::now() >= deadline) killed = true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    pollfd ready{watch, POLLIN, 0};
    if (::poll(&ready, 1, 5) <= 0) continue;
    alignas(inotify_event) char buffer[4096];
    ssize_t size = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      std::string name = event->len ? event->name : "";
      bool created = event->mask & IN_CREATE;
      // The ledger's record of the run's start is committed on its own,
      // before the run: its journal is not one of the run's moments.
      if (name.starts_with("velnor_ledger_")) name.clear();
      if ((moment == Moment::kJournalMade && created &&
           name.ends_with("-journal")) ||
          (moment == Moment::kCommitting && created &&
           name.find("-mj") != std::string::npos) ||
          (moment == Moment::kPastCommit && !created &&
           name.ends_with("-journal"))) {
        killed = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (killed) ::kill(pid, SIGKILL);
  ::close(watch);
  return killed;
}

// The kills with the sites read one after another and with two read at
// once (each worker's part merged before the one commit).
class CollectKillTest : public CollectFaultsTest,
                        public ::testing::WithParamInterface<const char*> {
 protected:
  // A second site beside the fixture's, so that two workers have two parts.
  void SetUp() override {
    CollectFaultsTest::SetUp();
    const fs::path logs = dir_.path() / "shares/SRV1/D$/Logs/W3SVC2";
    WriteFile(logs / "u_ex240601.log", IisLog("2024-06-01", 300, 30));
    WriteFile(logs / "u_ex240602.log", IisLog("2024-06-02", 15000, 3000));
    for (const char* name : {"u_ex240601.log", "u_ex240602.log"}) {
      fs::last_write_time(logs / name, fs::file_time_type::clock::now() -
                                           std::chrono::hours(48));
    }
  }

  std::vector<std::string> BothSites(const std::string& day,
                                     std::vector<std::string> extra,
                                     const fs::path& db) const {
    extra.insert(extra.end(),
                 {"--site", "Other,D:\\Logs,2", "--workers", GetParam()});
    return Arguments(day, std::move(extra), db);
  }
};

INSTANTIATE_TEST_SUITE_P(Workers, CollectKillTest, ::testing::Values("1", "2"));

TEST_P(CollectKillTest, AKilledRunLeavesEveryDatabaseBeforeOrAfterTheRun) {
  const fs::path& root = dir_.path();
  auto state = [](const fs::path& db) {
    return DatabaseState(db, "SRV1", true);
  };
  // Before: a day already counted. After: the next day counted in full.
  ASSERT_EQ(
      RunVelnor(BothSites("2024-06-01", {"--create-db"}, db_dir_), root).status,
      0);
  const std::vector<Rows> before = state(db_dir_);
  const fs::path whole = root / "whole";
  CopyDatabases(db_dir_, whole);
  auto started = std::chrono::steady_clock::now();
  const VelnorRun full = RunVelnor(BothSites("2024-06-02", {}, whole), root);
  ASSERT_EQ(full.status, 0) << full.err;
  EXPECT_EQ(Contains(full.err, "2 sites at once"),
            std::string(GetParam()) == "2")
      << full.err;
  const auto run_length = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  const std::vector<Rows> after = state(whole);
  ASSERT_NE(before, after);

  // What a --since-last run makes of the state before: the day counted once,
  // the same counts as the whole run.
  const fs::path resumed = root / "resumed";
  auto counts = [](const std::vector<Rows>& state) {
    return std::vector<Rows>(state.begin(), state.begin() + 5);
  };

  std::mt19937 rng(20240602);
  int ended_before = 0;
  int resumed_runs = 0;
  int ended_after = 0;
  int killed_committing = 0;
  const fs::path work = root / "work";
  for (int i = 0; i < 32; ++i) {
    const auto moment = static_cast<Moment>(i % 4);
    const auto delay = std::chrono::microseconds(
        rng() % static_cast<unsigned>(run_length.count() * 12 / 10 + 1));
    SCOPED_TRACE("kill " + std::to_string(i) + " at moment " +
                 std::to_string(static_cast<int>(moment)) + ", delay " +
                 std::to_string(delay.count()) + " us");
    CopyDatabases(db_dir_, work);
    pid_t pid = StartVelnor(BothSites("2024-06-02", {}, work), root);
    bool killed = KillAt(pid, work, moment, delay);
    if (killed && moment == Moment::kCommitting) ++killed_committing;
    VelnorRun run = FinishVelnor(pid, root);
    if (!killed) {
      EXPECT_EQ(run.status, 0) << run.err;
    }
    const std::vector<Rows> now = state(work);
    if (now == before) {
      ++ended_before;
      // Its start is there, with no end: interrupted, nothing counted.
      if (killed && !Interrupted(work).empty()) {
        EXPECT_EQ(Interrupted(work), (Rows{{"2"}}));
        if (resumed_runs++ < 4) {
          CopyDatabases(work, resumed);
          ::setenv("VELNOR_TEST_NOW", "2024-06-03T02:30:00Z", 1);
          VelnorRun next =
              RunVelnor(BothSites("", {"--since-last"}, resumed), root);
          ::unsetenv("VELNOR_TEST_NOW");
          EXPECT_EQ(next.status, 0) << next.err;
          EXPECT_EQ(counts(state(resumed)), counts(after));
          VelnorRun runs = RunVelnor(
              {"runs", "--db-dir", resumed.string(), "--server", "SRV1"}, root);
          EXPECT_TRUE(Contains(runs.out, "interrupted, nothing counted"))
              << runs.out;
        }
      }
    } else if (now == after) {
      ++ended_after;
    } else {
      ADD_FAILURE() << "the databases hold part of a run";
    }
  }
  // The kills fell on both sides of the commit, and inside it.
  EXPECT_GT(ended_before, 0);
  EXPECT_GT(ended_after, 0);
  EXPECT_GT(killed_committing, 0);
  EXPECT_GT(resumed_runs, 0);
  std::cout << ended_before << " kills left the state before the run, "
            << ended_after << " the state after it; " << killed_committing
            << " fell in the commit\n";
}

}  // namespace
}  // namespace velnor::host
