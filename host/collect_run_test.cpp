// What a `velnor collect` run tells its user, tried as a user runs it: the
// built binary without a terminal, its summary and exit status, the error
// log and the report databases it leaves. The summary's error lines, the
// garbled-line counts, missing folders, unregistered files, the server
// name's case, the plain progress lines, and signals from the start of the
// command to the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/testing/report_rows.h"
#include "host/testing/velnor_test_support.h"

namespace velnor::host {
namespace {

using testing::Catches;
using testing::Contains;
using testing::EndsWithin;
using testing::ExecSql;
using testing::Lines;
using testing::QueryRows;
using testing::ReadFile;
using testing::Rows;
using testing::TempDir;
using testing::WaitFor;
using testing::WriteFile;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

class CollectRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ / "db");
    ASSERT_EQ(Velnor({"init-db", "--db-dir", "db", "--server", "SRV1"}).status,
              0);
  }

  VelnorRun Velnor(const std::vector<std::string>& args) {
    return RunVelnor(args, dir_);
  }

  // collect for SRV1 through the share root "shares", 3 to 5 June 2024.
  static std::vector<std::string> Args(std::vector<std::string> more) {
    more.insert(more.begin(), {"--share-root", "shares"});
    return CollectArgs("SRV1", "db", std::move(more));
  }
  VelnorRun Collect(std::vector<std::string> more) {
    return Velnor(Args(std::move(more)));
  }

  fs::path HourDb() const {
    return dir_ / "db/QDX_UAWebLogHitsByHour_SRV1.mdb";
  }
  Rows Totals() const { return SiteTotalRows(dir_ / "db", "SRV1"); }
  std::string ErrorLog() const {
    return ReadFile(dir_ / "db/velnor-errors.log");
  }

  void WriteLog(const std::string& folder, const std::string& name,
                const std::string& text) {
    WriteFile(dir_ / "shares/SRV1" / folder / name, text);
  }

  TempDir tmp_{"collect_run_test"};
  const fs::path& dir_ = tmp_.path();
};

TEST_F(CollectRunTest, SummaryShowsTheRunsFirstErrorLinesAndGarbledCounts) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log",
           "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n"
           "2024-06-03 10:00:00 10.0.0.1 GET /a.htm 200\n"
           "2024-06-03 10:00:01 10.0.0.1 GET /b.htm\n"
           "2024-06-03 10:00:02 10.0.0.1 GET /c.htm 200\n"
           "garbage\n"
           "2024-06-03 10:00:03 10.0.0.1 GET /d.htm 200\n");
  // The file that is there, then six registered files that are not.
  std::string rows = "('SRV1', '1', 'Main Site', 'u_ex240603.log')";
  for (int day = 4; day <= 9; ++day) {
    rows += ", ('SRV1', '1', 'Main Site', 'u_ex24060" + std::to_string(day) +
            ".log')";
  }
  ExecSql(HourDb(), "insert into tblLogFiles values " + rows);

  VelnorRun run = Collect({"--no-tui", "--site", "Main Site,C:\\logs,1"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Totals(), (Rows{{"1", "3"}}));

  // One line for the garbled lines of the file, one per missing file.
  const std::vector<std::string> log = Lines(ErrorLog());
  ASSERT_EQ(log.size(), 7u) << ErrorLog();
  EXPECT_TRUE(Contains(log[0], "velnor collect"));
  EXPECT_TRUE(
      Contains(log[0],
               "\t2 lines of \\\\SRV1\\C$\\logs\\W3SVC1\\u_ex240603.log are "
               "not a record of the log's #Fields layout and were skipped; "
               "the first is line 3. "))
      << log[0];
  EXPECT_TRUE(Contains(log[6], "u_ex240609.log")) << log[6];

  // The summary counts what this run wrote and shows the first five whole,
  // wrapped: the garbled-lines one is longer than any line.
  const std::string summary =
      run.err.substr(run.err.find("collected 1 site of SRV1"));
  const std::vector<std::string> lines = Lines(summary);
  ASSERT_GE(lines.size(), 8u) << summary;
  EXPECT_EQ(lines[1], "error log: 7 new lines in db/velnor-errors.log");
  EXPECT_EQ(lines.back(), "  and 2 more in db/velnor-errors.log");
  std::vector<std::string> shown;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 100u) << lines[i];
    if (lines[i].starts_with("    ")) {
      ASSERT_FALSE(shown.empty()) << summary;
      // Appended, not " " + ...: GCC 12 warns falsely (-Wrestrict) of a
      // literal + a temporary in optimised builds.
      shown.back().append(" ").append(lines[i], 4);
    } else {
      ASSERT_TRUE(lines[i].starts_with("  ")) << lines[i];
      shown.push_back(lines[i].substr(2));
    }
  }
  ASSERT_EQ(shown.size(), 5u) << summary;
  EXPECT_GT(shown[0].size(), 200u);
  for (size_t i = 0; i < shown.size(); ++i) {
    std::string entry = log[i];
    entry.erase(entry.find_last_not_of('\r') + 1);
    const std::string description = entry.substr(entry.rfind('\t') + 1);
    EXPECT_EQ(
        shown[i],
        (i == 0 ? "ReadLogFile: " : "CollectDataFromLogFile: ") + description);
  }
  EXPECT_TRUE(Contains(shown[1], "u_ex240604.log")) << shown[1];
}

// Sites read side by side leave what a run reading them one after another
// leaves: the same rows in the same order, the same ledger, and the same
// error-log lines in the same order, from garbled lines and undated
// records in several files of several sites.
TEST_F(CollectRunTest, TwoWorkersLeaveTheRowsLedgerStatisticsAndErrorsOfOne) {
  for (int site : {1, 2, 3}) {
    for (int day : {3, 4}) {
      std::string log =
          "#Fields: date time c-ip cs-method cs-uri-stem sc-status sc-bytes "
          "time-taken\n";
      for (int i = 0; i < 4000; ++i) {
        log += "2024-06-0" + std::to_string(day) +
               " 10:" + std::to_string(10 + i % 50) + ":00 10.0.0." +
               std::to_string(i % (9 * site)) + " GET /s" +
               std::to_string(site) + "/p" + std::to_string(i % (20 * site)) +
               ".htm " + std::to_string(200 + 100 * (i % 4)) + " " +
               std::to_string(i * site) + " " + std::to_string(i % 1500) + "\n";
        if (i % (700 * site) == 5) log += "garbled " + std::to_string(i) + "\n";
        if (i == 1000 * (day - 2) + site) {
          log += "- 10:00:00 10.0.0.1 GET /undated.htm 200 10 5\n";
        }
      }
      WriteLog("C$/logs/W3SVC" + std::to_string(site),
               "u_ex24060" + std::to_string(day) + ".log", log);
    }
  }
  std::vector<std::vector<std::string>> error_lines;
  std::vector<std::vector<Rows>> states;
  for (const char* workers : {"1", "2"}) {
    SCOPED_TRACE(std::string("--workers ") + workers);
    const std::string db = std::string("db") + workers;
    fs::create_directory(dir_ / db);
    ASSERT_EQ(Velnor({"init-db", "--db-dir", db, "--server", "SRV1"}).status,
              0);
    VelnorRun run = Velnor(CollectArgs(
        "SRV1", db,
        {"--share-root", "shares", "--no-tui", "--workers", workers, "--site",
         "One,C:\\logs,1", "--site", "Two,C:\\logs,2", "--site",
         "Gone,C:\\logs,9", "--site", "Three,C:\\logs,3"}));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Contains(run.err, "24000 records in") &&
                  Contains(run.err, "2 sites at once"),
              std::string(workers) == "2")
        << run.err;
    // Sites read side by side share one measure, which names no file.
    EXPECT_TRUE(Contains(run.err, std::string(workers) == "2"
                                      ? "Completed | Collecting data for site "
                                        "'Three' | all sites: "
                                      : "Completed | Collecting data for site "
                                        "'Three' | u_ex240604.log: "))
        << run.err;
    std::vector<std::string> lines;
    for (const std::string& line :
         Lines(ReadFile(dir_ / db / "velnor-errors.log"))) {
      lines.push_back(line.substr(line.find('\t')));
    }
    error_lines.push_back(lines);
    states.push_back(DatabaseState(dir_ / db, "SRV1", true));
    ASSERT_EQ(states.back().size(), 13u) << "the statistics are kept";
  }
  // An undated record and the garbled lines of each file, in site order
  // (a site whose folder IIS has not made is no error).
  ASSERT_EQ(error_lines[0].size(), 12u)
      << ::testing::PrintToString(error_lines[0]);
  EXPECT_TRUE(Contains(error_lines[0][0], "u_ex240603.log"))
      << error_lines[0][0];
  EXPECT_TRUE(Contains(error_lines[0].back(), "W3SVC3"))
      << error_lines[0].back();
  EXPECT_EQ(error_lines[1], error_lines[0]);
  ASSERT_EQ(states[1].size(), states[0].size());
  for (size_t i = 0; i < states[0].size(); ++i) {
    EXPECT_EQ(states[1][i], states[0][i]) << "table " << i;
  }
}

TEST_F(CollectRunTest, AFolderIisHasNotMadeIsAWarningAMissingDirectoryAnError) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", WebLog(10, "2024-06-03"));

  VelnorRun fresh = Collect({"--no-tui", "--site", "Main Site,C:\\logs,1",
                             "--site", "New Site,C:\\logs,2"});
  EXPECT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_TRUE(
      Contains(fresh.err,
               "velnor: warning: the log folder \\\\SRV1\\C$\\logs\\W3SVC2 "
               "of site 2 (New Site) does not exist yet"))
      << fresh.err;
  EXPECT_TRUE(Contains(fresh.err, "error log: 0 new lines")) << fresh.err;
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(Totals(), (Rows{{"1", "10"}, {"2", "0"}}));

  // A log directory that is not there, and a share the root does not hold
  // (never looked for over SMB), are errors.
  VelnorRun missing = Collect({"--no-tui", "--site", "Gone,C:\\nologs,3",
                               "--site", "Elsewhere,E:\\logs,4"});
  EXPECT_EQ(missing.status, 1) << missing.err;
  EXPECT_FALSE(Contains(missing.err, "warning")) << missing.err;
  const std::vector<std::string> log = Lines(ErrorLog());
  ASSERT_EQ(log.size(), 2u) << ErrorLog();
  EXPECT_TRUE(Contains(log[0], "ListLogFolder") &&
              Contains(log[0], "\\\\SRV1\\C$\\nologs\\W3SVC3"))
      << log[0];
  EXPECT_TRUE(Contains(log[1], "the share root shares has no folder SRV1/E$"))
      << log[1];
  EXPECT_FALSE(Contains(log[1], "SMB")) << log[1];
}

TEST_F(CollectRunTest, UnregisteredFilesAreNamedAndReadOnceRegistered) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", WebLog(5, "2024-06-03"));
  WriteLog("C$/logs/W3SVC1", "u_ex240604.log", WebLog(7, "2024-06-04"));
  WriteLog("D$/Logs/W3SVC2", "u_ex240604.log", WebLog(4, "2024-06-04"));
  const fs::path folder = dir_ / "shares/SRV1/C$/logs/W3SVC1";
  fs::last_write_time(
      folder / "u_ex240603.log",
      fs::last_write_time(folder / "u_ex240604.log") - std::chrono::hours(24));
  ExecSql(HourDb(),
          "insert into tblLogFiles values "
          "('SRV1', '1', 'Main Site', 'u_ex240603.log')");
  const std::vector<std::string> sites{"--site", "Main Site,C:\\logs,1",
                                       "--site", "Intranet,D:\\Logs,2"};

  std::vector<std::string> args = sites;
  args.emplace_back("--no-tui");
  VelnorRun run = Collect(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "\nsite 1 (Main Site): 1 log file in "
                       "\\\\SRV1\\C$\\logs\\W3SVC1 is not registered (newest "
                       "u_ex240604.log) and was not read; --register-new-files "
                       "registers and reads it\n"))
      << run.err;
  EXPECT_TRUE(
      Contains(run.err,
               "\nsite 2 (Intranet): 1 log file in "
               "\\\\SRV1\\D$\\Logs\\W3SVC2 is not registered (newest "
               "u_ex240604.log) and was not read; --log-site-level reads "
               "the folder (--refresh-registry also registers it)\n"))
      << run.err;
  EXPECT_EQ(Totals(), (Rows{{"1", "5"}, {"2", "0"}}));

  // The same days again, on purpose, now with every file.
  args.insert(args.end(),
              {"--register-new-files", "--log-site-level", "--recount"});
  VelnorRun both = Collect(args);
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_TRUE(
      Contains(both.err, "registered 1 new log file of site 1 (Main Site)"))
      << both.err;
  EXPECT_FALSE(Contains(both.err, "not registered")) << both.err;
  EXPECT_EQ(Totals(), (Rows{{"1", "5"}, {"2", "0"}, {"1", "12"}, {"2", "4"}}));
  EXPECT_EQ(
      QueryRows(HourDb(), "select [Log File Name] from tblLogFiles order by 1"),
      (Rows{{"u_ex240603.log"}, {"u_ex240604.log"}}));
}

TEST_F(CollectRunTest, TheServerNameTakesTheSpellingOfTheDatabases) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", WebLog(3, "2024-06-03"));
  auto names = [&] {
    std::set<std::string> found;
    for (const auto& file : fs::directory_iterator(dir_ / "db")) {
      if (file.path().extension() == ".mdb") {
        found.insert(file.path().filename());
      }
    }
    return found;
  };
  const std::set<std::string> before = names();
  for (std::vector<std::string> more :
       {std::vector<std::string>{"--server", "srv1"},
        std::vector<std::string>{"--server", "Srv1", "--create-db"}}) {
    std::vector<std::string> args =
        Args({"--no-tui", "--recount", "--site", "S,C:\\logs,1"});
    args[2] = more[1];
    args.insert(args.end(), more.begin() + 2, more.end());
    VelnorRun run = Velnor(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "collected 1 site of SRV1 (web): 3 records"))
        << run.err;
    EXPECT_EQ(names(), before);
  }
  EXPECT_EQ(Totals(), (Rows{{"1", "3"}, {"1", "3"}}));

  // Two sets that differ only in case are one server twice (init-db makes
  // none such: here another program made the second).
  for (const std::string& name : names()) {
    const std::string lower = name.substr(0, name.size() - 8) + "srv1.mdb";
    fs::copy_file(dir_ / "db" / name, dir_ / "db" / lower);
  }
  VelnorRun twice = Collect({"--no-tui", "--site", "S,C:\\logs,1"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_TRUE(
      Contains(twice.err,
               "velnor: error: report databases of SRV1 and srv1 exist in "
               "db"))
      << twice.err;
}

// The lines of `file` as they appear, with the time each was first seen.
class LineWatcher {
 public:
  explicit LineWatcher(fs::path file) : file_(std::move(file)) {}
  void Poll() {
    std::vector<std::string> now = Lines(ReadFile(file_));
    // A last line without its line end is not complete yet.
    const std::string text = ReadFile(file_);
    if (!text.empty() && text.back() != '\n' && !now.empty()) now.pop_back();
    while (seen_.size() < now.size()) {
      seen_.push_back({now[seen_.size()], Clock::now()});
    }
  }
  struct Seen {
    std::string line;
    Clock::time_point at;
  };
  std::vector<Seen> Matching(const std::string& part) const {
    std::vector<Seen> found;
    for (const Seen& seen : seen_) {
      if (Contains(seen.line, part)) found.push_back(seen);
    }
    return found;
  }

 private:
  fs::path file_;
  std::vector<Seen> seen_;
};

TEST_F(CollectRunTest, PlainProgressLinesAndSignalsThatCancelTheRun) {
  const std::vector<std::string> site{"--no-tui", "--site",
                                      "Main Site,C:\\logs,1"};

  // SIGINT in the middle of a counting run, once its progress is seen:
  // enough records that even an optimised build, throttled, is still
  // reading after three progress lines.
  WriteLog("C$/logs/W3SVC1", "u_ex240604.log", WebLog(1000000, "2024-06-04"));
  pid_t pid = StartVelnor(Args(site), dir_);
  auto throttle = std::make_unique<Throttle>(pid);
  LineWatcher watcher(dir_ / "stderr");
  bool foreign_written = false;
  auto progress = [&] {
    watcher.Poll();
    auto lines = watcher.Matching("| Collecting data for site 'Main Site'");
    if (!lines.empty() && !foreign_written) {
      // Another process appends to the same error log meanwhile.
      std::ofstream(dir_ / "db/velnor-errors.log", std::ios::app)
          << "a line of someone else's\r\n";
      foreign_written = true;
    }
    return lines.size() >= 3 && Contains(lines.back().line, " records/s");
  };
  EXPECT_TRUE(WaitFor(progress, seconds(90)));
  // Signalled while still throttled: let go first, a fast build could
  // count the rest of the file before the signal.
  kill(pid, SIGINT);
  throttle.reset();
  VelnorRun run = FinishVelnor(pid, dir_);
  EXPECT_EQ(run.status, 130) << run.err;

  const std::regex kLine(
      "\\d+% Completed \\| Collecting data for site 'Main Site'"
      "( \\| u_ex240604\\.log: [0-9.]+ of [0-9.]+ MB, \\d+ records/s"
      "(, ~[0-9a-z ]+ left)?)?");
  auto lines = watcher.Matching("Completed");
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i].line, kLine)) << lines[i].line;
    // The last may be the state the window closed in, printed at once.
    if (i > 0 && i + 1 < lines.size()) {
      EXPECT_GE(lines[i].at - lines[i - 1].at, milliseconds(1500))
          << "line " << i << " came too soon";
    }
  }
  const long counted = HitsCounted(dir_ / "db", "SRV1");
  EXPECT_GT(counted, 0);
  EXPECT_EQ(Totals(), (Rows{{"1", std::to_string(counted)}}));
  EXPECT_TRUE(Contains(run.err, "Interrupted: Cancel\n")) << run.err;
  EXPECT_TRUE(Contains(run.err, "cancelled after 1 site of SRV1 (web): " +
                                    std::to_string(counted) + " records in"))
      << run.err;
  EXPECT_TRUE(Contains(run.err, "error log: 0 new lines")) << run.err;
  for (const auto& file : fs::directory_iterator(dir_ / "db")) {
    EXPECT_FALSE(file.path().string().ends_with("-wal")) << file.path();
  }

  // SIGTERM in the middle of a raw listing, which is written as it goes:
  // what was listed before the signal is there, whole.
  constexpr long kRecords = 400000;
  WriteLog("C$/logs/W3SVC4", "u_ex240604.log", WebLog(kRecords, "2024-06-04"));
  std::vector<std::string> raw =
      Args({"--no-tui", "--site", "Listed,C:\\logs,4"});
  raw.insert(raw.end(), {"--raw", "--format", "csv", "--output", "list.csv"});
  pid = StartVelnor(raw, dir_);
  throttle = std::make_unique<Throttle>(pid);
  EXPECT_TRUE(WaitFor(
      [&] {
        return fs::exists(dir_ / "list.csv") &&
               fs::file_size(dir_ / "list.csv") > 0;
      },
      seconds(90)));
  kill(pid, SIGTERM);
  throttle.reset();
  run = FinishVelnor(pid, dir_);
  EXPECT_EQ(run.status, 130) << run.err;
  std::smatch listed;
  ASSERT_TRUE(std::regex_search(run.err, listed,
                                std::regex("cancelled after 1 site of SRV1 "
                                           "\\(web\\): (\\d+) records")))
      << run.err;
  EXPECT_LT(std::stol(listed[1]), kRecords);
  const std::string csv = ReadFile(dir_ / "list.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), std::stol(listed[1]) + 1);
  // The last row is whole: all seven fields and its line end.
  const std::string last = csv.substr(csv.rfind('\n', csv.size() - 2) + 1);
  EXPECT_EQ(std::count(last.begin(), last.end(), ','), 6) << last;
  EXPECT_TRUE(last.ends_with("\r\n")) << last;

  // --quiet: nothing but the summary.
  WriteLog("C$/logs/W3SVC2", "u_ex240604.log", WebLog(4, "2024-06-04"));
  VelnorRun quiet = Collect({"--quiet", "--site", "Small,C:\\logs,2"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_TRUE(std::regex_match(
      quiet.err, std::regex("collected 1 site of SRV1 \\(web\\): 4 records in "
                            "[0-9.]+ s \\(\\d+ records/s\\)\nerror log: 0 new "
                            "lines in db/velnor-errors.log\n")))
      << quiet.err;
}

// The bar follows the bytes read of the run's logs, not the files done: a
// site with one large file shows its percentage grow while it is read, and
// the last line, the state the window closed in, says 100.
TEST_F(CollectRunTest, ThePercentageGrowsByBytesReadOnAOneFileSite) {
  // Enough records that even an optimised build, throttled, reads for
  // several of the two-second intervals between progress lines.
  constexpr long kRecords = 500000;
  WriteLog("C$/logs/W3SVC1", "u_ex240604.log", WebLog(kRecords, "2024-06-04"));
  pid_t pid =
      StartVelnor(Args({"--no-tui", "--site", "Main Site,C:\\logs,1"}), dir_);
  {
    // Throttled until a percentage between 0 and 100 is shown: the rest
    // may go at full speed.
    Throttle throttle(pid);
    EXPECT_TRUE(WaitFor(
        [&] {
          return std::regex_search(ReadFile(dir_ / "stderr"),
                                   std::regex("\\b[1-9]\\d?% Completed"));
        },
        seconds(90)));
  }
  VelnorRun run = FinishVelnor(pid, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<int> percentages;
  static const std::regex kPercent("(\\d+)% Completed \\| Collecting data");
  std::istringstream lines(run.err);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, kPercent)) {
      percentages.push_back(std::stoi(match[1]));
    }
  }
  ASSERT_GE(percentages.size(), 3u) << run.err;
  EXPECT_EQ(percentages.back(), 100) << run.err;
  EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()))
      << run.err;
  const long between = std::count_if(percentages.begin(), percentages.end(),
                                     [](int p) { return p > 0 && p < 100; });
  EXPECT_GE(between, 1) << run.err;
  EXPECT_EQ(HitsCounted(dir_ / "db", "SRV1"), kRecords);
}

// A recount cancelled half-way: its note says what the next runs do, and
// they do it: a run without --recount counts nothing more of the day
// counted whole before, another --recount counts it again from its start.
TEST_F(CollectRunTest, ACancelledRecountSaysTrulyWhatTheNextRunDoes) {
  // Enough that even an optimised build, throttled, is still reading when
  // the first progress line with a rate shows.
  constexpr long kRecords = 600000;
  WriteLog("C$/logs/W3SVC1", "u_ex240604.log", WebLog(kRecords, "2024-06-04"));
  const std::vector<std::string> site{"--no-tui", "--site",
                                      "Main Site,C:\\logs,1"};
  ASSERT_EQ(Collect(site).status, 0);
  ASSERT_EQ(HitsCounted(dir_ / "db", "SRV1"), kRecords);

  std::vector<std::string> recount = site;
  recount.emplace_back("--recount");
  pid_t pid = StartVelnor(Args(recount), dir_);
  {
    // The interrupt comes while the run is throttled: let go first, a fast
    // build could count the rest of the file before it.
    Throttle throttle(pid);
    LineWatcher watcher(dir_ / "stderr");
    EXPECT_TRUE(WaitFor(
        [&] {
          watcher.Poll();
          auto lines = watcher.Matching("Completed | Collecting data");
          return !lines.empty() && Contains(lines.back().line, " records/s");
        },
        seconds(90)));
    kill(pid, SIGINT);
  }
  VelnorRun cancelled = FinishVelnor(pid, dir_);
  ASSERT_EQ(cancelled.status, 130) << cancelled.err;
  EXPECT_TRUE(Contains(cancelled.err,
                       "ledger: run 2 was cancelled: what it counted again so "
                       "far stays in the databases beside the earlier counts; "
                       "a run without --recount counts nothing more of the "
                       "days counted whole before it (it passes over their "
                       "records), and another --recount counts them again "
                       "from their start"))
      << cancelled.err;
  const long after_cancel = HitsCounted(dir_ / "db", "SRV1");
  EXPECT_GT(after_cancel, kRecords);
  EXPECT_LT(after_cancel, 2 * kRecords);

  VelnorRun plain = Collect(site);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_TRUE(Contains(plain.err, "(web): 0 records in ")) << plain.err;
  EXPECT_EQ(HitsCounted(dir_ / "db", "SRV1"), after_cancel);
  VelnorRun again = Collect(recount);
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(HitsCounted(dir_ / "db", "SRV1"), after_cancel + kRecords);
}

TEST_F(CollectRunTest, SignalsAreHonouredFromTheStartAndInsideAnyFile) {
  // A gzip of 1 GiB of blank lines, as 1024 members of 1 MiB each.
  std::string blank(1 << 20, '\n');
  uLongf packed_size = compressBound(static_cast<uLong>(blank.size())) + 32;
  std::string packed(packed_size, '\0');
  z_stream z{};
  deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(blank.data());
  z.avail_in = static_cast<uInt>(blank.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  packed.resize(z.total_out);
  deflateEnd(&z);
  std::string members;
  for (int i = 0; i < 1024; ++i) members += packed;
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log.gz", members);

  // A sites file that is a pipe holds the command in its checks until the
  // test writes to it: the interrupt comes before the run.
  const fs::path fifo = dir_ / "sites.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  pid_t pid = StartVelnor(Args({"--no-tui", "--sites", "sites.fifo"}), dir_);
  EXPECT_TRUE(WaitFor([&] { return Catches(pid, SIGINT); }, seconds(30)));
  kill(pid, SIGINT);
  std::ofstream(fifo) << "Main Site,C:\\logs,1\n";
  VelnorRun early = FinishVelnor(pid, dir_);
  EXPECT_EQ(early.status, 130) << early.err;
  EXPECT_TRUE(Contains(early.err,
                       "velnor: cancelled before the run started; "
                       "nothing was collected\n"))
      << early.err;
  EXPECT_EQ(Totals(), Rows());
  EXPECT_FALSE(fs::exists(dir_ / "db/velnor-errors.log"));
  // One that no program writes is left at SIGTERM.
  for (std::vector<std::string> args :
       {Args({"--no-tui", "--sites", "sites.fifo"}),
        Args({"--no-tui", "--windows-dirs", "sites.fifo", "--site",
              "Main Site,C:\\logs,1"})}) {
    pid = StartVelnor(args, dir_);
    EXPECT_TRUE(WaitFor([&] { return Catches(pid, SIGTERM); }, seconds(30)));
    kill(pid, SIGTERM);
    EXPECT_TRUE(EndsWithin(pid, seconds(5))) << args.back() << " still opened";
    EXPECT_EQ(FinishVelnor(pid, dir_).status, 130) << args.back();
  }

  pid = StartVelnor(Args({"--no-tui", "--site", "Main Site,C:\\logs,1"}), dir_);
  EXPECT_TRUE(WaitForStderr(dir_, "Collecting data for", seconds(60)));
  std::this_thread::sleep_for(milliseconds(300));
  kill(pid, SIGINT);
  EXPECT_TRUE(EndsWithin(pid, seconds(5)))
      << "still reading blank lines 5 s after the signal";
  VelnorRun late = FinishVelnor(pid, dir_);
  EXPECT_EQ(late.status, 130) << late.err;
  EXPECT_EQ(Totals(), (Rows{{"1", "0"}}));
}

// Every check comes before anything is made or written: a refused run
// leaves a fresh folder as it was, --create-db or not, and an --output
// file untouched.
TEST_F(CollectRunTest, ARefusedRunMakesAndWritesNothing) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", WebLog(5, "2024-06-03"));
  // Finished long ago, so that its day is counted whole.
  const timeval finished[2] = {{1717460000, 0}, {1717460000, 0}};
  ASSERT_EQ(
      ::utimes((dir_ / "shares/SRV1/C$/logs/W3SVC1/u_ex240603.log").c_str(),
               finished),
      0);
  fs::create_directory(dir_ / "fresh");
  WriteFile(dir_ / "out.csv", "kept\n");
  // Not even the run lock, taken to read the ledger, is left behind.
  auto made = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "fresh")) {
      names.insert(entry.path().filename());
    }
    return names;
  };
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y-%m-%d", std::gmtime(&now));
  const std::string site = "Main Site,C:\\logs,1";
  auto collect = [&](std::vector<std::string> more) {
    std::vector<std::string> args = {"collect",     "--server",     "SRV1",
                                     "--from",      "2024-06-03",   "--db-dir",
                                     "fresh",       "--share-root", "shares",
                                     "--create-db", "--no-tui"};
    args.insert(args.end(), more.begin(), more.end());
    return Velnor(args);
  };
  const std::pair<std::vector<std::string>, std::string> kRefused[] = {
      {{"--to", "2099-12-31", "--site", site},
       "--to 2099-12-31 is after today"},
      {{"--to", today, "--site", site}, "the window includes today"},
      {{"--to", "2024-06-03", "--site", site, "--site", "Again,D:\\logs,1"},
       "site 1 is given twice"},
      {{"--to", "2024-06-03", "--site", "Main Site,C:\\logs\\W3SVC1,1"},
       "names the site's log folder itself"},
      {{"--to", "2024-06-03", "--raw", "--output", "out.csv", "--site", site,
        "--site", "Again,D:\\logs,1"},
       "site 1 is given twice"},
  };
  for (const auto& [more, message] : kRefused) {
    VelnorRun run = collect(more);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, message)) << run.err;
    EXPECT_EQ(made(), std::set<std::string>()) << message;
  }
  EXPECT_EQ(ReadFile(dir_ / "out.csv"), "kept\n");

  // Days counted already are refused before a missing database is made.
  ASSERT_EQ(collect({"--to", "2024-06-03", "--site", site}).status, 0);
  const fs::path status_db = dir_ / "fresh/QDX_UAWebLogHitsByStatus_SRV1.mdb";
  fs::remove(status_db);
  VelnorRun again = collect({"--to", "2024-06-03", "--site", site});
  EXPECT_EQ(again.status, 2) << again.err;
  EXPECT_TRUE(Contains(again.err, "these days were counted already"))
      << again.err;
  EXPECT_FALSE(fs::exists(status_db));
}

// Only a log directory that names the site's own folder, which holds the
// logs while the folder below it does not exist, is a mistake.
TEST_F(CollectRunTest, OnlyTheSitesFolderGivenForItsLogDirectoryIsRefused) {
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", WebLog(4, "2024-06-03"));
  WriteLog("C$/nested/W3SVC1/W3SVC1", "u_ex240603.log",
           WebLog(3, "2024-06-03"));
  WriteLog("C$/notes/W3SVC1", "readme.txt", "not a log\n");
  VelnorRun doubled =
      Collect({"--no-tui", "--site", "Main,c:\\LOGS\\w3svc1\\,1"});
  EXPECT_EQ(doubled.status, 2) << doubled.err;
  EXPECT_TRUE(Contains(doubled.err, "holds 1 log file\n")) << doubled.err;
  EXPECT_TRUE(Contains(doubled.err, "\"Main,c:\\LOGS,1\"")) << doubled.err;
  // FTP sites live in MSFTPSVC<id>, or FTPSVC<id> from IIS 7.5 on.
  ASSERT_EQ(
      Velnor({"init-db", "--db-dir", "db", "--server", "SRV1", "--ftp"}).status,
      0);
  WriteLog("C$/ftp/FTPSVC3", "u_ex240603.log", "#Fields: date time\n");
  for (const char* site : {"F,C:\\ftp\\ftpsvc3,3", "F,C:\\ftp\\FTPSVC3,3"}) {
    VelnorRun ftp = Collect({"--no-tui", "--ftp", "--site", site});
    EXPECT_EQ(ftp.status, 2) << ftp.err;
    EXPECT_TRUE(Contains(ftp.err, "\\MSFTPSVC3, which does not exist"))
        << ftp.err;
    EXPECT_TRUE(Contains(ftp.err, "\"F,C:\\ftp,3\"")) << ftp.err;
  }

  VelnorRun nested =
      Collect({"--no-tui", "--site", "Main,C:\\nested\\W3SVC1,1"});
  EXPECT_EQ(nested.status, 0) << nested.err;
  EXPECT_EQ(Totals(), (Rows{{"1", "3"}}));
  // Without log files, or not there at all, the folder is an empty one as
  // before (the missing one an error-log line).
  VelnorRun notes =
      Collect({"--no-tui", "--site", "Main,C:\\notes\\W3SVC1,1", "--recount"});
  EXPECT_EQ(notes.status, 0) << notes.err;
  VelnorRun missing =
      Collect({"--no-tui", "--site", "Main,C:\\nologs\\W3SVC1,1", "--recount"});
  EXPECT_EQ(missing.status, 1) << missing.err;
  EXPECT_TRUE(Contains(ErrorLog(), "nologs")) << ErrorLog();
  EXPECT_EQ(Totals(), (Rows{{"1", "3"}, {"1", "0"}, {"1", "0"}}));
}

// A count that would pass what its 32-bit column holds fails the whole run,
// in the same words whichever way the databases are counted.
TEST_F(CollectRunTest, ACountPastTheColumnsMaximumStoresNothing) {
  std::string log = "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n";
  for (int i = 0; i < 10; ++i) {
    log +=
        "2024-06-03 10:00:0" + std::to_string(i) + " 10.0.0.1 GET /a.htm 404\n";
  }
  log += "2024-06-03 11:00:00 10.0.0.1 GET /b.htm 200\n";
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", log);
  struct Case {
    std::string database;
    std::string row;  // of its tblGeneral, near the maximum
    std::string key;
  };
  const Case kCases[] = {
      {"DayOfWeek",
       "([Server name], Identifier, [Web Site Name], URL, [No of Hits], [Sort "
       "Field], [Day of week]) values ('SRV1', '1', 'Main Site', '/a.htm', "
       "2147483640, 2, 'Monday')",
       "site 1, /a.htm, Monday"},
      {"HitsByStatus",
       "([Server name], Identifier, [Web Site Name], URL, [No of Hits], [Sort "
       "Field], Status, [Status code]) values ('SRV1', '1', 'Main Site', "
       "'/a.htm', 2147483647, 27, 'Not Found (404)', 404)",
       "site 1, /a.htm, status 404"},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> lines;
    for (const std::string tally : {"memory", "per-record"}) {
      SCOPED_TRACE(c.database + ", " + tally);
      const std::string db = "db-" + tally;
      fs::remove_all(dir_ / db);
      fs::create_directory(dir_ / db);
      ASSERT_EQ(Velnor({"init-db", "--db-dir", db, "--server", "SRV1"}).status,
                0);
      ExecSql(dir_ / db / ("QDX_UAWebLog" + c.database + "_SRV1.mdb"),
              "insert into tblGeneral " + c.row);
      const std::vector<Rows> before = DatabaseState(dir_ / db, "SRV1", false);
      VelnorRun run = Velnor(CollectArgs(
          "SRV1", db,
          {"--share-root", "shares", "--no-tui", "--tally", tally, "--site",
           "Main Site,C:\\logs,1", "--start-ledger", "2024-06-03"}));
      EXPECT_EQ(run.status, 1) << run.err;
      const std::string reason = "Overflow: the count of " + c.key + " in " +
                                 db + "/QDX_UAWebLog" + c.database +
                                 "_SRV1.mdb reached 2147483647, the most its "
                                 "[No of Hits] column holds";
      EXPECT_TRUE(
          Contains(run.err, "nothing of this run was stored: " + reason))
          << run.err;
      EXPECT_EQ(DatabaseState(dir_ / db, "SRV1", false), before);
      VelnorRun runs = Velnor({"runs", "--db-dir", db, "--format", "csv"});
      EXPECT_TRUE(Contains(runs.out, "failed, nothing counted")) << runs.out;
      // One line, the same but for the folder.
      std::vector<std::string> logged =
          Lines(ReadFile(dir_ / db / "velnor-errors.log"));
      ASSERT_EQ(logged.size(), 1u);
      EXPECT_TRUE(Contains(logged[0], reason)) << logged[0];
      std::string line = logged[0].substr(logged[0].find('\t'));
      line.replace(line.find(db), db.size(), "DB");
      lines.push_back(line);
    }
    EXPECT_EQ(lines[0], lines[1]);
  }
}

// A report of more keys than are written at a time is written as a whole:
// into empty databases, over an earlier run's rows (one of them found again
// whatever the case of its URL), and past the maximum, where the key named
// is the first one counting record by record reaches, however many keys
// come before it.
TEST_F(CollectRunTest, ReportsOfManyKeysLeaveTheRowsOfCountingRecordByRecord) {
  // 6,000 keys of hours, counted page after page.
  std::string log = "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n";
  for (int page = 0; page < 250; ++page) {
    for (int hour = 0; hour < 24; ++hour) {
      char line[96];
      std::snprintf(line, sizeof line,
                    "2024-06-03 %02d:00:00 10.0.0.1 GET /p%d.htm %d\n", hour,
                    page, page % 7 == 0 ? 404 : 200);
      log += line;
    }
  }
  WriteLog("C$/logs/W3SVC1", "u_ex240603.log", log);
  const std::string earlier =
      "insert into tblGeneral ([Server name], Identifier, [Web Site Name], "
      "URL, [No of Hits], Hours) values ('SRV1', '1', 'Earlier', ";
  struct Case {
    const char* name;
    std::vector<std::string> rows;  // of the hours database
    const char* past;               // the key named past the maximum
  };
  const Case kCases[] = {
      {"empty databases", {}, nullptr},
      {"earlier rows",
       {earlier + "'/P3.htm', 7, 0)", earlier + "'/p240.htm', 5, 23)",
        earlier + "'/p10.htm', 2147483640, 1)"},
       nullptr},
      {"past the maximum",
       {earlier + "'/p1.htm', 2147483646, 4)",
        earlier + "'/p245.htm', 2147483647, 10)",
        earlier + "'/p200.htm', 2147483647, 5)"},
       "site 1, /p200.htm, hour 5"},
  };
  for (const Case& c : kCases) {
    std::vector<std::vector<Rows>> states;
    std::vector<std::string> lines;
    for (const std::string tally : {"memory", "per-record"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + tally);
      const std::string db = "db-" + tally;
      fs::remove_all(dir_ / db);
      fs::create_directory(dir_ / db);
      ASSERT_EQ(Velnor({"init-db", "--db-dir", db, "--server", "SRV1"}).status,
                0);
      for (const std::string& row : c.rows) {
        ExecSql(dir_ / db / "QDX_UAWebLogHitsByHour_SRV1.mdb", row);
      }
      const std::vector<Rows> before = DatabaseState(dir_ / db, "SRV1", false);
      VelnorRun run = Velnor(CollectArgs(
          "SRV1", db,
          {"--share-root", "shares", "--no-tui", "--tally", tally, "--site",
           "Main Site,C:\\logs,1", "--start-ledger", "2024-06-03"}));
      states.push_back(DatabaseState(dir_ / db, "SRV1", false));
      std::vector<std::string> logged =
          Lines(ReadFile(dir_ / db / "velnor-errors.log"));
      if (c.past) {
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(Contains(
            run.err, std::string("Overflow: the count of ") + c.past + " in "))
            << run.err;
        EXPECT_EQ(states.back(), before);
        // One line, the same but for its time and the folder.
        ASSERT_EQ(logged.size(), 1u);
        std::string line = logged[0].substr(logged[0].find('\t'));
        line.replace(line.find(db), db.size(), "DB");
        lines.push_back(line);
      } else {
        EXPECT_EQ(logged, std::vector<std::string>{});
        EXPECT_EQ(run.status, 0) << run.err;
        // Every earlier row is one of the run's keys, found again.
        EXPECT_EQ(QueryRows(dir_ / db / "QDX_UAWebLogHitsByHour_SRV1.mdb",
                            "select count(*) from tblGeneral"),
                  (Rows{{"6000"}}));
      }
    }
    EXPECT_EQ(states[0], states[1]) << c.name;
    if (c.past) {
      EXPECT_EQ(lines[0], lines[1]) << c.name;
    }
  }
}

// Files are read in the order of their names, which IIS gives by date,
// however the folder or the registry lists them: a new database's rows are
// made in the order their records are read, and a listing goes forward in
// time.
TEST_F(CollectRunTest, LogFilesAreReadInTheOrderOfTheirNames) {
  // A name of a Linux folder may hold a backslash, which a Windows path
  // cannot; the file is read all the same.
  const std::vector<std::string> names = {"u_ex240605\\copy.log",
                                          "U_EX240604.LOG", "u_ex240603.log"};
  for (const std::string& name : names) {
    const std::string day = "2024-06-0" + name.substr(9, 1);
    WriteLog("C$/logs/W3SVC1", name,
             "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n" + day +
                 " 10:00:00 10.0.0.1 GET /" + day + ".htm 200\n");
  }
  const Rows in_order = {
      {"/2024-06-03.htm"}, {"/2024-06-04.htm"}, {"/2024-06-05.htm"}};
  auto listed_in_order = [](const std::string& listing) {
    const size_t first = listing.find("/2024-06-03.htm");
    const size_t second = listing.find("/2024-06-04.htm");
    const size_t third = listing.find("/2024-06-05.htm");
    return first < second && second < third && third != std::string::npos;
  };
  const std::string site = "Main Site,C:\\logs,1";
  for (bool registered : {false, true}) {
    SCOPED_TRACE(registered ? "registered files" : "the folder's files");
    const std::string db = registered ? "db-registered" : "db";
    if (registered) {
      fs::create_directory(dir_ / db);
      ASSERT_EQ(Velnor({"init-db", "--db-dir", db, "--server", "SRV1"}).status,
                0);
      // Registered newest first.
      for (const std::string& name : names) {
        ExecSql(dir_ / db / "QDX_UAWebLogHitsByHour_SRV1.mdb",
                "insert into tblLogFiles values ('SRV1', '1', 'Main Site', '" +
                    name + "')");
      }
    }
    VelnorRun raw = Velnor(CollectArgs("SRV1", db,
                                       {"--share-root", "shares", "--site",
                                        site, "--raw", "--format", "csv"}));
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_TRUE(listed_in_order(raw.out)) << raw.out;
    VelnorRun count = Velnor(CollectArgs(
        "SRV1", db, {"--share-root", "shares", "--no-tui", "--site", site}));
    EXPECT_EQ(count.status, 0) << count.err;
    EXPECT_EQ(QueryRows(dir_ / db / "QDX_UAWebLogHitsByHour_SRV1.mdb",
                        "select URL from tblGeneral order by rowid"),
              in_order);
    // The ledger keeps each file under its site and whole name.
    EXPECT_EQ(QueryRows(dir_ / db / "velnor_ledger_SRV1_web.sqlite",
                        "select site, file_name, records from run_files "
                        "order by file_name"),
              (Rows{{"1", "U_EX240604.LOG", "1"},
                    {"1", "u_ex240603.log", "1"},
                    {"1", "u_ex240605\\copy.log", "1"}}));
  }
}

// A collect run starts itself again with glibc's heaps on huge pages,
// adding that to the tunables the user gave, and keeps the user's own
// choice of it; the run is the one it would have been either way.
TEST_F(CollectRunTest, ARunHasItsHeapOnHugePagesUnlessTheUserChoseOtherwise) {
  WriteLog("D$/Logs/W3SVC1", "u_ex240603.log", WebLog(20000, "2024-06-03"));
  struct Case {
    const char* given;  // GLIBC_TUNABLES of the command, if any
    std::string running;
  };
  const Case kCases[] = {
      {nullptr, "glibc.malloc.hugetlb=1"},
      {"glibc.malloc.tcache_count=5",
       "glibc.malloc.tcache_count=5:glibc.malloc.hugetlb=1"},
      {"glibc.malloc.hugetlb=0", "glibc.malloc.hugetlb=0"},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.given ? c.given : "(none)");
    const std::string db = "db-" + std::to_string(++n);
    fs::create_directory(dir_ / db);
    ASSERT_EQ(Velnor({"init-db", "--db-dir", db, "--server", "SRV1"}).status,
              0);
    const pid_t pid = StartVelnor(
        CollectArgs(
            "SRV1", db,
            {"--share-root", "shares", "--no-tui", "--site", "Web,D:\\Logs,1"}),
        dir_, [&] {
          if (c.given) {
            setenv("GLIBC_TUNABLES", c.given, 1);
          } else {
            unsetenv("GLIBC_TUNABLES");
          }
        });
    ASSERT_TRUE(StopOnceHoldingLock(pid, dir_ / db / ".velnor-srv1-web.lock"));
    // The environment the running program started with, NUL-separated.
    // glibc ends each tunable's value there with a NUL in place of the
    // colon after it, so colons and NULs are compared as one.
    auto separated = [](std::string text) {
      std::replace(text.begin(), text.end(), ':', '\0');
      return text;
    };
    const std::string environment =
        separated(std::string(1, '\0') +
                  ReadFile("/proc/" + std::to_string(pid) + "/environ"));
    ::kill(pid, SIGCONT);
    EXPECT_TRUE(Contains(environment, separated(std::string(1, '\0') +
                                                "GLIBC_TUNABLES=" + c.running +
                                                std::string(1, '\0'))));
    EXPECT_EQ(FinishVelnor(pid, dir_).status, 0);
    EXPECT_EQ(HitsCounted(dir_ / db, "SRV1"), 20000);
  }
}

}  // namespace
}  // namespace velnor::host
