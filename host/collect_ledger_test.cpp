// velnor collect and velnor report with the collection ledger, run as a user
// runs them, with the run's clock set through VELNOR_TEST_NOW: the same
// days refused, counted again on purpose, collected night after night with
// --since-last, a log of the current day collected as it grows, and files
// left unregistered. Every count is checked against the log records
// themselves.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing/velnor_test_support.h"

namespace velnor::testing {
namespace {

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
  ASSERT_EQ(before.size(), 5u);

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

  VelnorRun morning =
      Collect({"--since-last", "--partial-day"}, "2024-06-11T10:00:00Z");
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
  VelnorRun afternoon =
      Collect({"--since-last", "--partial-day"}, "2024-06-11T16:00:00Z");
  ASSERT_EQ(afternoon.status, 0) << afternoon.err;
  EXPECT_TRUE(
      Contains(afternoon.err, "collected 1 site of SRV1 (web): 191 records"))
      << afternoon.err;

  // 23:00 and the next night: the rest of the day, once.
  AppendLog("u_ex240611.log", IisRecords(kDay, 60, 251));
  VelnorRun evening =
      Collect({"--since-last", "--partial-day"}, "2024-06-11T23:00:00Z");
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

}  // namespace
}  // namespace velnor::testing
