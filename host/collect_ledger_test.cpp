// velnor collect and velnor report with the collection ledger, run as a user
// runs them, with the run's clock set through VELNOR_TEST_NOW: the same
// days refused, counted again on purpose, collected night after night with
// --since-last, a log of the current day collected as it grows, files left
// unregistered, logs that come late, are caught half-copied, renamed,
// compressed after a cancelled run or lie beside their compressed copy, and
// a ledger deleted beside its databases. Every count is checked against the
// log records themselves.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/time.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing/velnor_test_support.h"
#include "platform/iislog/log_input.h"

namespace velnor::host {
namespace {

using testing::Contains;
using testing::Lines;
using testing::QueryRows;
using testing::ReadFile;
using testing::TempDir;
using testing::WaitFor;
using testing::Words;
using testing::WriteFile;

namespace fs = std::filesystem;

class CollectLedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(logs_);
    fs::create_directories(db_);
  }
  void TearDown() override { ::unsetenv("VELNOR_TEST_NOW"); }

  void WriteLog(const std::string& name, const std::string& text) {
    WriteFile(logs_ / name, text);
  }
  void AppendLog(const std::string& name, const std::string& text) {
    WriteFile(logs_ / name, ReadFile(logs_ / name) + text);
  }
  // Compresses the log `name` into `name`.gz, as gzip does.
  void GzipLog(const std::string& name) {
    const std::string text = ReadFile(logs_ / name);
    gzFile out = gzopen((logs_ / (name + ".gz")).c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    gzclose(out);
  }
  // Sets the log's last change to `seconds` since 1970.
  void Touch(const std::string& name, long seconds) {
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes((logs_ / name).c_str(), times), 0);
  }

  // velnor with `args`, the run's clock at `now` (YYYY-MM-DDTHH:MM:SSZ).
  VelnorRun Velnor(const std::vector<std::string>& args,
                   const std::string& now) {
    ::setenv("VELNOR_TEST_NOW", now.c_str(), 1);
    return RunVelnor(args, dir_.path());
  }
  VelnorRun Collect(std::vector<std::string> more, const std::string& now) {
    std::vector<std::string> args = Words(
        "collect --server SRV1 --site Site,D:\\Logs,1 --no-tui --db-dir " +
        db_.string() + " --share-root " + (dir_.path() / "shares").string());
    if (!fs::exists(db_ / "QDX_UAWebLogHitsByHour_SRV1.mdb")) {
      args.emplace_back("--create-db");
    }
    args.insert(args.end(), more.begin(), more.end());
    return Velnor(args, now);
  }
  // A run over the days since the last, today's so far, at `now`.
  VelnorRun SoFar(const std::string& now) {
    return Collect({"--since-last", "--partial-day"}, now);
  }

  // Records in the log files as they are now, whole lines only, per day,
  // or (`hours`) per hour of any day.
  std::map<std::string, long> LogDays(bool hours = false) const {
    std::map<std::string, long> records;
    for (const auto& file : fs::directory_iterator(logs_)) {
      std::istringstream lines(ReadFile(file.path()));
      for (std::string line; std::getline(lines, line);) {
        if (lines.eof() || line.empty() || line[0] == '#') continue;
        ++records[hours ? std::to_string(std::stoi(line.substr(11, 2)))
                        : line.substr(0, 10)];
      }
    }
    return records;
  }

  // The daily series of `velnor report --format csv` (with `more`): day,
  // label, hits.
  std::map<std::string, std::pair<std::string, long>> ReportDays(
      const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"report",   "--db-dir", db_.string(),
                                     "--server", "SRV1",     "--format",
                                     "csv"};
    args.insert(args.end(), more.begin(), more.end());
    VelnorRun run = Velnor(args, "2030-01-01T00:00:00Z");
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::pair<std::string, long>> days;
    static const std::regex kDay("1,Site,day,([0-9-]+),([^,]+),([0-9]+)\r?");
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (std::regex_match(line, match, kDay)) {
        days[match[1]] = {match[2], std::stol(match[3])};
      }
    }
    return days;
  }

  // Hits per hour the hits-by-hour database holds.
  std::map<std::string, long> DatabaseHours() const {
    std::map<std::string, long> hours;
    for (const auto& row :
         QueryRows(db_ / "QDX_UAWebLogHitsByHour_SRV1.mdb",
                   "select Hours, sum([No of Hits]) from tblGeneral "
                   "group by Hours")) {
      hours[row[0]] = std::stol(row[1]);
    }
    return hours;
  }
  long DatabaseHits(const std::string& file) const {
    return std::stol(QueryRows(
        db_ / file, "select sum([No of Hits]) from tblGeneral")[0][0]);
  }

  // The bytes of every database and the ledger.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& file : fs::directory_iterator(db_)) {
      const std::string name = file.path().filename();
      if (name.ends_with(".mdb") || name.ends_with(".sqlite")) {
        files[name] = ReadFile(file.path());
      }
    }
    return files;
  }

  long Hits() const { return DatabaseHits("QDX_UAWebLogHitsByHour_SRV1.mdb"); }

  // The records the log files hold, whole lines only.
  long LogRecords() const {
    long records = 0;
    for (const auto& [day, count] : LogDays()) records += count;
    return records;
  }

  TempDir dir_{"collect_ledger"};
  fs::path logs_ = dir_.path() / "shares/SRV1/D$/Logs/W3SVC1";
  fs::path db_ = dir_.path() / "db";
};

TEST_F(CollectLedgerTest, TheSameDaysAreRefusedUntouchedUnlessRecounted) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 30));
  WriteLog("u_ex240602.log", IisLog("2024-06-02", 40));
  const std::string now = "2024-06-05T08:00:00Z";
  VelnorRun first =
      Collect({"--from", "2024-06-01", "--to", "2024-06-02"}, now);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::map<std::string, std::string> before = Files();
  ASSERT_EQ(before.size(), 6u);

  // The same window, and one that overlaps it: refused, nothing touched.
  for (const auto& [from, to] : {std::pair{"2024-06-01", "2024-06-02"},
                                 std::pair{"2024-06-02", "2024-06-04"}}) {
    VelnorRun again = Collect({"--from", from, "--to", to}, now);
    EXPECT_EQ(again.status, 2) << again.err;
    EXPECT_TRUE(Contains(again.err, "these days were counted already: "))
        << again.err;
    EXPECT_TRUE(Contains(again.err, "2024-06-02 of site 1 (Site) by run 1"))
        << again.err;
    EXPECT_TRUE(Contains(again.err, "--recount")) << again.err;
    EXPECT_EQ(Files(), before) << "a refused run changed a file";
  }
  // Today's log is still being written.
  VelnorRun today =
      Collect({"--from", "2024-06-05", "--to", "2024-06-05"}, now);
  EXPECT_EQ(today.status, 2) << today.err;
  EXPECT_TRUE(Contains(today.err, "--partial-day")) << today.err;
  EXPECT_EQ(Files(), before);

  // On purpose: every report counts the days twice, both runs are listed.
  const long hits = DatabaseHits("QDX_UAWebLogHitsByStatus_SRV1.mdb");
  EXPECT_EQ(hits, 70);
  VelnorRun recount =
      Collect({"--from", "2024-06-01", "--to", "2024-06-02", "--recount"}, now);
  ASSERT_EQ(recount.status, 0) << recount.err;
  EXPECT_TRUE(
      Contains(recount.err, "counted its days again, as --recount asked"))
      << recount.err;
  for (const char* file :
       {"QDX_UAWebLogDayOfWeek_SRV1.mdb", "QDX_UAWebLogHitsByMonth_SRV1.mdb",
        "QDX_UAWebLogHitsByHour_SRV1.mdb",
        "QDX_UAWebLogHitsByStatus_SRV1.mdb"}) {
    EXPECT_EQ(DatabaseHits(file), 2 * hits) << file;
  }
  // Counted by both runs now: the one start named is the last run's.
  VelnorRun twice =
      Collect({"--from", "2024-06-02", "--to", "2024-06-02"}, now);
  EXPECT_EQ(twice.status, 2) << twice.err;
  EXPECT_TRUE(Contains(twice.err,
                       "2024-06-02 of site 1 (Site) by runs 1 and "
                       "2 (the last started "))
      << twice.err;
  const std::map<std::string, long> log = LogDays();
  const auto days = ReportDays();
  ASSERT_EQ(days.size(), 2u);
  for (const auto& [day, shown] : days) {
    EXPECT_EQ(shown.second, 2 * log.at(day)) << day;
  }

  VelnorRun runs = Velnor({"runs", "--db-dir", db_.string(), "--server", "SRV1",
                           "--format", "json"},
                          now);
  ASSERT_EQ(runs.status, 0) << runs.err;
  EXPECT_TRUE(std::regex_search(
      runs.out, std::regex("\\{\"run\": 1, [^}]*\"outcome\": \"completed\", "
                           "\"mode\": \"count\"[^}]*\"records\": 70\\}")))
      << runs.out;
  EXPECT_TRUE(std::regex_search(
      runs.out, std::regex("\\{\"run\": 2, [^}]*\"outcome\": \"completed\", "
                           "\"mode\": \"recount\"[^}]*\"records\": 70\\}")))
      << runs.out;
  EXPECT_FALSE(Contains(runs.out, "\"run\": 3")) << runs.out;

  // A file replaced since it was counted is named when it is read again.
  WriteLog("u_ex240601.log", kIisHeader + IisRecords("2024-06-01", 5, 100));
  VelnorRun replaced =
      Collect({"--from", "2024-06-01", "--to", "2024-06-01", "--recount"}, now);
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_TRUE(Contains(replaced.err,
                       "u_ex240601.log of site 1 (Site) is not the "
                       "file run 2 read: its first 64 KB differ"))
      << replaced.err;
}

// A ledger is a file anyone with the folder may have written to: its texts
// reach the admin's terminal without the escape sequences and control
// characters that would rewrite it, whichever command shows them.
TEST_F(CollectLedgerTest, StoredRunTextsReachTheTerminalWithoutControls) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 4));
  const std::string now = "2024-06-02T02:30:00Z";
  ASSERT_EQ(Collect({"--from", "2024-06-01", "--to", "2024-06-01"}, now).status,
            0);
  testing::ExecSql(db_ / "velnor_ledger_SRV1_web.sqlite",
                   "UPDATE runs SET mode = 'count' || char(27) || ']0;owned' "
                   "|| char(7), started = char(27) || '[2J' || started, "
                   "ended = char(155) || '2J' || ended");
  const std::string db = db_.string();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{
           {"runs", "--db-dir", db, "--server", "SRV1"},
           {"report", "--db-dir", db, "--server", "SRV1"},
           {"report", "--db-dir", db}}) {
    VelnorRun shown = Velnor(args, now);
    ASSERT_EQ(shown.status, 0) << args[0] << ": " << shown.err;
    EXPECT_TRUE(Contains(shown.out, "SRV1")) << args[0] << ": " << shown.out;
    for (const std::string control : {"\x1b", "\x07", "\xc2\x9b"}) {
      EXPECT_EQ(shown.out.find(control), std::string::npos)
          << args.size() << " " << args[0] << ": " << shown.out;
    }
  }
}

TEST_F(CollectLedgerTest, SinceLastOnConsecutiveNightsCountsEachDayOnce) {
  // Friday to Monday; each night collects the day before.
  const std::vector<std::pair<std::string, int>> kDays = {{"2024-06-07", 50},
                                                          {"2024-06-08", 20},
                                                          {"2024-06-09", 35},
                                                          {"2024-06-10", 10}};
  for (const auto& [day, count] : kDays) {
    std::string name = "u_ex" + day.substr(2, 2) + day.substr(5, 2) +
                       day.substr(8, 2) + ".log";
    WriteLog(name, IisLog(day, count));
  }

  VelnorRun first = Collect({"--since-last"}, "2024-06-08T02:30:00Z");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(Contains(first.err,
                       "no day of it is counted yet, so --since-last "
                       "starts with 2024-06-07"))
      << first.err;
  EXPECT_TRUE(Contains(first.err, "collected 1 site of SRV1 (web): 50 records"))
      << first.err;
  for (const std::string now :
       {"2024-06-09T02:30:00Z", "2024-06-10T02:30:00Z"}) {
    VelnorRun night = Collect({"--since-last"}, now);
    EXPECT_EQ(night.status, 0) << night.err;
  }
  // Twice the same night: nothing left to collect.
  VelnorRun again = Collect({"--since-last"}, "2024-06-10T05:00:00Z");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Contains(again.err,
                       "counted through 2024-06-09 already; nothing to "
                       "collect"))
      << again.err;

  // The series is the log's records per day, weekends marked; Monday's
  // log, still being written, is not in it.
  const std::map<std::string, long> log = LogDays();
  const auto days = ReportDays();
  const std::map<std::string, std::pair<std::string, long>> expected = {
      {"2024-06-07", {"Friday", log.at("2024-06-07")}},
      {"2024-06-08", {"Saturday (weekend)", log.at("2024-06-08")}},
      {"2024-06-09", {"Sunday (weekend)", log.at("2024-06-09")}}};
  EXPECT_EQ(days, expected);
  EXPECT_EQ(DatabaseHits("QDX_UAWebLogHitsByHour_SRV1.mdb"), 50 + 20 + 35);
  // --from and --to limit the series.
  const auto saturday =
      ReportDays({"--from", "2024-06-08", "--to", "2024-06-08"});
  EXPECT_EQ(saturday.size(), 1u);
  EXPECT_EQ(saturday.count("2024-06-08"), 1u);

  VelnorRun text =
      Velnor({"report", "--db-dir", db_.string(), "--server", "SRV1"},
             "2030-01-01T00:00:00Z");
  EXPECT_TRUE(Contains(text.out,
                       "Days collected:  site 1: 2024-06-07 to "
                       "2024-06-09"))
      << text.out;
  EXPECT_TRUE(Contains(text.out,
                       "Hits by day of week (all years together: the "
                       "databases keep no year)"))
      << text.out;
}

TEST_F(CollectLedgerTest, AGrowingLogCollectedInPartCountsEveryRecordOnce) {
  const std::string kDay = "2024-06-11";
  WriteLog("u_ex240610.log", IisLog("2024-06-10", 25));
  // 10:00: a hundred records and a line still being written.
  std::string grown = IisRecords(kDay, 101);
  const size_t cut = grown.size() - 20;
  WriteLog("u_ex240611.log", kIisHeader + grown.substr(0, cut));

  VelnorRun yesterday =
      Collect({"--since-last", "--from", "2024-06-10"}, "2024-06-11T10:00:00Z");
  EXPECT_EQ(yesterday.status, 0) << yesterday.err;
  VelnorRun without =
      Collect({"--from", kDay, "--to", kDay}, "2024-06-11T10:00:00Z");
  EXPECT_EQ(without.status, 2) << without.err;
  EXPECT_TRUE(Contains(without.err, "still being written")) << without.err;

  VelnorRun morning = SoFar("2024-06-11T10:00:00Z");
  ASSERT_EQ(morning.status, 0) << morning.err;
  EXPECT_TRUE(
      Contains(morning.err, "collected 1 site of SRV1 (web): 100 records"))
      << morning.err;

  // 16:00: the cut line ends, more follow; IIS restarted and wrote its
  // directives again, with the fields in another order.
  AppendLog("u_ex240611.log", grown.substr(cut) + IisRecords(kDay, 150, 101));
  AppendLog("u_ex240611.log",
            "#Software: Microsoft Internet Information Services 10.0\r\n"
            "#Fields: date time c-ip cs-method cs-uri-stem sc-status s-ip "
            "s-port\r\n");
  std::string reordered;
  for (int i = 0; i < 40; ++i) {
    reordered += kDay + " 17:" + (i < 10 ? "0" : "") + std::to_string(i) +
                 ":00 10.1.1.1 GET /late.htm 200 10.0.0.5 80\r\n";
  }
  AppendLog("u_ex240611.log", reordered);
  VelnorRun afternoon = SoFar("2024-06-11T16:00:00Z");
  ASSERT_EQ(afternoon.status, 0) << afternoon.err;
  EXPECT_TRUE(
      Contains(afternoon.err, "collected 1 site of SRV1 (web): 191 records"))
      << afternoon.err;

  // 23:00 and the next night: the rest of the day, once.
  AppendLog("u_ex240611.log", IisRecords(kDay, 60, 251));
  VelnorRun evening = SoFar("2024-06-11T23:00:00Z");
  ASSERT_EQ(evening.status, 0) << evening.err;
  AppendLog("u_ex240611.log", IisRecords(kDay, 5, 311));
  VelnorRun night = Collect({"--since-last"}, "2024-06-12T02:30:00Z");
  ASSERT_EQ(night.status, 0) << night.err;
  EXPECT_TRUE(Contains(night.err, "collected 1 site of SRV1 (web): 5 records"))
      << night.err;

  // Every record of the log counted once: per day and per hour.
  const std::map<std::string, long> log = LogDays();
  EXPECT_EQ(log.at(kDay), 316 + 40);
  const auto days = ReportDays();
  ASSERT_EQ(days.count(kDay), 1u);
  EXPECT_EQ(days.at(kDay).second, log.at(kDay));
  EXPECT_EQ(days.at("2024-06-10").second, log.at("2024-06-10"));
  std::map<std::string, long> stored = DatabaseHours();
  std::erase_if(stored, [](const auto& entry) { return entry.second == 0; });
  EXPECT_EQ(stored, LogDays(/*hours=*/true));

  // Once the day is over it is counted whole and refused like any other.
  VelnorRun twice =
      Collect({"--from", kDay, "--to", kDay}, "2024-06-12T03:00:00Z");
  EXPECT_EQ(twice.status, 2) << twice.err;
  EXPECT_TRUE(Contains(twice.err, "2024-06-11 of site 1 (Site) by runs"))
      << twice.err;
}

// Each garbled line is told once: by the run that read past it first, not
// again by every later run of the day that reads on in the same file.
TEST_F(CollectLedgerTest, AGarbledLineOfAGrowingLogIsLoggedByOneRunOnly) {
  const std::string kDay = "2024-06-11";
  const fs::path error_log = db_ / "velnor-errors.log";
  WriteLog("u_ex240611.log", kIisHeader + IisRecords(kDay, 10) + "garbage\r\n");
  VelnorRun morning = SoFar("2024-06-11T10:00:00Z");
  EXPECT_EQ(morning.status, 1) << morning.err;
  EXPECT_EQ(Lines(ReadFile(error_log)).size(), 1u) << ReadFile(error_log);
  EXPECT_TRUE(Contains(ReadFile(error_log), "skipped; the first is line "))
      << ReadFile(error_log);

  AppendLog("u_ex240611.log", IisRecords(kDay, 20, 10));
  VelnorRun afternoon = SoFar("2024-06-11T16:00:00Z");
  EXPECT_EQ(afternoon.status, 0) << afternoon.err << ReadFile(error_log);
  EXPECT_TRUE(
      Contains(afternoon.err, "collected 1 site of SRV1 (web): 20 records"))
      << afternoon.err;
  EXPECT_EQ(Lines(ReadFile(error_log)).size(), 1u) << ReadFile(error_log);

  // A garbled line in the part read on is this run's to tell.
  const size_t lines_before = Lines(ReadFile(logs_ / "u_ex240611.log")).size();
  AppendLog("u_ex240611.log", "more garbage\r\n" + IisRecords(kDay, 5, 30));
  VelnorRun evening = SoFar("2024-06-11T23:00:00Z");
  EXPECT_EQ(evening.status, 1) << evening.err;
  const std::vector<std::string> log = Lines(ReadFile(error_log));
  ASSERT_EQ(log.size(), 2u) << ReadFile(error_log);
  EXPECT_TRUE(Contains(log[1], "1 line of ")) << log[1];
  EXPECT_TRUE(Contains(
      log[1], "the first is line " + std::to_string(lines_before + 1) + "."))
      << log[1];
  EXPECT_EQ(Hits(), 35);
}

// A log of garbled lines only counts no day, yet the run that read it told
// its lines: the next nights' runs, over other days, read it again without
// telling them again, and tell only the lines written to it since.
TEST_F(CollectLedgerTest, ALogOfGarbledLinesIsToldOnceNotEveryNight) {
  const fs::path error_log = db_ / "velnor-errors.log";
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 10));
  WriteLog("u_ex240602.log", "\x7f\x01 garbage\r\nmore garbage\r\n");
  VelnorRun first = Collect({"--from", "2024-06-01", "--to", "2024-06-01"},
                            "2024-06-02T02:30:00Z");
  EXPECT_EQ(first.status, 1) << first.err;
  ASSERT_EQ(Lines(ReadFile(error_log)).size(), 1u) << ReadFile(error_log);
  EXPECT_TRUE(Contains(ReadFile(error_log), "2 lines of "))
      << ReadFile(error_log);

  WriteLog("u_ex240603.log", IisLog("2024-06-03", 12));
  const std::pair<std::string, std::string> kNights[] = {
      {"2024-06-02", "2024-06-03T02:30:00Z"},
      {"2024-06-03", "2024-06-04T02:30:00Z"}};
  for (const auto& [day, now] : kNights) {
    VelnorRun night = Collect({"--from", day, "--to", day}, now);
    EXPECT_EQ(night.status, 0) << night.err << ReadFile(error_log);
  }
  EXPECT_EQ(Lines(ReadFile(error_log)).size(), 1u) << ReadFile(error_log);

  AppendLog("u_ex240602.log", "garbage written later\r\n");
  VelnorRun later = Collect({"--from", "2024-06-04", "--to", "2024-06-04"},
                            "2024-06-05T02:30:00Z");
  EXPECT_EQ(later.status, 1) << later.err;
  const std::vector<std::string> log = Lines(ReadFile(error_log));
  ASSERT_EQ(log.size(), 2u) << ReadFile(error_log);
  EXPECT_TRUE(Contains(log[1], "1 line of ")) << log[1];
  EXPECT_TRUE(Contains(log[1], "the first is line 3.")) << log[1];
  EXPECT_EQ(Hits(), 10 + 12);
}

// A log with the start it had but less text than a run read of it is
// named, not passed over in silence; nothing of it is counted twice.
TEST_F(CollectLedgerTest, ALogCutShortAfterARunIsNamedAndNotCountedAgain) {
  const std::string kDay = "2024-06-11";
  WriteLog("u_ex240611.log", kIisHeader + IisRecords(kDay, 4000));
  VelnorRun morning = SoFar("2024-06-11T10:00:00Z");
  ASSERT_EQ(morning.status, 0) << morning.err;
  const std::string text = ReadFile(logs_ / "u_ex240611.log");
  ASSERT_GT(text.size(), 2u * 64 * 1024);
  WriteLog("u_ex240611.log", text.substr(0, text.find('\n', 96 * 1024) + 1));
  VelnorRun afternoon = SoFar("2024-06-11T16:00:00Z");
  EXPECT_EQ(afternoon.status, 0) << afternoon.err;
  EXPECT_TRUE(Contains(
      afternoon.err,
      "u_ex240611.log of site 1 (Site) holds " +
          std::to_string(96 * 1024 + 1 + text.substr(96 * 1024).find('\n')) +
          " bytes, fewer than the " + std::to_string(text.size()) +
          " earlier runs read of it"))
      << afternoon.err;
  EXPECT_EQ(Hits(), 4000);
}

// Offsets count a log's text, and a gzip file not named .gz has a size of
// its own: a log of the day compressed as it grows is read on where the
// run before stopped and said so, not taken for one cut short.
TEST_F(CollectLedgerTest, ACompressedLogNotNamedGzIsReadOnNotTakenAsCutShort) {
  const std::string kDay = "2024-06-11";
  auto append_member = [this](const std::string& text) {
    gzFile out = gzopen((logs_ / "u_ex240611.log").c_str(), "ab");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    gzclose(out);
  };
  append_member(kIisHeader + IisRecords(kDay, 40));
  VelnorRun morning = SoFar("2024-06-11T10:00:00Z");
  ASSERT_EQ(morning.status, 0) << morning.err;
  append_member(IisRecords(kDay, 25, 40));
  VelnorRun afternoon = SoFar("2024-06-11T16:00:00Z");
  EXPECT_EQ(afternoon.status, 0) << afternoon.err;
  EXPECT_FALSE(Contains(afternoon.err, "cut short")) << afternoon.err;
  EXPECT_TRUE(Contains(afternoon.err,
                       "went on where earlier runs of the same days stopped "
                       "in u_ex240611.log of site 1"))
      << afternoon.err;
  EXPECT_EQ(Hits(), 40 + 25);

  // Nor is a compressed copy of the log's start (past the part a log is
  // known by), read after the log in the same run.
  WriteLog("u_ex240612.log", IisLog("2024-06-12", 3000));
  ASSERT_GT(fs::file_size(logs_ / "u_ex240612.log"), 2u * 64 * 1024);
  GzipLog("u_ex240612.log");
  AppendLog("u_ex240612.log", IisRecords("2024-06-12", 1000, 3000));
  VelnorRun copy = Collect({"--from", "2024-06-12", "--to", "2024-06-12"},
                           "2024-06-13T03:00:00Z");
  EXPECT_EQ(copy.status, 0) << copy.err;
  EXPECT_FALSE(Contains(copy.err, "cut short")) << copy.err;
  EXPECT_EQ(Hits(), 40 + 25 + 4000);
}

TEST_F(CollectLedgerTest, UnregisteredFilesOfTheWindowAreNamedThenRead) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 12));
  WriteLog("u_ex240602.log", IisLog("2024-06-02", 14));
  VelnorRun registered = Collect(
      {"--from", "2024-06-01", "--to", "2024-06-02", "--refresh-registry"},
      "2024-06-03T02:30:00Z");
  ASSERT_EQ(registered.status, 0) << registered.err;

  // A new day's log, and an old one copied in: only the first is in the
  // window, so only it is named.
  WriteLog("u_ex240603.log", IisLog("2024-06-03", 16));
  WriteLog("u_ex240520.log", IisLog("2024-05-20", 3));
  VelnorRun named = Collect({"--since-last"}, "2024-06-04T02:30:00Z");
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(
      Contains(named.err,
               "1 log file in \\\\SRV1\\D$\\Logs\\W3SVC1 is not registered "
               "(newest u_ex240603.log) and was not read; "
               "--register-new-files registers and reads it"))
      << named.err;

  // The day was not counted whole, so the next run reads the new file and
  // counts nothing of the others again.
  VelnorRun read =
      Collect({"--since-last", "--register-new-files"}, "2024-06-04T03:00:00Z");
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_FALSE(Contains(read.err, "not registered")) << read.err;
  const std::map<std::string, long> log = LogDays();
  const auto days = ReportDays();
  EXPECT_EQ(days.at("2024-06-01").second, log.at("2024-06-01"));
  EXPECT_EQ(days.at("2024-06-02").second, log.at("2024-06-02"));
  EXPECT_EQ(days.at("2024-06-03").second, log.at("2024-06-03"));
  EXPECT_EQ(DatabaseHits("QDX_UAWebLogHitsByHour_SRV1.mdb"), 12 + 14 + 16);
}

// A weekly log is named after its week of the month, in the form of a
// daily log's name: u_ex240602.log holds the 2nd to the 8th of June 2024.
// Left unregistered in a folder of more than a month's weekly logs, it is
// named for a window of those days, where it was taken for the 2nd alone
// and its records missed without a word; a daily log's name in a folder of
// daily logs is still its day alone.
TEST_F(CollectLedgerTest, AnUnregisteredWeeklyLogIsNamedForEachDayOfItsWeek) {
  WriteLog("u_ex240505.log", IisLog("2024-05-27", 9));
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 12));
  ASSERT_EQ(Collect({"--from", "2024-05-26", "--to", "2024-06-01",
                     "--refresh-registry"},
                    "2024-06-02T02:30:00Z")
                .status,
            0);
  std::string week = kIisHeader;
  for (int day = 2; day <= 8; ++day) {
    week += IisRecords("2024-06-0" + std::to_string(day), 5);
  }
  WriteLog("u_ex240602.log", week);
  const std::vector<std::string> midweek = {"--from", "2024-06-05", "--to",
                                            "2024-06-05"};
  VelnorRun weekly = Collect(midweek, "2024-06-09T02:30:00Z");
  EXPECT_EQ(weekly.status, 0) << weekly.err;
  EXPECT_TRUE(Contains(weekly.err,
                       "1 log file in \\\\SRV1\\D$\\Logs\\W3SVC1 is not "
                       "registered (newest u_ex240602.log)"))
      << weekly.err;

  WriteLog("u_ex240620.log", IisLog("2024-06-20", 3));
  VelnorRun daily = Collect({"--from", "2024-06-06", "--to", "2024-06-06"},
                            "2024-06-21T02:30:00Z");
  EXPECT_EQ(daily.status, 0) << daily.err;
  EXPECT_FALSE(Contains(daily.err, "u_ex240602.log")) << daily.err;
}

TEST_F(CollectLedgerTest, ADayWithNothingReadStaysOpenUntilItsLateLogIsRead) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 30));
  WriteLog("u_ex240603.log", IisLog("2024-06-03", 50));
  const std::string now = "2024-06-05T08:00:00Z";
  VelnorRun first =
      Collect({"--from", "2024-06-01", "--to", "2024-06-03"}, now);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(Contains(first.err, "collected 1 site of SRV1 (web): 80 records"))
      << first.err;

  // The 2nd had no log: once it comes, the day is collected, the others
  // are refused as before.
  WriteLog("u_ex240602.log", IisLog("2024-06-02", 40));
  VelnorRun late = Collect({"--from", "2024-06-02", "--to", "2024-06-02"}, now);
  ASSERT_EQ(late.status, 0) << late.err;
  EXPECT_TRUE(Contains(late.err, "collected 1 site of SRV1 (web): 40 records"))
      << late.err;
  VelnorRun twice =
      Collect({"--from", "2024-06-01", "--to", "2024-06-03"}, now);
  EXPECT_EQ(twice.status, 2) << twice.err;
  EXPECT_TRUE(Contains(twice.err,
                       "counted already: 2024-06-01 to 2024-06-03 of site 1"))
      << twice.err;

  // Nightly: the 4th's log is missing on the night of the 6th, the 5th's
  // is there; the next night --since-last goes back for the 4th and passes
  // over the 5th.
  WriteLog("u_ex240605.log", IisLog("2024-06-05", 35));
  VelnorRun night = Collect({"--since-last"}, "2024-06-06T02:30:00Z");
  ASSERT_EQ(night.status, 0) << night.err;
  EXPECT_TRUE(Contains(night.err, "collected 1 site of SRV1 (web): 35 records"))
      << night.err;
  WriteLog("u_ex240604.log", IisLog("2024-06-04", 25));
  WriteLog("u_ex240606.log", IisLog("2024-06-06", 10));
  VelnorRun next = Collect({"--since-last"}, "2024-06-07T02:30:00Z");
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_TRUE(Contains(next.err,
                       "site 1 (Site): --since-last goes back to 2024-06-04, "
                       "which is not counted whole yet"))
      << next.err;
  EXPECT_TRUE(Contains(next.err, "collected 1 site of SRV1 (web): 35 records"))
      << next.err;

  const std::map<std::string, long> log = LogDays();
  const auto days = ReportDays();
  ASSERT_EQ(days.size(), log.size());
  for (const auto& [day, records] : log) {
    EXPECT_EQ(days.at(day).second, records) << day;
  }
  EXPECT_EQ(Hits(), LogRecords());
  VelnorRun text =
      Velnor({"report", "--db-dir", db_.string(), "--server", "SRV1"},
             "2030-01-01T00:00:00Z");
  EXPECT_TRUE(
      Contains(text.out, "Days collected:  site 1: 2024-06-01 to 2024-06-06\n"))
      << text.out;
}

TEST_F(CollectLedgerTest,
       ALogStillCopiedIsCountedAsFarAsItIsWholeUnderAnyName) {
  // A past day's log caught while it is copied: it ends inside a line.
  const std::string records = IisRecords("2024-06-01", 200);
  const std::string copied = kIisHeader + records.substr(0, 9000);
  ASSERT_NE(copied.back(), '\n');
  WriteLog("u_ex240601.log", copied);
  Touch("u_ex240601.log", 1717574370);  // 2024-06-05T07:59:30Z
  const std::vector<std::string> day = {"--from", "2024-06-01", "--to",
                                        "2024-06-01"};
  const std::string now = "2024-06-05T08:00:00Z";
  VelnorRun half = Collect(day, now);
  ASSERT_EQ(half.status, 0) << half.err;
  EXPECT_EQ(Hits(), LogRecords());
  EXPECT_LT(Hits(), 200);

  // The copy ends, and the file is renamed by hand: the same log, read on
  // from the whole line the first run stopped at.
  fs::remove(logs_ / "u_ex240601.log");
  WriteLog("copy of u_ex240601.log", kIisHeader + records);
  VelnorRun rest = Collect(day, now);
  ASSERT_EQ(rest.status, 0) << rest.err;
  EXPECT_TRUE(Contains(rest.err,
                       "copy of u_ex240601.log of site 1 (Site) is the log "
                       "read as u_ex240601.log by run 1"))
      << rest.err;
  EXPECT_EQ(Hits(), 200);
  EXPECT_EQ(Collect(day, now).status, 2);

  // A log changed a minute before the run may still be written: counted,
  // left in part, and done once it has not changed for a while.
  WriteLog("u_ex240602.log", IisLog("2024-06-02", 60));
  Touch("u_ex240602.log", 1717574340);  // 2024-06-05T07:59:00Z
  const std::vector<std::string> second = {"--from", "2024-06-02", "--to",
                                           "2024-06-02"};
  VelnorRun fresh = Collect(second, now);
  ASSERT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_EQ(Hits(), 260);
  VelnorRun settled = Collect(second, "2024-06-05T08:10:00Z");
  ASSERT_EQ(settled.status, 0) << settled.err;
  EXPECT_TRUE(
      Contains(settled.err, "collected 1 site of SRV1 (web): 0 records"))
      << settled.err;
  VelnorRun done = Collect(second, "2024-06-05T08:11:00Z");
  EXPECT_EQ(done.status, 2) << done.err;
  EXPECT_EQ(Hits(), 260);
}

// A past day's log that ends inside a line and has not changed for long was
// cut off by its writer: the line is left for a later run, and said so.
TEST_F(CollectLedgerTest, ALastLineCutOffLongAgoIsNamedUntilItEnds) {
  const std::string records = IisRecords("2024-06-01", 200);
  WriteLog("u_ex240601.log", kIisHeader + records.substr(0, 9000));
  Touch("u_ex240601.log", 1717286400);  // 2024-06-02T00:00:00Z
  const std::vector<std::string> day = {"--from", "2024-06-01", "--to",
                                        "2024-06-01"};
  const fs::path error_log = db_ / "velnor-errors.log";
  VelnorRun cut = Collect(day, "2024-06-05T08:00:00Z");
  EXPECT_EQ(cut.status, 1) << cut.err;
  EXPECT_TRUE(Contains(ReadFile(error_log),
                       "The last line of \\\\SRV1\\D$\\Logs\\W3SVC1\\u_"
                       "ex240601.log has no line end and was not counted"))
      << ReadFile(error_log);
  EXPECT_EQ(Hits(), LogRecords());

  // Today's log that the server is quiet in is no such file.
  const std::string today = IisRecords("2024-06-05", 20);
  WriteLog("u_ex240605.log", kIisHeader + today.substr(0, today.size() - 9));
  Touch("u_ex240605.log", 1717574400 - 3600);  // 2024-06-05T07:00:00Z
  fs::remove(error_log);
  VelnorRun quiet =
      Collect({"--from", "2024-06-05", "--to", "2024-06-05", "--partial-day"},
              "2024-06-05T08:00:00Z");
  EXPECT_EQ(quiet.status, 0) << quiet.err << ReadFile(error_log);

  AppendLog("u_ex240601.log", records.substr(9000));
  Touch("u_ex240601.log", 1717372800);  // 2024-06-03T00:00:00Z
  VelnorRun ended = Collect(day, "2024-06-05T09:00:00Z");
  EXPECT_EQ(ended.status, 0) << ended.err << ReadFile(error_log);
  EXPECT_EQ(Hits(), 200 + 19);
}

// The NUL bytes a server that stopped unexpectedly leaves at the end of
// its log are no line cut off: the day is counted whole without a word.
// Today's log that the restarted server writes over them is read on from
// its last line before them.
TEST_F(CollectLedgerTest, ANulTailOfAStoppedServersLogIsNoCutOffLine) {
  const fs::path error_log = db_ / "velnor-errors.log";
  const std::string nuls(4096, '\0');
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 20) + nuls);
  Touch("u_ex240601.log", 1717286400);  // 2024-06-02T00:00:00Z
  VelnorRun stopped = Collect({"--from", "2024-06-01", "--to", "2024-06-01"},
                              "2024-06-05T08:00:00Z");
  EXPECT_EQ(stopped.status, 0) << stopped.err << ReadFile(error_log);
  EXPECT_FALSE(fs::exists(error_log)) << ReadFile(error_log);
  EXPECT_EQ(ReportDays().at("2024-06-01").second, 20);
  // Counted whole, so --since-last starts after it.
  VelnorRun since = Collect({"--since-last"}, "2024-06-05T08:30:00Z");
  EXPECT_EQ(since.status, 0) << since.err;
  EXPECT_FALSE(Contains(since.err, "2024-06-01")) << since.err;

  const std::string head = IisLog("2024-06-05", 10);
  WriteLog("u_ex240605.log", head + nuls);
  ASSERT_EQ(SoFar("2024-06-05T10:00:00Z").status, 0);
  const std::string later = IisRecords("2024-06-05", 30, 10);
  ASSERT_LT(later.size(), nuls.size());
  WriteLog("u_ex240605.log", head + later + nuls.substr(later.size()));
  VelnorRun overwritten = SoFar("2024-06-05T16:00:00Z");
  EXPECT_EQ(overwritten.status, 0) << overwritten.err << ReadFile(error_log);
  EXPECT_EQ(Hits(), 20 + 10 + 30);
}

TEST_F(CollectLedgerTest, ALogCompressedAfterACancelOrBesideItsCopyIsReadOnce) {
  // A run cancelled (SIGTERM) while it reads a large log, caught with the
  // log's file position past the start the run reads first and what the
  // reader may hold read ahead.
  constexpr int kRecords = 300000;
  WriteLog("u_ex240602.log", IisLog("2024-06-02", kRecords));
  const fs::path log = logs_ / "u_ex240602.log";
  Collect({"--from", "2024-06-01", "--to", "2024-06-01"},
          "2024-06-05T08:00:00Z");  // makes the databases
  ::setenv("VELNOR_TEST_NOW", "2024-06-05T08:00:00Z", 1);
  std::vector<std::string> args = Words(
      "collect --server SRV1 --site Site,D:\\Logs,1 --no-tui --db-dir " +
      db_.string() + " --share-root " + (dir_.path() / "shares").string() +
      " --from 2024-06-02 --to 2024-06-02");
  pid_t pid = StartVelnor(args, dir_.path());
  auto reading = [&] {
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(fds, error)) {
      if (fs::read_symlink(fd.path(), error) != log) continue;
      std::istringstream info(ReadFile("/proc/" + std::to_string(pid) +
                                       "/fdinfo/" +
                                       fd.path().filename().string()));
      std::string key;
      long position = 0;
      info >> key >> position;
      // Past the start the run reads first to know the log by, and past
      // what the reader may hold read ahead of the records counted, so
      // that the run has counted some of the log when it is stopped.
      constexpr long kAhead = static_cast<long>(iislog::kReadAheadBytes +
                                                iislog::kReadAheadFillBytes);
      if (position > (1 << 20) + kAhead) {
        ::kill(pid, SIGSTOP);
        return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(WaitFor(reading, std::chrono::seconds(60)));
  ::kill(pid, SIGTERM);
  ::kill(pid, SIGCONT);
  VelnorRun cancelled = FinishVelnor(pid, dir_.path());
  ASSERT_EQ(cancelled.status, 130) << cancelled.err;
  const long counted = Hits();
  EXPECT_GT(counted, 0);
  EXPECT_LT(counted, kRecords);

  // The log is compressed (gzip, the plain file removed): read on from
  // where the cancel stopped, in the inflated text.
  GzipLog("u_ex240602.log");
  fs::remove(log);
  VelnorRun resumed = Collect({"--from", "2024-06-02", "--to", "2024-06-02"},
                              "2024-06-05T08:05:00Z");
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_TRUE(Contains(resumed.err,
                       "u_ex240602.log.gz of site 1 (Site) is the log read "
                       "as u_ex240602.log by run 2"))
      << resumed.err;
  EXPECT_EQ(Hits(), kRecords);

  // A log and its compressed copy side by side: one log, read once.
  WriteLog("u_ex240603.log", IisLog("2024-06-03", 70));
  GzipLog("u_ex240603.log");
  VelnorRun both = Collect({"--from", "2024-06-03", "--to", "2024-06-03"},
                           "2024-06-05T08:05:00Z");
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_TRUE(Contains(both.err, "by this run (the same text")) << both.err;
  EXPECT_TRUE(Contains(both.err, "collected 1 site of SRV1 (web): 70 records"))
      << both.err;
  EXPECT_EQ(Hits(), kRecords + 70);
}

TEST_F(CollectLedgerTest, ACompressedCopyOfAGrowingLogsStartIsNotCountedAgain) {
  // The log as it was early in the day, compressed, and the log since
  // grown past the length of text it is known by: the copy holds the
  // log's first records, and the run reads it after the log.
  const std::string day = "2024-06-03";
  WriteLog("u_ex240603.log", IisLog(day, 30));
  GzipLog("u_ex240603.log");
  fs::rename(logs_ / "u_ex240603.log.gz", logs_ / "u_ex240603_early.log.gz");
  WriteLog("u_ex240603.log", IisLog(day, 3000));
  ASSERT_GT(ReadFile(logs_ / "u_ex240603.log").size(), 64 * 1024);
  VelnorRun both =
      Collect({"--from", day, "--to", day}, "2024-06-05T08:00:00Z");
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_TRUE(Contains(both.err, "by this run (the same text")) << both.err;
  EXPECT_EQ(Hits(), 3000);

  // The same on a day counted in parts as its log grows: the copy comes
  // after a run read the log, which has grown further since.
  const std::string today = "2024-06-04";
  WriteLog("u_ex240604.log", IisLog(today, 2000));
  ASSERT_EQ(SoFar("2024-06-04T12:00:00Z").status, 0);
  WriteLog("u_ex240604_early.log", IisLog(today, 30));
  GzipLog("u_ex240604_early.log");
  fs::remove(logs_ / "u_ex240604_early.log");
  WriteLog("u_ex240604.log", IisLog(today, 2500));
  VelnorRun later = SoFar("2024-06-04T18:00:00Z");
  ASSERT_EQ(later.status, 0) << later.err;
  EXPECT_EQ(Hits(), 3000 + 2500);
}

// A log later found only as a compressed copy made while it was shorter
// than a run read it (past the part a log is known by, or within it; the
// copy ending in a line still being written) is the log read before: its
// records are not counted again. Another log that starts with the same
// directives is no such copy.
TEST_F(CollectLedgerTest, AShorterCompressedCopyOfALogReadBeforeIsNotCounted) {
  // Replaces the log `name` with its first `records` records (and `tail`)
  // compressed as `name`.gz.
  auto replace_with_copy = [this](const std::string& name,
                                  const std::string& day, int records,
                                  const std::string& tail) {
    WriteLog(name, IisLog(day, records) + tail);
    GzipLog(name);
    fs::remove(logs_ / name);
  };
  struct Case {
    std::string day;
    int read;  // records of the log a run read
    int copy;  // records of the copy found later
    std::string tail;
  };
  const Case kCases[] = {
      {"2024-06-11", 3000, 300, ""},
      {"2024-06-12", 400, 399, ""},
      {"2024-06-13", 900, 200, "2024-06-13 23:59:5"},
  };
  long counted = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.day);
    const std::string name = "u_ex" + c.day.substr(2, 2) + c.day.substr(5, 2) +
                             c.day.substr(8, 2) + ".log";
    WriteLog(name, IisLog(c.day, c.read));
    ASSERT_EQ(SoFar(c.day + "T10:00:00Z").status, 0);
    counted += c.read;
    ASSERT_EQ(Hits(), counted);
    replace_with_copy(name, c.day, c.copy, c.tail);
    VelnorRun later = SoFar(c.day + "T16:00:00Z");
    ASSERT_EQ(later.status, 0) << later.err;
    EXPECT_TRUE(Contains(later.err, name +
                                        ".gz of site 1 (Site) is the log "
                                        "read as " +
                                        name + " by run"))
        << later.err;
    EXPECT_FALSE(Contains(later.err, "cut short")) << later.err;
    EXPECT_EQ(Hits(), counted);
  }

  // The same directives and a record of its own: counted.
  WriteLog("u_ex240613_other.log",
           kIisHeader + IisRecords("2024-06-13", 5, 20000));
  GzipLog("u_ex240613_other.log");
  fs::remove(logs_ / "u_ex240613_other.log");
  ASSERT_EQ(SoFar("2024-06-13T18:00:00Z").status, 0);
  EXPECT_EQ(Hits(), counted + 5);
  // Nor is a log of the directives alone and a line still being written.
  WriteLog("u_ex240613_new.log", kIisHeader + std::string("2024-06-13 23:5"));
  GzipLog("u_ex240613_new.log");
  fs::remove(logs_ / "u_ex240613_new.log");
  VelnorRun started = SoFar("2024-06-13T18:30:00Z");
  ASSERT_EQ(started.status, 0) << started.err;
  EXPECT_FALSE(Contains(started.err,
                        "u_ex240613_new.log.gz of site 1 (Site) "
                        "is the log read as"))
      << started.err;
}

// A log collected run after run as it grows keeps the line ends of its
// start in the ledger once per start: the runs after it reached the
// length a log is known by, a copy of it read beside it, and a shorter
// copy found later keep none; that copy is still the log the last run
// read.
TEST_F(CollectLedgerTest, EachStartsLineEndsAreKeptOnceAndStillKnowACopy) {
  const std::string day = "2024-06-11";
  const std::string name = "u_ex240611.log";
  constexpr size_t kKnownBy = 64 * 1024;
  const int kRecords[] = {400, 800, 1500, 2000, 2600};
  // Per run, the start of each file it read: (file, length).
  std::vector<std::vector<std::pair<std::string, size_t>>> starts;
  for (int records : kRecords) {
    const std::string log = IisLog(day, records);
    WriteLog(name, log);
    const bool first = starts.empty();
    if (first) GzipLog(name);
    starts.push_back({{name, std::min(log.size(), kKnownBy)}});
    if (first) starts.back().emplace_back(name + ".gz", log.size());
    const std::string now =
        day + "T" + std::to_string(10 + starts.size()) + ":00:00Z";
    ASSERT_EQ(SoFar(now).status, 0);
    fs::remove(logs_ / (name + ".gz"));
  }
  ASSERT_EQ(starts.back()[0].second, kKnownBy);
  // A row keeps line ends when no row before it has the same start: each
  // run's log is longer than the last one's until it is kKnownBy long.
  const fs::path ledger = db_ / "velnor_ledger_SRV1_web.sqlite";
  testing::Rows expected;
  std::set<size_t> kept;
  for (size_t run = 0; run < starts.size(); ++run) {
    for (const auto& [file, length] : starts[run]) {
      expected.push_back({std::to_string(run + 1), file, std::to_string(length),
                          kept.insert(length).second ? "0" : "1"});
    }
  }
  EXPECT_EQ(QueryRows(ledger,
                      "SELECT run_id, file_name, head_bytes, "
                      "line_ends IS NULL FROM run_files "
                      "ORDER BY run_id, file_name"),
            expected);

  // The log gone, a compressed copy of its start shorter than it is known
  // by left: the log all the runs read, none of it counted again.
  fs::remove(logs_ / name);
  const std::string saved = "u_ex240611_saved.log";
  WriteLog(saved, IisLog(day, kRecords[1] + 100));
  ASSERT_LT(ReadFile(logs_ / saved).size(), kKnownBy);
  GzipLog(saved);
  fs::remove(logs_ / saved);
  const long counted = Hits();
  VelnorRun copy = SoFar(day + "T20:00:00Z");
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_TRUE(Contains(copy.err, saved +
                                     ".gz of site 1 (Site) is the log "
                                     "read as " +
                                     name + " by run " +
                                     std::to_string(starts.size()) + " ("))
      << copy.err;
  EXPECT_EQ(Hits(), counted);
  // Its start ends at a line end of the start the ledger keeps.
  EXPECT_EQ(QueryRows(ledger,
                      "SELECT line_ends IS NULL FROM run_files "
                      "WHERE file_name = '" +
                          saved + ".gz'"),
            (testing::Rows{{"1"}}));
}

// A ledger made before the line ends of each log's start were kept is read
// as it is, and the next run brings it to the current design: its own
// rows know a shorter copy of the log.
TEST_F(CollectLedgerTest, ALedgerOfTheEarlierDesignIsReadAndUpgradedByARun) {
  const std::string day = "2024-06-11";
  WriteLog("u_ex240611.log", IisLog(day, 2000));
  ASSERT_EQ(SoFar(day + "T10:00:00Z").status, 0);
  const fs::path ledger = db_ / "velnor_ledger_SRV1_web.sqlite";
  testing::ExecSql(ledger, "ALTER TABLE run_files DROP COLUMN line_ends");
  const std::map<std::string, std::string> before = Files();
  for (const char* command : {"report", "runs"}) {
    VelnorRun read = Velnor({command, "--db-dir", db_.string(), "--server",
                             "SRV1", "--format", "csv"},
                            day + "T11:00:00Z");
    EXPECT_EQ(read.status, 0) << command << ": " << read.err;
  }
  EXPECT_EQ(Files(), before);

  // The earlier row knows the grown log by its start, as it did.
  WriteLog("u_ex240611.log", IisLog(day, 2500));
  VelnorRun grown = SoFar(day + "T12:00:00Z");
  ASSERT_EQ(grown.status, 0) << grown.err;
  EXPECT_EQ(Hits(), 2500);
  EXPECT_EQ(QueryRows(ledger,
                      "SELECT run_id, line_ends IS NULL FROM run_files "
                      "ORDER BY run_id"),
            (testing::Rows{{"1", "1"}, {"2", "0"}}));

  WriteLog("u_ex240611.log", IisLog(day, 1000));
  GzipLog("u_ex240611.log");
  fs::remove(logs_ / "u_ex240611.log");
  VelnorRun copy = SoFar(day + "T16:00:00Z");
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_EQ(Hits(), 2500);
}

TEST_F(CollectLedgerTest,
       DatabasesWithoutTheirLedgerAreRefusedUntilOneIsStarted) {
  for (const char* day : {"2024-06-01", "2024-06-02", "2024-06-03"}) {
    const std::string d = day;
    WriteLog("u_ex" + d.substr(2, 2) + d.substr(5, 2) + d.substr(8, 2) + ".log",
             IisLog(d, 20));
  }
  const std::string now = "2024-06-04T02:30:00Z";
  ASSERT_EQ(Collect({"--from", "2024-06-01", "--to", "2024-06-02"}, now).status,
            0);
  const fs::path ledger = db_ / "velnor_ledger_SRV1_web.sqlite";
  ASSERT_TRUE(fs::remove(ledger));
  const std::map<std::string, std::string> before = Files();

  // Nothing tells which days the counts hold: refused, nothing made.
  VelnorRun refused = Collect({"--since-last"}, now);
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_TRUE(Contains(refused.err,
                       "velnor: error: the report databases of SRV1 (web) in " +
                           db_.string() +
                           " hold counts, but there is no collection ledger "
                           "beside them (velnor_ledger_SRV1_web.sqlite)"))
      << refused.err;
  EXPECT_TRUE(Contains(refused.err, "--start-ledger DAY")) << refused.err;
  EXPECT_EQ(Files(), before);

  // Started on the 3rd: the days before it are the databases' already.
  VelnorRun early = Collect({"--from", "2024-06-02", "--to", "2024-06-03",
                             "--start-ledger", "2024-06-03"},
                            now);
  EXPECT_EQ(early.status, 2) << early.err;
  EXPECT_TRUE(Contains(early.err,
                       "counted already: 2024-06-02 of site 1 (Site) by the "
                       "counts the databases held when the ledger was "
                       "started on 2024-06-03"))
      << early.err;
  EXPECT_EQ(Files(), before);
  VelnorRun started =
      Collect({"--since-last", "--start-ledger", "2024-06-03"}, now);
  ASSERT_EQ(started.status, 0) << started.err;
  EXPECT_TRUE(
      Contains(started.err, "collected 1 site of SRV1 (web): 20 records"))
      << started.err;
  EXPECT_EQ(Hits(), 60);

  // Once there, the ledger is the record: no second start, and the days
  // before the start stay refused.
  VelnorRun again =
      Collect({"--since-last", "--start-ledger", "2024-06-03"}, now);
  EXPECT_EQ(again.status, 2) << again.err;
  EXPECT_TRUE(Contains(again.err, "exists already")) << again.err;
  VelnorRun old = Collect({"--from", "2024-06-01", "--to", "2024-06-01"}, now);
  EXPECT_EQ(old.status, 2) << old.err;
  VelnorRun runs =
      Velnor({"runs", "--db-dir", db_.string(), "--format", "csv"}, now);
  EXPECT_TRUE(Contains(runs.out, "ledger start")) << runs.out;
  EXPECT_EQ(Hits(), 60);
}

// A ledger one of whose tables another tool renamed or dropped is told as
// such by each command that reads that table, with how to mend it; a
// collection is refused with nothing touched, and counts on once the table
// is back.
TEST_F(CollectLedgerTest, ALedgerThatLostATableIsToldAsSuchAndCountsNothing) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 12));
  WriteLog("u_ex240602.log", IisLog("2024-06-02", 7));
  const std::string now = "2024-06-03T02:30:00Z";
  ASSERT_EQ(Collect({"--from", "2024-06-01", "--to", "2024-06-01"}, now).status,
            0);
  const fs::path ledger = db_ / "velnor_ledger_SRV1_web.sqlite";
  const std::string db = db_.string();
  for (const std::string table : {"run_files", "runs"}) {
    SCOPED_TRACE(table);
    testing::ExecSql(ledger,
                     "ALTER TABLE " + table + " RENAME TO old_" + table);
    const std::map<std::string, std::string> before = Files();
    const std::string lacks = "the collection ledger " + ledger.string() +
                              " lacks its table " + table +
                              " (another tool renamed or dropped it)";
    VelnorRun refused = Collect({"--since-last"}, now);
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "velnor: error: " + lacks))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err,
                         "help: nothing was collected; rename "
                         "the table back (ALTER TABLE ... "
                         "RENAME TO " +
                             table + ")"))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err, "move " + ledger.string() +
                                          " aside and give --start-ledger "
                                          "DAY"))
        << refused.err;
    EXPECT_EQ(Files(), before);
  }
  // The list of runs and the reports read the runs too.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{
           {"runs", "--db-dir", db, "--server", "SRV1"},
           {"report", "--db-dir", db, "--server", "SRV1"},
           {"report", "--db-dir", db}}) {
    VelnorRun told = Velnor(args, now);
    EXPECT_EQ(told.status, 1) << args.size() << " " << args[0];
    EXPECT_TRUE(Contains(
        told.out + told.err,
        "the collection ledger " + ledger.string() + " lacks its table runs"))
        << args.size() << " " << args[0] << ": " << told.out << told.err;
  }
  testing::ExecSql(ledger, "ALTER TABLE old_runs RENAME TO runs");
  testing::ExecSql(ledger, "ALTER TABLE old_run_files RENAME TO run_files");
  ASSERT_EQ(Collect({"--since-last"}, now).status, 0);
  EXPECT_EQ(Hits(), 19);
}

TEST_F(CollectLedgerTest, UnregisteredFilesOfDaysCountedWholeAreNotNamed) {
  WriteLog("u_ex240601.log", IisLog("2024-06-01", 12));
  WriteLog("u_ex240603.log", IisLog("2024-06-03", 16));
  ASSERT_EQ(Collect({"--from", "2024-06-01", "--to", "2024-06-03",
                     "--refresh-registry"},
                    "2024-06-04T02:30:00Z")
                .status,
            0);
  // The 2nd is still open, so --since-last goes back to it over the 3rd,
  // counted whole: a compressed copy of the 3rd's log holds nothing to
  // count and is not named; the new day's log is.
  GzipLog("u_ex240603.log");
  WriteLog("u_ex240604.log", IisLog("2024-06-04", 9));
  VelnorRun night = Collect({"--since-last"}, "2024-06-05T02:30:00Z");
  ASSERT_EQ(night.status, 0) << night.err;
  EXPECT_TRUE(Contains(night.err, "goes back to 2024-06-02")) << night.err;
  EXPECT_TRUE(Contains(night.err,
                       "1 log file in \\\\SRV1\\D$\\Logs\\W3SVC1 is not "
                       "registered (newest u_ex240604.log)"))
      << night.err;
}

}  // namespace
}  // namespace velnor::host
