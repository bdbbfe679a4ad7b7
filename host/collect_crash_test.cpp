// velnor collect killed (SIGKILL) at many moments of a run: at random times,
// as its changes start to be written, during the final commit and just past
// it. Every time, the four databases and the collection ledger are sound and
// all hold either the state before the run or the state after a complete
// run: never part of a run, never one file ahead of another, never ledger
// rows of counts that are not there. A run killed before its commit shows in
// the ledger as interrupted, and the next --since-last counts its day once.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/velnor_test_support.h"
#include "reportdb/report_files.h"

namespace velnor::testing {
namespace {

namespace fs = std::filesystem;

std::string DayLog(const std::string& day, int count, int urls) {
  std::string log =
      "#Software: Microsoft Internet Information Services 10.0\r\n"
      "#Fields: date time s-ip cs-method cs-uri-stem s-port c-ip "
      "sc-status\r\n";
  for (int i = 0; i < count; ++i) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "%s %02d:%02d:00 10.0.0.5 GET /p%d.htm 80 10.1.1.1 %d\r\n",
                  day.c_str(), i % 24, i % 60, (i * 7919) % urls,
                  i % 11 == 0 ? 404 : 200);
    log += line;
  }
  return log;
}

// Every row of the four databases in the order written, each file checked
// for soundness first (opening a file rolls back what a killed run left).
std::vector<Rows> State(const fs::path& db_dir) {
  std::vector<Rows> state;
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    fs::path file =
        db_dir / reportdb::ReportDatabaseFileName(kind, "SRV1", false);
    EXPECT_EQ(QueryRows(file, "PRAGMA integrity_check"), (Rows{{"ok"}}))
        << file;
    state.push_back(QueryRows(file, "SELECT * FROM tblGeneral ORDER BY rowid"));
  }
  state.push_back(
      QueryRows(db_dir / reportdb::ReportDatabaseFileName(
                             reportdb::ReportKind::kHitsByHour, "SRV1", false),
                "SELECT * FROM tblTotalAccess ORDER BY rowid"));
  // The ledger as far as runs committed it: their ends, files and days. A
  // run's start is committed apart and is not part of its counts.
  const fs::path ledger = db_dir / "velnor_ledger_SRV1_web.sqlite";
  EXPECT_EQ(QueryRows(ledger, "PRAGMA integrity_check"), (Rows{{"ok"}}));
  state.push_back(QueryRows(ledger,
                            "SELECT run_id, outcome, records FROM runs "
                            "WHERE ended IS NOT NULL ORDER BY run_id"));
  state.push_back(QueryRows(ledger,
                            "SELECT run_id, site, file_name, start_offset, "
                            "end_offset, records FROM run_files "
                            "ORDER BY run_id, site, file_name"));
  state.push_back(QueryRows(
      ledger, "SELECT * FROM run_days ORDER BY run_id, site, log_day"));
  return state;
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
    siginfo_t info{};
    ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT);
    if (info.si_pid == pid) break;
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

TEST(CollectCrashTest, AKilledRunLeavesEveryDatabaseBeforeOrAfterTheWholeRun) {
  TempDir tmp("collect_crash");
  const fs::path& root = tmp.path();
  const fs::path logs = root / "shares/SRV1/D$/Logs/W3SVC1";
  WriteFile(logs / "u_ex240601.log", DayLog("2024-06-01", 2000, 300));
  WriteFile(logs / "u_ex240602.log", DayLog("2024-06-02", 20000, 3000));
  auto arguments = [&](const fs::path& db_dir, const std::string& day,
                       bool create) {
    std::vector<std::string> args = {"collect",
                                     "--server",
                                     "SRV1",
                                     "--from",
                                     day,
                                     "--to",
                                     day,
                                     "--db-dir",
                                     db_dir.string(),
                                     "--share-root",
                                     (root / "shares").string(),
                                     "--site",
                                     "Site,D:\\Logs,1",
                                     "--no-tui"};
    if (create) args.emplace_back("--create-db");
    return args;
  };

  // Before: a day already counted. After: the next day counted in full.
  const fs::path base = root / "base";
  fs::create_directories(base);
  ASSERT_EQ(RunVelnor(arguments(base, "2024-06-01", true), root).status, 0);
  const std::vector<Rows> before = State(base);
  const fs::path whole = root / "whole";
  CopyDatabases(base, whole);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RunVelnor(arguments(whole, "2024-06-02", false), root).status, 0);
  const auto run_length = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  const std::vector<Rows> after = State(whole);
  ASSERT_NE(before, after);

  // What a --since-last run makes of the state before: the day counted once,
  // the same counts as the whole run.
  const fs::path resumed = root / "resumed";
  auto since_last = [&](const fs::path& db_dir) {
    std::vector<std::string> args = arguments(db_dir, "", false);
    args.erase(args.begin() + 3, args.begin() + 7);  // --from and --to
    args.emplace_back("--since-last");
    ::setenv("VELNOR_TEST_NOW", "2024-06-03T02:30:00Z", 1);
    VelnorRun run = RunVelnor(args, root);
    ::unsetenv("VELNOR_TEST_NOW");
    return run;
  };
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
    CopyDatabases(base, work);
    pid_t pid = StartVelnor(arguments(work, "2024-06-02", false), root);
    bool killed = KillAt(pid, work, moment, delay);
    if (killed && moment == Moment::kCommitting) ++killed_committing;
    VelnorRun run = FinishVelnor(pid, root);
    if (!killed) {
      EXPECT_EQ(run.status, 0) << run.err;
    }
    const std::vector<Rows> state = State(work);
    if (state == before) {
      ++ended_before;
      // Its start is there, with no end: interrupted, nothing counted.
      if (killed && !Interrupted(work).empty()) {
        EXPECT_EQ(Interrupted(work), (Rows{{"2"}}));
        if (resumed_runs++ < 4) {
          CopyDatabases(work, resumed);
          VelnorRun next = since_last(resumed);
          EXPECT_EQ(next.status, 0) << next.err;
          EXPECT_EQ(counts(State(resumed)), counts(after));
          VelnorRun runs = RunVelnor(
              {"runs", "--db-dir", resumed.string(), "--server", "SRV1"}, root);
          EXPECT_NE(runs.out.find("interrupted, nothing counted"),
                    std::string::npos)
              << runs.out;
        }
      }
    } else if (state == after) {
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
}  // namespace velnor::testing
