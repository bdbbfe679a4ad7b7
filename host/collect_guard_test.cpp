// velnor collect against someone who can write into its database folder or
// a server's share: the run lock deleted or replaced while a run holds it,
// symbolic links planted where velnor writes (lock, error log, ledger,
// databases, journals, listings and reports), FIFOs and devices named like
// a day's log, links inside a server's share, SIGTERM and SIGINT while the
// run waits (for a lock, a database, a silent SMB server, a listing's
// reader), and an empty share root or one without the server. None of them
// may double a count, write through a link, hang a run, read beyond the
// share or reach beyond loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/report_rows.h"
#include "host/testing/velnor_test_support.h"
#include "reportdb/report_files.h"

namespace velnor::host {
namespace {

using testing::Catches;
using testing::Contains;
using testing::EndsWithin;
using testing::ExecSql;
using testing::FreePort;
using testing::HasEnded;
using testing::HeldWriteLock;
using testing::ProgramRun;
using testing::QueryRows;
using testing::ReadFile;
using testing::Rows;
using testing::Shell;
using testing::ShellQuoted;
using testing::TempDir;
using testing::WaitFor;
using testing::Words;
using testing::WriteFile;

namespace fs = std::filesystem;
using std::chrono::steady_clock;

class CollectGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(logs_ / "u_ex240601.log", IisLog("2024-06-01", 500, 50));
    WriteFile(logs_ / "u_ex240602.log", IisLog("2024-06-02", 20000, 4000));
    fs::create_directories(db_dir_);
  }

  // collect of `first` to `last` (`first` alone when empty), then `extra`.
  std::vector<std::string> Arguments(const std::string& first,
                                     std::vector<std::string> extra = {},
                                     const std::string& last = "") const {
    std::vector<std::string> arguments = Words(
        "collect --server SRV1 --no-tui --site Site,D:\\Logs,1 --db-dir " +
        db_dir_.string() + " --share-root " +
        (dir_.path() / "shares").string() + " --error-log " +
        ErrorLogPath().string() + " --from " + first + " --to " +
        (last.empty() ? first : last));
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  VelnorRun Collect(const std::string& day,
                    std::vector<std::string> extra = {}) {
    return RunVelnor(Arguments(day, std::move(extra)), dir_.path());
  }

  fs::path ErrorLogPath() const { return dir_.path() / "errors.log"; }
  fs::path LockPath() const { return db_dir_ / ".velnor-srv1-web.lock"; }
  fs::path Database(reportdb::ReportKind kind) const {
    return db_dir_ / reportdb::ReportDatabaseFileName(kind, "SRV1", false);
  }
  std::vector<Rows> State() const {
    return DatabaseState(db_dir_, "SRV1", true);
  }

  // Starts the run of 2 June and stops it (SIGSTOP) once it holds the lock
  // and, with `recorded`, once velnor runs shows it running.
  pid_t StartedAndStoppedHoldingTheLock(bool recorded = false) {
    pid_t pid = StartVelnor(Arguments("2024-06-02"), dir_.path());
    EXPECT_TRUE(StopOnceHoldingLock(pid, LockPath(), [&] {
      return !recorded || Contains(Runs(), "running");
    }));
    return pid;
  }

  // The server's ledger held in an exclusive transaction, as by another
  // process writing it: a run that has taken the lock waits there, its
  // checks done. Null when it could not be held.
  sqlite3* HoldTheLedger() const {
    return Hold(db_dir_ / "velnor_ledger_SRV1_web.sqlite");
  }
  // The same for the database `file`; Release ends either hold.
  static sqlite3* Hold(const fs::path& file) {
    sqlite3* held = nullptr;
    if (sqlite3_open(file.c_str(), &held) != SQLITE_OK ||
        sqlite3_exec(held, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
      sqlite3_close(held);
      return nullptr;
    }
    return held;
  }
  static void Release(sqlite3* ledger) {
    sqlite3_exec(ledger, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(ledger);
  }

  // Refusals of a run as it starts, once planned: a report database another
  // program holds (with --wait 0) and a ledger that refuses the run's row,
  // as a trigger of another tool's would. Each is set up by `hold` and
  // undone by `release`; `message` is what the run says.
  struct StartRefusal {
    std::string name;
    std::function<void()> hold;
    std::function<void()> release;
    std::string message;
  };
  std::vector<StartRefusal> StartRefusals() {
    const fs::path hour = Database(reportdb::ReportKind::kHitsByHour);
    const fs::path ledger = db_dir_ / "velnor_ledger_SRV1_web.sqlite";
    return {
        {"held database", [this, hour] { held_ = Hold(hour); },
         [this] { Release(held_); },
         "cannot use the report database " + hour.string()},
        {"ledger refusing the run",
         [ledger] {
           ExecSql(ledger,
                   "CREATE TRIGGER refuse_runs BEFORE INSERT ON runs "
                   "BEGIN SELECT RAISE(ABORT, 'no new run'); END");
         },
         [ledger] { ExecSql(ledger, "DROP TRIGGER refuse_runs"); },
         "cannot record the run in the collection ledger"},
    };
  }

  // velnor runs of the databases.
  std::string Runs() const {
    TempDir runs_dir("collect_guard_runs");
    return RunVelnor({"runs", "--db-dir", db_dir_.string(), "--server", "SRV1"},
                     runs_dir.path())
        .out;
  }

  TempDir dir_{"collect_guard"};
  fs::path logs_ = dir_.path() / "shares/SRV1/D$/Logs/W3SVC1";
  fs::path db_dir_ = dir_.path() / "db";
  sqlite3* held_ = nullptr;  // by StartRefusals
};

TEST_F(CollectGuardTest, ALockFileDeletedOrReplacedWhileHeldKeepsOthersOut) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  pid_t first = StartedAndStoppedHoldingTheLock(true);

  // Deleted: a second run makes a new lock file, which locks nothing.
  fs::remove(LockPath());
  TempDir second_dir("collect_guard_second");
  VelnorRun second =
      RunVelnor(Arguments("2024-06-02", {"--wait", "0.3"}), second_dir.path());
  EXPECT_EQ(second.status, 2) << second.err;
  EXPECT_TRUE(Contains(second.err, "is running: a velnor run whose lock file " +
                                       LockPath().string() +
                                       " was deleted or replaced"))
      << second.err;
  // Replaced by another file of the same name, and the folder named by
  // another path: still the one lock.
  fs::remove(LockPath());
  WriteFile(LockPath(), "");
  fs::create_directory_symlink(db_dir_, dir_.path() / "db-link");
  std::vector<std::string> through_link = Arguments("2024-06-02");
  for (std::string& word : through_link) {
    if (word == db_dir_.string()) word = (dir_.path() / "db-link").string();
  }
  VelnorRun third = RunVelnor(through_link, second_dir.path());
  EXPECT_EQ(third.status, 2) << third.err;
  EXPECT_TRUE(Contains(third.err, "is running")) << third.err;
  EXPECT_TRUE(Contains(Runs(), "running"));

  ::kill(first, SIGCONT);
  EXPECT_EQ(FinishVelnor(first, dir_.path()).status, 0);
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    EXPECT_EQ(
        QueryRows(Database(kind), "SELECT sum([No of Hits]) FROM tblGeneral"),
        (Rows{{"20500"}}));
  }
  // Released with its holder: the next run takes it at once.
  EXPECT_EQ(Collect("2024-06-02", {"--wait", "0"}).err.find("is running"),
            std::string::npos);
}

TEST_F(CollectGuardTest, LinksWhereVelnorWritesAreRefusedAndTargetsUntouched) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const fs::path target = dir_.path() / "precious";
  const std::string hour_db = Database(reportdb::ReportKind::kHitsByHour);
  const fs::path ledger = db_dir_ / "velnor_ledger_SRV1_web.sqlite";
  const fs::path listing = dir_.path() / "listing.csv";
  struct Trick {
    std::string name;
    fs::path link;                  // made to point at `points_at`
    fs::path points_at;             // the target, or the real file moved away
    std::vector<std::string> args;  // of the velnor run
  };
  const std::vector<std::string> raw = {"--raw", "--format", "csv", "--output",
                                        listing.string()};
  std::vector<Trick> tricks = {
      {"lock", LockPath(), target, Arguments("2024-06-02")},
      {"error log", ErrorLogPath(), target, Arguments("2024-06-02")},
      {"ledger", ledger, dir_.path() / "ledger.real", Arguments("2024-06-02")},
      {"database", hour_db, dir_.path() / "hour.real", Arguments("2024-06-02")},
      {"journal", hour_db + "-journal", target, Arguments("2024-06-02")},
      {"ledger journal", ledger.string() + "-journal", target,
       Arguments("2024-06-02")},
      {"raw listing", listing, target, Arguments("2024-06-02", raw)},
      {"report",
       listing,
       target,
       {"report", "--db-dir", db_dir_.string(), "--server", "SRV1", "--output",
        listing.string()}},
  };
  for (const Trick& trick : tricks) {
    SCOPED_TRACE(trick.name);
    const bool moved = trick.points_at != target;
    if (moved) {
      fs::rename(trick.link, trick.points_at);
    } else {
      fs::remove(trick.link);
      WriteFile(target, "precious\n");
    }
    fs::create_symlink(trick.points_at, trick.link);
    const std::string target_before = ReadFile(trick.points_at);
    VelnorRun run = RunVelnor(trick.args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "is a symbolic link")) << run.err;
    EXPECT_EQ(ReadFile(trick.points_at), target_before);
    fs::remove(trick.link);
    if (moved) fs::rename(trick.points_at, trick.link);
    EXPECT_EQ(State(), before);
  }

  // init-db does not make a database through a link either, even to a file
  // that does not exist yet.
  const fs::path fresh = dir_.path() / "fresh";
  fs::create_directories(fresh);
  fs::create_symlink(
      dir_.path() / "nowhere.mdb",
      fresh / reportdb::ReportDatabaseFileName(
                  reportdb::ReportKind::kHitsByStatus, "SRV2", false));
  VelnorRun init = RunVelnor(
      {"init-db", "--db-dir", fresh.string(), "--server", "SRV2"}, dir_.path());
  EXPECT_EQ(init.status, 2) << init.err;
  EXPECT_TRUE(Contains(init.err, "is a symbolic link")) << init.err;
  EXPECT_FALSE(fs::exists(dir_.path() / "nowhere.mdb"));
  EXPECT_EQ(std::distance(fs::directory_iterator(fresh), {}), 1);
}

// A folder named in a place anyone may write to, such as /tmp, can be a
// link another user planted there to send a run started as root into any
// folder: velnor follows none, for the databases, the error log or an
// output, while a link of the user's own there is followed.
TEST_F(CollectGuardTest, FoldersLinkedByOthersInPublicPlacesAreNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root gives a link to another";
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const fs::path open = dir_.path() / "open";
  const fs::path away = dir_.path() / "away";
  fs::create_directories(open);
  fs::create_directories(away);
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  auto link = [&](const fs::path& to, const std::string& name, uid_t owner) {
    fs::create_symlink(to, open / name);
    EXPECT_EQ(::lchown((open / name).c_str(), owner, static_cast<gid_t>(-1)),
              0);
    return (open / name).string();
  };
  const std::string db = link(db_dir_, "db", 65534);
  const std::string logs = link(away, "logs", 65534);
  auto with = [&](const std::string& option, const std::string& value) {
    std::vector<std::string> args = Arguments("2024-06-02");
    *(std::find(args.begin(), args.end(), option) + 1) = value;
    return args;
  };
  const std::vector<std::vector<std::string>> cases = {
      with("--db-dir", db),
      with("--error-log", logs + "/errors.log"),
      Arguments("2024-06-02", {"--raw", "--output", logs + "/listing.csv"}),
      {"report", "--db-dir", db_dir_.string(), "--server", "SRV1", "--output",
       logs + "/report.txt"},
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.back());
    VelnorRun run = RunVelnor(args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(
        run.err, "a symbolic link another user made in " + open.string()))
        << run.err;
  }
  EXPECT_TRUE(fs::is_empty(away));
  EXPECT_EQ(State(), before);

  const std::string mine = link(away, "mine", ::geteuid());
  VelnorRun own = RunVelnor({"report", "--db-dir", db_dir_.string(), "--server",
                             "SRV1", "--output", mine + "/report.txt"},
                            dir_.path());
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_TRUE(fs::exists(away / "report.txt"));
}

// Where the kernel lets anyone link any file (fs.protected_hardlinks off),
// a name another user put in /tmp can be a hard link to /etc/shadow, which
// no check for symbolic links sees: velnor writes into no file of several
// names in a folder anyone may write to, be it the error log, a listing or
// a database, and makes nothing there; in a folder of the user's own such
// a file (a backup by hard links leaves them) is written as before.
TEST_F(CollectGuardTest, HardLinksInPublicFoldersAreNotWrittenInto) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const fs::path open = dir_.path() / "open";
  const fs::path precious = dir_.path() / "precious";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  WriteFile(precious, "precious\n");
  auto with = [&](const std::string& option, const fs::path& value,
                  std::vector<std::string> extra = {}) {
    std::vector<std::string> args = Arguments("2024-06-02", std::move(extra));
    *(std::find(args.begin(), args.end(), option) + 1) = value.string();
    return args;
  };
  struct Case {
    std::string name;  // in `open`, made a second name of `precious`
    std::vector<std::string> args;
  };
  const std::string hour_db = reportdb::ReportDatabaseFileName(
      reportdb::ReportKind::kHitsByHour, "SRV1", false);
  const std::vector<Case> cases = {
      {"errors.log", with("--error-log", open / "errors.log")},
      {"listing.csv",
       Arguments("2024-06-02",
                 {"--raw", "--output", (open / "listing.csv").string()})},
      {hour_db, with("--db-dir", open, {"--create-db"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_hard_link(precious, open / c.name);
    VelnorRun run = RunVelnor(c.args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(
        run.err, open.string() + "/" + c.name + " has 2 names (a hard link"))
        << run.err;
    EXPECT_EQ(ReadFile(precious), "precious\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(open), {}), 1);
    fs::remove(open / c.name);
  }
  EXPECT_EQ(State(), before);

  const fs::path own = dir_.path() / "own";
  WriteFile(own / "errors.log", "");
  fs::create_hard_link(own / "errors.log", dir_.path() / "backup.log");
  VelnorRun kept =
      RunVelnor(with("--error-log", own / "errors.log"), dir_.path());
  EXPECT_EQ(kept.status, 0) << kept.err;
}

// The checks come before the listing's file is opened, and someone who
// may write to its folder can put a hard link at its name in between: the
// file opened is looked at before a byte of it is emptied, and refused.
TEST_F(CollectGuardTest, AHardLinkPlantedAfterTheChecksIsNotEmptied) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const fs::path open = dir_.path() / "open";
  const fs::path precious = dir_.path() / "precious";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  WriteFile(precious, "precious\n");
  const fs::path listing = open / "listing.csv";
  // The run holds its lock and waits for the ledger: it cannot reach its
  // output yet.
  sqlite3* ledger = HoldTheLedger();
  ASSERT_NE(ledger, nullptr);
  pid_t pid = StartVelnor(
      Arguments("2024-06-02",
                {"--raw", "--output", listing.string(), "--wait", "120"}),
      dir_.path());
  const bool held = StopOnceHoldingLock(pid, LockPath());
  fs::create_hard_link(precious, listing);
  Release(ledger);
  ::kill(pid, SIGCONT);
  VelnorRun run = FinishVelnor(pid, dir_.path());
  ASSERT_TRUE(held);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(Contains(run.err, "cannot write --output " + listing.string() +
                                    ": it has 2 names (a hard link"))
      << run.err;
  EXPECT_EQ(ReadFile(precious), "precious\n");
}

// The names in `folder`, sorted.
std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An output the checks passed can still be refused when it is opened (a
// folder, a pipe or a link put at its name in between): it is opened before
// the ledger and the databases --create-db asks for are made, so that the
// refused run leaves the database folder as it was.
TEST_F(CollectGuardTest, AnOutputRefusedAtItsOpeningLeavesNothingMade) {
  ASSERT_EQ(
      RunVelnor({"init-db", "--db-dir", db_dir_.string(), "--server", "SRV1"},
                dir_.path())
          .status,
      0);
  // Only the hits-by-hour database is left: --create-db makes the others.
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    if (kind != reportdb::ReportKind::kHitsByHour) fs::remove(Database(kind));
  }
  const std::vector<std::string> before = NamesIn(db_dir_);
  const fs::path listing = dir_.path() / "listing.csv";
  const std::vector<std::function<void()>> plants = {
      [&] { fs::create_directory(listing); },
      [&] { ASSERT_EQ(::mkfifo(listing.c_str(), 0644), 0); },
      [&] { fs::create_symlink(dir_.path() / "elsewhere.csv", listing); },
  };
  for (size_t i = 0; i < plants.size(); ++i) {
    SCOPED_TRACE(i);
    // A reader of the database waits while another process writes it: the
    // run holds its lock, its checks of the output done, and has made
    // nothing yet.
    sqlite3* hour = nullptr;
    ASSERT_EQ(sqlite3_open(Database(reportdb::ReportKind::kHitsByHour).c_str(),
                           &hour),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(hour, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
              SQLITE_OK);
    pid_t pid = StartVelnor(
        Arguments("2024-06-02", {"--create-db", "--raw", "--output",
                                 listing.string(), "--wait", "120"}),
        dir_.path());
    const bool held = StopOnceHoldingLock(pid, LockPath());
    plants[i]();
    sqlite3_exec(hour, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(hour);
    ::kill(pid, SIGCONT);
    VelnorRun run = FinishVelnor(pid, dir_.path());
    ASSERT_TRUE(held);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot write --output " + listing.string()))
        << run.err;
    EXPECT_EQ(NamesIn(db_dir_), before);
    EXPECT_FALSE(fs::exists(dir_.path() / "elsewhere.csv"));
    fs::remove(listing);
  }
}

// An --output that names a file the run makes or writes itself (a
// database --create-db makes, the ledger, a journal, the error log), in
// any spelling, is refused before anything is made.
TEST_F(CollectGuardTest, AnOutputThatIsAFileOfTheRunIsRefused) {
  const fs::path hour = Database(reportdb::ReportKind::kHitsByHour);
  const fs::path ledger = db_dir_ / "velnor_ledger_SRV1_web.sqlite";
  const std::vector<fs::path> outputs = {
      ledger,         db_dir_ / "../db" / ledger.filename(),
      hour,           hour.string() + "-journal",
      ErrorLogPath(),
  };
  for (const fs::path& output : outputs) {
    SCOPED_TRACE(output);
    VelnorRun run = Collect(
        "2024-06-01", {"--create-db", "--raw", "--output", output.string()});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "--output " + output.string() + " is "))
        << run.err;
    EXPECT_TRUE(Contains(run.err,
                         "of this run, which the listing would "
                         "overwrite"))
        << run.err;
    EXPECT_TRUE(fs::is_empty(db_dir_));
    EXPECT_FALSE(fs::exists(ErrorLogPath()));
  }
}

// The table's rows wait in a temporary file in TMPDIR, which has no name
// and is made before anything else: a TMPDIR that cannot hold it refuses
// the listing before a database or ledger is made.
TEST_F(CollectGuardTest, ATableListingsTemporaryFileIsMadeInTmpdirFirst) {
  const fs::path tmp = dir_.path() / "tmp";
  WriteFile(dir_.path() / "a-file", "");
  const std::vector<std::string> args =
      Arguments("2024-06-01", {"--create-db", "--raw"});
  auto listed = [&](const std::string& tmpdir) {
    pid_t pid = StartVelnor(
        args, dir_.path(), [tmpdir] { ::setenv("TMPDIR", tmpdir.c_str(), 1); });
    return FinishVelnor(pid, dir_.path());
  };
  for (const fs::path& unusable : {tmp, dir_.path() / "a-file"}) {
    SCOPED_TRACE(unusable);
    VelnorRun refused = listed(unusable.string());
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_TRUE(
        Contains(refused.err, "cannot make a temporary file for the table in " +
                                  unusable.string() + ": "))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err, "check TMPDIR, or choose --format csv"))
        << refused.err;
    EXPECT_TRUE(fs::is_empty(db_dir_));
    EXPECT_TRUE(refused.out.empty()) << refused.out;
  }
  // An --output file the refused run made is gone again.
  const fs::path listing = dir_.path() / "listing.txt";
  std::vector<std::string> to_file = args;
  to_file.insert(to_file.end(), {"--output", listing.string()});
  pid_t pid = StartVelnor(to_file, dir_.path(),
                          [tmp] { ::setenv("TMPDIR", tmp.c_str(), 1); });
  VelnorRun refused = FinishVelnor(pid, dir_.path());
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_FALSE(fs::exists(listing));
  EXPECT_TRUE(fs::is_empty(db_dir_));

  // A folder that can hold it: the table is listed, and nothing is left
  // in the folder.
  fs::create_directories(tmp);
  VelnorRun run = listed(tmp.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "2024")) << run.out;
  EXPECT_TRUE(fs::is_empty(tmp));
}

// A file at --output keeps what it held (a user's earlier listing) until
// the run has started and its listing begins: a run refused after the file
// was opened leaves every byte of it, and a run that lists replaces it
// whole, nothing of a longer earlier content left at its end.
TEST_F(CollectGuardTest, ARunRefusedAfterOpeningItsOutputLeavesTheFile) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const fs::path listing = dir_.path() / "listing.txt";
  const std::string earlier = "an earlier listing\n";
  WriteFile(listing, earlier);
  auto listed = [&](const std::string& format, const fs::path& tmpdir) {
    pid_t pid = StartVelnor(
        Arguments("2024-06-02", {"--raw", "--format", format, "--output",
                                 listing.string(), "--wait", "0"}),
        dir_.path(), [tmpdir] { ::setenv("TMPDIR", tmpdir.c_str(), 1); });
    return FinishVelnor(pid, dir_.path());
  };
  VelnorRun no_tmpdir = listed("table", dir_.path() / "no-such-folder");
  EXPECT_EQ(no_tmpdir.status, 2) << no_tmpdir.err;
  EXPECT_TRUE(
      Contains(no_tmpdir.err, "cannot make a temporary file for the table"))
      << no_tmpdir.err;
  EXPECT_EQ(ReadFile(listing), earlier);

  for (const StartRefusal& refusal : StartRefusals()) {
    SCOPED_TRACE(refusal.name);
    refusal.hold();
    VelnorRun refused = listed("csv", dir_.path());
    refusal.release();
    EXPECT_NE(refused.status, 0) << refused.err;
    EXPECT_TRUE(Contains(refused.err, refusal.message)) << refused.err;
    EXPECT_EQ(ReadFile(listing), earlier);
  }

  VelnorRun to_stdout =
      Collect("2024-06-02", {"--raw", "--format", "csv", "--wait", "0"});
  EXPECT_TRUE(Contains(to_stdout.out, "2024")) << to_stdout.out;
  WriteFile(listing, to_stdout.out + "the end of a longer listing\n");
  VelnorRun to_file = listed("csv", dir_.path());
  EXPECT_EQ(to_file.status, 0) << to_file.err;
  const std::string written = ReadFile(listing);
  EXPECT_TRUE(written == to_stdout.out)
      << written.size() << " bytes, not the listing's " << to_stdout.out.size()
      << "; the file ends with: " << written.substr(written.size() - 40);
}

// A run refused as it starts, once planned, leaves a database folder
// without a lock file as a refusal in its planning does: neither the lock
// file nor an --output file it made is left behind.
TEST_F(CollectGuardTest, ARunThatCannotStartLeavesNoLockFileItMade) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  fs::remove(LockPath());
  const std::vector<std::string> before = NamesIn(db_dir_);
  const fs::path listing = dir_.path() / "listing.csv";
  for (const StartRefusal& refusal : StartRefusals()) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--raw", "--output", listing.string()},
          std::vector<std::string>{}}) {
      SCOPED_TRACE(refusal.name + (extra.empty() ? "" : ", raw"));
      refusal.hold();
      std::vector<std::string> args = extra;
      args.insert(args.end(), {"--wait", "0"});
      VelnorRun run = Collect("2024-06-02", args);
      refusal.release();
      EXPECT_NE(run.status, 0) << run.err;
      EXPECT_TRUE(Contains(run.err, refusal.message)) << run.err;
      EXPECT_EQ(NamesIn(db_dir_), before);
      EXPECT_FALSE(fs::exists(listing));
    }
  }
}

// A named pipe put at the error log's name after the checks, with a reader
// at its other end, would take the run's failures away from the file the
// user reads them in: the log is written only into a regular file, and the
// run says which lines it could not write.
TEST_F(CollectGuardTest, AnErrorLogSwappedForAPipeAfterTheChecksGetsNoLine) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  ASSERT_EQ(::mkfifo((logs_ / "u_ex240603.log").c_str(), 0644), 0);
  sqlite3* ledger = HoldTheLedger();
  ASSERT_NE(ledger, nullptr);
  pid_t pid =
      StartVelnor(Arguments("2024-06-03", {"--wait", "120"}), dir_.path());
  const bool held = StopOnceHoldingLock(pid, LockPath());
  fs::remove(ErrorLogPath());
  EXPECT_EQ(::mkfifo(ErrorLogPath().c_str(), 0644), 0);
  const int reader = ::open(ErrorLogPath().c_str(), O_RDONLY | O_NONBLOCK);
  Release(ledger);
  ::kill(pid, SIGCONT);
  VelnorRun run = FinishVelnor(pid, dir_.path());
  char line[512];
  const ssize_t got = ::read(reader, line, sizeof line);
  ::close(reader);
  ASSERT_TRUE(held);
  EXPECT_LE(got, 0) << std::string(line, got > 0 ? got : 0);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Contains(run.err, "could not be written")) << run.err;
}

// The lock file is velnor's own: in a database folder others may write to
// (its group's, here), one with a second name is a hard link that could
// name any file, and taking the lock would empty it; it is refused among
// the checks. In a folder of the user's own a second name is theirs (a
// snapshot made with cp -al).
TEST_F(CollectGuardTest, ALockFileWithASecondNameIsNotTaken) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const fs::path precious = dir_.path() / "precious";
  WriteFile(precious, "precious\n");
  fs::remove(LockPath());
  fs::create_hard_link(precious, LockPath());
  fs::permissions(db_dir_, fs::perms::group_write, fs::perm_options::add);
  VelnorRun run = Collect("2024-06-02");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, LockPath().string() + " has 2 names"))
      << run.err;
  EXPECT_EQ(ReadFile(precious), "precious\n");
  EXPECT_EQ(State(), before);

  fs::permissions(db_dir_, fs::perms::group_write, fs::perm_options::remove);
  VelnorRun own = Collect("2024-06-02");
  EXPECT_EQ(own.status, 0) << own.err;
}

// A file another user made in /tmp at the error log's or a listing's name
// is theirs to read and to swap: a root run does not write into it.
TEST_F(CollectGuardTest, FilesOthersMadeInPublicFoldersAreNotWrittenInto) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root gives a file to another";
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const fs::path open = dir_.path() / "open";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  std::vector<std::string> log_args = Arguments("2024-06-02");
  *(std::find(log_args.begin(), log_args.end(), "--error-log") + 1) =
      (open / "errors.log").string();
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"errors.log", log_args},
      {"listing.csv",
       Arguments("2024-06-02",
                 {"--raw", "--output", (open / "listing.csv").string()})},
  };
  for (const auto& [name, args] : cases) {
    SCOPED_TRACE(name);
    WriteFile(open / name, "theirs\n");
    ASSERT_EQ(::chown((open / name).c_str(), 65534, static_cast<gid_t>(-1)), 0);
    VelnorRun run = RunVelnor(args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, (open / name).string() +
                                      " is a file another user made, in " +
                                      open.string()))
        << run.err;
    EXPECT_EQ(ReadFile(open / name), "theirs\n");
  }
  EXPECT_EQ(State(), before);
}

// An output named after a database (the shell completes a name into the
// database folder as readily as anywhere) is refused, and the database is
// left as it was: a report, a listing or error-log lines written there
// would destroy the counts or the ledger.
TEST_F(CollectGuardTest, OutputsNamingADatabaseAreRefusedAndItIsUntouched) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::string hour_db = Database(reportdb::ReportKind::kHitsByHour);
  const std::string ledger =
      (db_dir_ / "velnor_ledger_SRV1_web.sqlite").string();
  const std::string statistics =
      (db_dir_ / "velnor_statistics_SRV1_web.sqlite").string();
  const std::string db = db_dir_.string();
  struct Case {
    std::string database;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {hour_db,
       Words("report --db-dir " + db + " --server SRV1 --output " + hour_db)},
      {ledger,
       Words("report --db-dir " + db + " --format html --output " + ledger)},
      {ledger, Arguments("2024-06-02", {"--raw", "--output", ledger})},
      {statistics,
       Words("collect --server SRV1 --no-tui --site "
             "Site,D:\\Logs,1 --db-dir " +
             db + " --share-root " + (dir_.path() / "shares").string() +
             " --from 2024-06-02 --to 2024-06-02 --error-log " + statistics)},
  };
  const std::vector<Rows> before = State();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " into " + c.database);
    const std::string bytes = ReadFile(c.database);
    VelnorRun run = RunVelnor(c.args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "is a database")) << run.err;
    EXPECT_EQ(ReadFile(c.database), bytes);
    EXPECT_EQ(State(), before);
  }
}

// The share root holds the servers' own shares: a listing or error log
// named there, such as the log the run reads, is refused and the log read
// as it was.
TEST_F(CollectGuardTest, OutputsInTheServersSharesAreRefusedAndTheLogRead) {
  const fs::path log = logs_ / "u_ex240602.log";
  const std::string bytes = ReadFile(log);
  std::vector<std::vector<std::string>> cases = {
      Arguments("2024-06-02",
                {"--create-db", "--raw", "--output", log.string()}),
      Arguments("2024-06-02",
                {"--create-db", "--raw", "--output", "shares/srv1/list.csv"}),
      Arguments("2024-06-02", {"--create-db"}),
  };
  // The last one's error log, in the site's log folder.
  std::vector<std::string>& in_logs = cases[2];
  *(std::find(in_logs.begin(), in_logs.end(), "--error-log") + 1) =
      (logs_ / "errors.log").string();
  for (const std::vector<std::string>& args : cases) {
    VelnorRun run = RunVelnor(args, dir_.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "lies in the shares of SRV1")) << run.err;
  }
  EXPECT_EQ(ReadFile(log), bytes);
  EXPECT_FALSE(fs::exists(dir_.path() / "shares/srv1/list.csv"));
  EXPECT_FALSE(fs::exists(logs_ / "errors.log"));
  EXPECT_FALSE(fs::exists(Database(reportdb::ReportKind::kHitsByHour)));
  VelnorRun listed = RunVelnor(
      Arguments("2024-06-02",
                {"--create-db", "--raw", "--output", "shares/list.csv"}),
      dir_.path());
  EXPECT_EQ(listed.status, 0) << listed.err;
}

// A pipe, a device or a folder at a database's name is no database: collect
// refuses it by what it is, before touching anything, and init-db does not
// take it for a database it leaves as it is.
TEST_F(CollectGuardTest, NoFileAtADatabasesNameIsRefusedForWhatItIs) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();
  const std::string month_db = Database(reportdb::ReportKind::kHitsByMonth);
  const fs::path ledger = db_dir_ / "velnor_ledger_SRV1_web.sqlite";
  const fs::path statistics = db_dir_ / "velnor_statistics_SRV1_web.sqlite";
  struct Planted {
    std::string kind;
    std::function<void(const fs::path&)> make;
  };
  const std::vector<Planted> planted = {
      {"a named pipe",
       [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); }},
      {"a character device",
       [](const fs::path& at) {
         ASSERT_EQ(::mknod(at.c_str(), S_IFCHR | 0644, ::makedev(1, 5)), 0);
       }},
      {"a folder", [](const fs::path& at) { fs::create_directory(at); }},
  };
  for (const fs::path& name : {fs::path(month_db), ledger, statistics}) {
    for (const Planted& plant : planted) {
      if (plant.kind == "a character device" && ::geteuid() != 0) continue;
      SCOPED_TRACE(name.filename().string() + " as " + plant.kind);
      const fs::path moved = dir_.path() / "moved";
      fs::rename(name, moved);
      plant.make(name);
      VelnorRun run = Collect("2024-06-02");
      EXPECT_EQ(run.status, 2) << run.err;
      EXPECT_TRUE(Contains(run.err, "is " + plant.kind + ", not a file"))
          << run.err;
      if (name != ledger) {
        VelnorRun init = RunVelnor(
            {"init-db", "--db-dir", db_dir_.string(), "--server", "SRV1"},
            dir_.path());
        EXPECT_EQ(init.status, 2) << init.out << init.err;
        EXPECT_TRUE(Contains(init.err, "is " + plant.kind + ", not a file"))
            << init.err;
      }
      fs::remove(name);
      fs::rename(moved, name);
      EXPECT_EQ(State(), before);
    }
  }
}

TEST_F(CollectGuardTest, SpecialFilesNamedLikeLogsAreSkippedAndTheRunGoesOn) {
  ASSERT_EQ(::mkfifo((logs_ / "u_ex240603.log").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", logs_ / "u_ex240604.log");
  fs::create_directories(logs_ / "u_ex240605.log");
  WriteFile(logs_ / "u_ex240606.log", IisLog("2024-06-06", 70));
  pid_t pid = StartVelnor(
      Arguments("2024-06-02", {"--create-db"}, "2024-06-06"), dir_.path());
  const bool ended = EndsWithin(pid, std::chrono::seconds(60));
  VelnorRun run = FinishVelnor(pid, dir_.path());
  ASSERT_TRUE(ended) << "the run hung on a special file";
  // Done, with the files that could not be read in the error log.
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(HitsCounted(db_dir_, "SRV1"), 20070);
  const std::string log = ReadFile(ErrorLogPath());
  EXPECT_TRUE(Contains(
      log, "W3SVC1/u_ex240603.log): it is a named pipe, not a regular file"))
      << log;
  EXPECT_TRUE(Contains(log, "u_ex240604.log is a symbolic link")) << log;
}

// A link, a FIFO or a folder named like a log is refused when read: the
// registry, which names the files a run reads, takes in none of them, and
// the run says no such file of the window went unread.
TEST_F(CollectGuardTest, OnlyRegularFilesAreRegistered) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const fs::path hour_db = Database(reportdb::ReportKind::kHitsByHour);
  testing::ExecSql(hour_db,
                   "insert into tblLogFiles values "
                   "('SRV1', '1', 'Site', 'u_ex240601.log')");
  const fs::path elsewhere = dir_.path() / "elsewhere";
  WriteFile(elsewhere / "u_ex240603.log", IisLog("2024-06-03", 30));
  ASSERT_EQ(::mkfifo((logs_ / "u_ex240604.log").c_str(), 0644), 0);
  fs::create_symlink(elsewhere / "u_ex240603.log", logs_ / "u_ex240603.log");
  fs::create_directory_symlink(elsewhere, logs_ / "u_ex240605.log");
  fs::create_directories(logs_ / "u_ex240606.log");
  VelnorRun skipped =
      RunVelnor(Arguments("2024-06-03", {}, "2024-06-06"), dir_.path());
  EXPECT_FALSE(Contains(skipped.err, "not registered")) << skipped.err;
  VelnorRun run =
      RunVelnor(Arguments("2024-06-02", {"--register-new-files"}, "2024-06-06"),
                dir_.path());
  EXPECT_TRUE(Contains(run.err, "registered 1 new log file of site 1"))
      << run.err;
  EXPECT_EQ(
      QueryRows(hour_db, "SELECT [Log File Name] FROM tblLogFiles ORDER BY 1"),
      (Rows{{"u_ex240601.log"}, {"u_ex240602.log"}}));
}

// Someone who may write to a server's log folder links a day's log to a file
// elsewhere, or the site's whole folder to another folder: a root run must
// read neither, count them, nor record them in the ledger as read.
TEST_F(CollectGuardTest, LinksInsideTheShareAreNotFollowed) {
  const fs::path elsewhere = dir_.path() / "elsewhere";
  WriteFile(elsewhere / "u_ex240603.log", IisLog("2024-06-03", 300));
  fs::create_symlink(elsewhere / "u_ex240603.log", logs_ / "u_ex240603.log");
  fs::create_directory_symlink(elsewhere, logs_.parent_path() / "W3SVC2");
  VelnorRun run = RunVelnor(
      Arguments("2024-06-01", {"--create-db", "--site", "Other,D:\\Logs,2"},
                "2024-06-03"),
      dir_.path());
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(HitsCounted(db_dir_, "SRV1"), 20500);
  const std::string log = ReadFile(ErrorLogPath());
  for (const fs::path& link :
       {logs_ / "u_ex240603.log", logs_.parent_path() / "W3SVC2"}) {
    EXPECT_TRUE(Contains(log, link.string() + " is a symbolic link"))
        << link << "\n"
        << log;
  }
  EXPECT_EQ(QueryRows(db_dir_ / "velnor_ledger_SRV1_web.sqlite",
                      "SELECT * FROM run_files WHERE file_name LIKE "
                      "'%u_ex240603%'"),
            Rows{});
}

// Sends `signal` to `pid` once it catches it and `delay` has passed, then
// waits for it to end: how long it took to end after the signal. Waiting for
// the handler first keeps a slow start on a loaded machine from turning the
// signal into an unhandled kill.
std::chrono::milliseconds SignalledAfter(pid_t pid, int signal,
                                         std::chrono::milliseconds delay) {
  EXPECT_TRUE(
      WaitFor([&] { return Catches(pid, signal); }, std::chrono::seconds(30)));
  std::this_thread::sleep_for(delay);
  EXPECT_FALSE(HasEnded(pid)) << "the run did not wait";
  auto sent = steady_clock::now();
  ::kill(pid, signal);
  EndsWithin(pid, std::chrono::seconds(20));
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      steady_clock::now() - sent);
}

TEST_F(CollectGuardTest, SigtermOrSigintEndsAWaitingRunWithinTwoSeconds) {
  ASSERT_EQ(Collect("2024-06-01", {"--create-db"}).status, 0);
  const std::vector<Rows> before = State();

  // Waiting for another run's lock.
  pid_t first = StartedAndStoppedHoldingTheLock();
  TempDir waiting_dir("collect_guard_waiting");
  pid_t waiting = StartVelnor(Arguments("2024-06-02", {"--wait", "600"}),
                              waiting_dir.path());
  EXPECT_LT(SignalledAfter(waiting, SIGTERM, std::chrono::milliseconds(500)),
            std::chrono::seconds(2));
  VelnorRun cancelled = FinishVelnor(waiting, waiting_dir.path());
  EXPECT_EQ(cancelled.status, 130) << cancelled.err;
  EXPECT_TRUE(Contains(cancelled.err, "cancelled")) << cancelled.err;
  ::kill(first, SIGKILL);
  FinishVelnor(first, dir_.path());
  EXPECT_EQ(State(), before);

  // Waiting for a database another program holds.
  VelnorRun interrupted;
  {
    HeldWriteLock other(Database(reportdb::ReportKind::kHitsByMonth));
    pid_t busy = StartVelnor(Arguments("2024-06-02", {"--wait", "600"}),
                             waiting_dir.path());
    EXPECT_LT(SignalledAfter(busy, SIGINT, std::chrono::milliseconds(1500)),
              std::chrono::seconds(2));
    interrupted = FinishVelnor(busy, waiting_dir.path());
  }
  EXPECT_EQ(interrupted.status, 130) << interrupted.err;
  EXPECT_TRUE(Contains(interrupted.err, "cancelled")) << interrupted.err;
  EXPECT_EQ(HitsCounted(db_dir_, "SRV1"), 500);
}

TEST_F(CollectGuardTest, SigtermEndsARunThatASilentSmbServerHolds) {
  // A server on loopback that takes connections and never answers.
  const int listener =
      ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const uint16_t port = FreePort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  ASSERT_EQ(
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address),
      0);
  ASSERT_EQ(::listen(listener, 8), 0);
  pid_t pid = StartVelnor(
      Words("collect --server 127.0.0.1 --no-tui --create-db --site "
            "Site,D:\\Logs,1 --from 2024-06-01 --to 2024-06-01 --db-dir " +
            db_dir_.string() + " --smb-port " + std::to_string(port) +
            " --smb-timeout 600"),
      dir_.path());
  // The client's first request is the sign that it waits for the answer.
  std::vector<int> accepted;
  const bool asked = WaitFor(
      [&] {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd >= 0) accepted.push_back(fd);
        for (int client : accepted) {
          char byte;
          if (::recv(client, &byte, 1, MSG_PEEK) == 1) return true;
        }
        return false;
      },
      std::chrono::seconds(30));
  EXPECT_TRUE(asked) << ReadFile(dir_.path() / "stderr");
  EXPECT_LT(SignalledAfter(pid, SIGTERM, std::chrono::milliseconds(300)),
            std::chrono::seconds(2));
  VelnorRun run = FinishVelnor(pid, dir_.path());
  for (int client : accepted) ::close(client);
  ::close(listener);
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_TRUE(Contains(run.err, "nothing of this run was stored")) << run.err;
}

TEST_F(CollectGuardTest, SigtermEndsARawListingThatNoOneReads) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  const int write_end = pipe_ends[1];
  pid_t pid = StartVelnor(
      Arguments("2024-06-02", {"--create-db", "--raw", "--format", "csv"}),
      dir_.path(), [write_end] { ::dup2(write_end, STDOUT_FILENO); });
  ::close(write_end);
  // The pipe full: the listing waits for a reader that never reads.
  int pending = 0;
  EXPECT_TRUE(WaitFor(
      [&] {
        return ::ioctl(pipe_ends[0], FIONREAD, &pending) == 0 &&
               pending >= 60 * 1024;
      },
      std::chrono::seconds(30)))
      << pending;
  EXPECT_LT(SignalledAfter(pid, SIGTERM, std::chrono::milliseconds(300)),
            std::chrono::seconds(2));
  VelnorRun run = FinishVelnor(pid, dir_.path());
  ::close(pipe_ends[0]);
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_TRUE(Contains(run.err, "the listing waited for its reader"))
      << run.err;
}

TEST_F(CollectGuardTest, AnOutputThatIsAPipeIsRefusedAtOnceAndNothingMade) {
  // A named pipe with no reader: opened for writing, it would wait for one.
  const fs::path fifo = dir_.path() / "listing.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::vector<std::vector<std::string>> commands = {
      Arguments("2024-06-02",
                {"--create-db", "--raw", "--output", fifo.string()}),
      {"report", "--db-dir", db_dir_.string(), "--server", "SRV1", "--output",
       fifo.string()},
  };
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    pid_t pid = StartVelnor(command, dir_.path());
    const bool ended = EndsWithin(pid, std::chrono::seconds(10));
    if (!ended) ::kill(pid, SIGKILL);
    VelnorRun run = FinishVelnor(pid, dir_.path());
    ASSERT_TRUE(ended) << "velnor waited for the pipe's reader";
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "is a named pipe, not a file")) << run.err;
    EXPECT_TRUE(Contains(run.err, "leave --output out")) << run.err;
    EXPECT_TRUE(fs::is_fifo(fifo));
    // Refused before anything was made: no lock, database, ledger or log.
    EXPECT_TRUE(fs::is_empty(db_dir_));
    EXPECT_FALSE(fs::exists(ErrorLogPath()));
  }
}

// An error log that is a pipe would give a failed run's lines to whoever
// reads it (or lose them with no reader), a device would swallow them: both
// are refused before anything is made, and without waiting for a reader.
TEST_F(CollectGuardTest, AnErrorLogThatIsAPipeOrADeviceIsRefusedAtOnce) {
  struct Planted {
    std::string kind;
    std::function<void(const fs::path&)> make;
  };
  int reader = -1;
  const std::vector<Planted> planted = {
      {"a named pipe",
       [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); }},
      // With a reader the pipe opens at once for writing.
      {"a named pipe",
       [&reader](const fs::path& at) {
         ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0);
         reader = ::open(at.c_str(), O_RDONLY | O_NONBLOCK);
         ASSERT_GE(reader, 0);
       }},
      {"a character device",
       [](const fs::path& at) {
         ASSERT_EQ(::mknod(at.c_str(), S_IFCHR | 0644, ::makedev(1, 3)), 0);
       }},
  };
  for (const Planted& plant : planted) {
    if (plant.kind == "a character device" && ::geteuid() != 0) continue;
    plant.make(ErrorLogPath());
    SCOPED_TRACE(plant.kind + (reader >= 0 ? " with a reader" : ""));
    pid_t pid =
        StartVelnor(Arguments("2024-06-02", {"--create-db"}), dir_.path());
    const bool ended = EndsWithin(pid, std::chrono::seconds(10));
    if (!ended) ::kill(pid, SIGKILL);
    VelnorRun run = FinishVelnor(pid, dir_.path());
    ASSERT_TRUE(ended) << "velnor waited on the error log";
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, "the error log " + ErrorLogPath().string() +
                                      " is " + plant.kind + ", not a file"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "help: give --error-log a log file"))
        << run.err;
    EXPECT_TRUE(fs::is_empty(db_dir_));
    if (reader >= 0) {
      char byte;
      EXPECT_LE(::read(reader, &byte, 1), 0) << "a line reached the pipe";
      ::close(reader);
      reader = -1;
    }
    fs::remove(ErrorLogPath());
  }
}

TEST_F(CollectGuardTest, AServerTheShareRootDoesNotHoldMakesNothing) {
  std::vector<std::string> args = Arguments("2024-06-01", {"--create-db"});
  *std::find(args.begin(), args.end(), "SRV1") = "SRV2";
  VelnorRun run = RunVelnor(args, dir_.path());
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "holds no folder of the server SRV2"))
      << run.err;
  EXPECT_TRUE(Contains(run.err, "help: mount or copy its shares there"))
      << run.err;
  EXPECT_TRUE(fs::is_empty(db_dir_));
  EXPECT_FALSE(fs::exists(ErrorLogPath()));
}

TEST_F(CollectGuardTest, AnEmptyShareRootIsAMistakeAndReachesNoNetwork) {
  // In a network namespace of its own nothing can leave the machine, and a
  // look-up of the server over SMB fails at once rather than hanging.
  if (Shell("unshare -n true").status != 0) {
    VELNOR_SKIP_WITHOUT_TOOL(
        "cannot make a network namespace here (unshare -n: root, or user "
        "namespaces enabled)");
  }
  for (const std::string way : {"option", "environment"}) {
    SCOPED_TRACE(way);
    std::vector<std::string> args = Arguments("2024-06-01", {"--create-db"});
    std::string command =
        way == "option" ? "unshare -n " : "VELNOR_SHARE_ROOT= unshare -n ";
    command += ShellQuoted(VELNOR_EXE);
    for (size_t i = 0; i < args.size(); ++i) {
      // The share root given, by option or environment, as empty.
      if (args[i] == "--share-root") {
        if (way == "option") command += " --share-root ''";
        ++i;
        continue;
      }
      // Appended apart: GCC 12 warns falsely (-Wrestrict) of a literal +
      // a temporary in optimised builds.
      command += ' ';
      command += ShellQuoted(args[i]);
    }
    ProgramRun run = Shell(command + " 2>&1");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, way == "option"
                                      ? "--share-root is empty"
                                      : "VELNOR_SHARE_ROOT is empty"))
        << run.out;
    EXPECT_FALSE(fs::exists(Database(reportdb::ReportKind::kHitsByHour)));
  }
}

}  // namespace
}  // namespace velnor::host
