// ReportStore against real report databases: each test makes the databases
// of a service in a temporary folder, drives the store the way a collection
// run does (connections from OpenConnection, "select * from tblGeneral"
// recordsets), ends the run, and reads the resulting rows and error-log
// lines back through SQLite directly, independent of the code under test.
#include "reportstore/report_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "reportdb/schema.h"
#include "testing/test_support.h"

namespace velnor {
namespace {

using testing::Rows;

enum Report { kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus };
constexpr std::array<const char*, 4> kReportNames = {
    "DayOfWeek", "HitsByMonth", "HitsByHour", "HitsByStatus"};

struct LogLine {
  std::string source, procedure, description;
  int32_t number;
};

std::string TrimRight(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

class ReportStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gstrErrorLogPath = dir_ + "/errors.log";
    ado::RegisterClasses();
    UseService(false);
  }

  void TearDown() override { EndRun(); }

  // Switches to the web or FTP databases of server SRV1, making them on
  // first use.
  void UseService(bool ftp) {
    EndRun();
    is_ftp_ = ftp;
    column_ = ftp ? "FTP Site Name" : "Web Site Name";
    ASSERT_NO_THROW(reportdb::CreateReportDatabases(dir_, "SRV1", ftp));
  }

  std::string Path(Report report) const {
    return dir_ + "/" +
           reportdb::ReportDatabaseFileName(reportdb::kReportKinds[report],
                                            "SRV1", is_ftp_);
  }

  // Opens the four databases and their tblGeneral recordsets as a run does.
  void StartRun() {
    if (running_) return;
    for (int r = 0; r < 4; ++r) {
      cn_[r] = std::make_shared<ado::Connection>();
      ASSERT_TRUE(OpenConnection(cn_[r], Path(Report(r))));
      ASSERT_TRUE(
          OpenRecordSetEx(rs_[r], "select * from tblGeneral", cn_[r], 2, 2, 2));
    }
    running_ = true;
  }

  void EndRun() {
    if (!running_) return;
    for (int r = 0; r < 4; ++r) CloseRecordSet(rs_[r], true);
    for (int r = 0; r < 4; ++r) CloseConnection(cn_[r]);
    running_ = false;
  }

  std::shared_ptr<ado::Connection>& Cn(Report report) {
    StartRun();
    return cn_[report];
  }

  // The four tally calls of one counted record, in the run's order.
  void CountRecord(const std::string& url, const std::string& day, int wday,
                   const std::string& month, int mon, int hour, int status,
                   const std::string& site = "Site One") {
    StartRun();
    store_.DumpDataIntoDB(cn_[0], rs_[0], site, "1", url, column_,
                          "Day of Week", day, wday, 0, "", 0);
    store_.DumpDataIntoDB(cn_[1], rs_[1], site, "1", url, column_, "Month", "",
                          0, 0, month, mon);
    store_.DumpDataIntoDB(cn_[2], rs_[2], site, "1", url, column_, "Hour", "",
                          0, hour, "", 0);
    store_.DumpStatusData(cn_[3], rs_[3], site, "1", url, status, column_);
  }

  void CountHour(const std::string& url, int hour) {
    StartRun();
    store_.DumpDataIntoDB(cn_[2], rs_[2], "Site One", "1", url, column_, "Hour",
                          "", 0, hour, "", 0);
  }

  // Runs `sql` on the report database through SQLite, after ending the run
  // so that everything the store wrote is on disk; NULL reads as "NULL".
  Rows Query(Report report, const std::string& sql) {
    EndRun();
    return testing::QueryRows(Path(report), sql);
  }

  void Exec(Report report, const std::string& sql) {
    EXPECT_TRUE(Query(report, sql).empty());
  }

  std::vector<LogLine> ErrorLines() const {
    std::vector<LogLine> lines;
    for (const std::string& line : testing::ReadLines(gstrErrorLogPath)) {
      std::vector<std::string> f;
      std::istringstream fields(line.substr(0, line.size() - 1));  // CR
      for (std::string s; std::getline(fields, s, '\t');) f.push_back(s);
      if (f.size() < 4) f.resize(4);
      if (f.size() < 5) f.emplace_back();
      lines.push_back({TrimRight(f[1]), TrimRight(f[2]), f[4],
                       int32_t(std::stoul(f[3], nullptr, 16))});
    }
    return lines;
  }

  testing::TempDir tmp_{"reportstore_test"};
  const std::string dir_ = tmp_.path().string();
  std::string server_ = "SRV1";
  bool is_ftp_ = false;
  std::string column_;
  ReportStore store_{server_, is_ftp_};
  std::array<std::shared_ptr<ado::Connection>, 4> cn_;
  std::array<std::shared_ptr<ado::Recordset>, 4> rs_;
  bool running_ = false;
};

// Apostrophes in every text are stored as they are and found again.
TEST_F(ReportStoreTest, NewAndRepeatedKeysFillEveryBucketForBothServices) {
  for (bool ftp : {false, true}) {
    SCOPED_TRACE(ftp ? "FTP" : "web");
    UseService(ftp);
    for (int hour : {9, 10}) {
      CountRecord("/o'neil.htm", "Sun'day", 1, "Jan'uary", 1, hour, 200,
                  "Bob's site");
    }
    const std::string who =
        "select [Server name], Identifier, [" + column_ + "], URL, ";
    EXPECT_EQ(Query(kDayOfWeek, who + "[No of Hits], [Sort Field], "
                                      "[Day of week] from tblGeneral"),
              (Rows{{"SRV1", "1", "Bob's site", "/o'neil.htm", "2", "1",
                     "Sun'day"}}));
    EXPECT_EQ(Query(kHitsByMonth, who + "[No of Hits], [Sort Field], Months "
                                        "from tblGeneral"),
              (Rows{{"SRV1", "1", "Bob's site", "/o'neil.htm", "2", "1",
                     "Jan'uary"}}));
    EXPECT_EQ(
        Query(kHitsByHour, who + "[No of Hits], [Sort Field], Hours "
                                 "from tblGeneral order by Hours"),
        (Rows{{"SRV1", "1", "Bob's site", "/o'neil.htm", "1", "NULL", "9"},
              {"SRV1", "1", "Bob's site", "/o'neil.htm", "1", "NULL", "10"}}));
    EXPECT_EQ(
        Query(kHitsByStatus, who + "[No of Hits], [Sort Field], Status, "
                                   "[Status code] from tblGeneral"),
        (Rows{{"SRV1", "1", "Bob's site", "/o'neil.htm", "2", "0",
               ftp ? "command successful(200)" : "Succeeded (200)", "200"}}));
  }
  EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(ReportStoreTest, CountsAndSiteTotalsAccumulateAcrossRuns) {
  for (int hits : {5, 0}) {  // two runs over the same records
    CountRecord("/a.htm", "Friday", 6, "March", 3, 23, 304);
    CountRecord("/b.htm", "Friday", 6, "March", 3, 23, 304);
    store_.AddSitesAccessInfo(Cn(kHitsByHour), "Site One", "1", hits, column_);
    EndRun();
  }
  for (Report r : {kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus}) {
    EXPECT_EQ(Query(r, "select URL, [No of Hits] from tblGeneral order by URL"),
              (Rows{{"/a.htm", "2"}, {"/b.htm", "2"}}))
        << kReportNames[r];
  }
  EXPECT_EQ(
      Query(kHitsByHour,
            "select [Server name], Identifier, "
            "[Web Site Name], [No of Hits] from "
            "tblTotalAccess order by rowid"),
      (Rows{{"SRV1", "1", "Site One", "5"}, {"SRV1", "1", "Site One", "0"}}));
}

TEST_F(ReportStoreTest, StatusCodesGetTheirServiceLabelOrOthers) {
  struct Case {
    int code;
    const char* label;
    const char* sort;
  };
  const std::vector<Case> web = {{200, "Succeeded (200)", "0"},
                                 {304, "Not Modified (304)", "1"},
                                 {400, "Bad Request (400)", "2"},
                                 {401, "Unauthorized (401)", "3"},
                                 {404, "Not Found (404)", "4"},
                                 {500, "Internal Server Error (500)", "5"},
                                 {501, "Not Implemented (501)", "6"},
                                 {502, "Bad Gateway (502)", "7"},
                                 {0, "Others", "100"},
                                 {226, "Others", "100"},
                                 {403, "Others", "100"}};
  const std::vector<Case> ftp = {{200, "command successful(200)", "0"},
                                 {226, "Transfer complete(226)", "1"},
                                 {230, "User logged in proceed(230)", "2"},
                                 {331, "User(331)", "3"},
                                 {426, "closed(426)", "4"},
                                 {404, "Others", "100"},
                                 {550, "Others", "100"}};
  for (bool is_ftp : {false, true}) {
    UseService(is_ftp);
    Rows expected;
    for (const Case& c : is_ftp ? ftp : web) {
      store_.DumpStatusData(Cn(kHitsByStatus), rs_[kHitsByStatus], "Site One",
                            "1", "/x.gif", c.code, column_);
      expected.push_back({std::to_string(c.code), c.label, c.sort, "1"});
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Query(kHitsByStatus,
                    "select cast([Status code] as text) as c, Status, [Sort "
                    "Field], [No of Hits] from tblGeneral order by c"),
              expected);
  }
}

TEST_F(ReportStoreTest, StoredCountsAtTheEdges) {
  const std::string insert =
      "insert into tblGeneral ([Server name], Identifier, URL, Hours, "
      "[No of Hits]) values ('SRV1', '1', ";
  Exec(kHitsByHour, insert + "'/zero', 5, 0)");
  Exec(kHitsByHour, insert + "'/empty', 5, NULL)");
  Exec(kHitsByHour, insert + "'/twice', 5, 3)");
  Exec(kHitsByHour, insert + "'/twice', 5, 3)");
  for (const char* url : {"/zero", "/empty", "/twice"}) {
    CountHour(url, 5);
  }
  EXPECT_EQ(Query(kHitsByHour,
                  "select URL, [No of Hits] from tblGeneral "
                  "order by URL, [No of Hits]"),
            (Rows{{"/empty", "NULL"},
                  {"/empty", "1"},
                  {"/twice", "4"},
                  {"/twice", "4"},
                  {"/zero", "0"},
                  {"/zero", "1"}}));
  const std::vector<LogLine> lines = ErrorLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].source, "VELNORLogAnalysis-LogParser");
  EXPECT_EQ(lines[0].procedure, "GetNumberOfHits");
  EXPECT_NE(lines[0].number, 0);
}

TEST_F(ReportStoreTest, RegistryAppendsCountsAndLooksUpNames) {
  auto& cn = Cn(kHitsByHour);
  EXPECT_EQ(store_.GetLogFileCountFromDB(cn), 0);
  EXPECT_TRUE(
      store_.CollectLogFileFromDB(cn, "Bob's site", "1", column_).empty());
  const automation::StringArray listing = {"ex070101.log", " ex070102.log "};
  store_.DumpLogFilesIntoDB(cn, "Bob's site", "1",
                            automation::Variant(listing));
  store_.DumpLogFilesIntoDB(cn, "Bob's site", "1",
                            automation::Variant(listing));
  EXPECT_EQ(store_.GetLogFileCountFromDB(cn), 4);
  EXPECT_EQ(store_.CollectLogFileFromDB(cn, "BOB'S Site", "1", column_),
            (automation::StringArray{"ex070101.log", "ex070102.log",
                                     "ex070101.log", "ex070102.log"}));

  Exec(kHitsByHour,
       "insert into tblLogFiles ([Server name], [Web Site Name], [Log File "
       "Name]) values ('OTHER', 'Two', NULL), ('OTHER', 'Two', '  '), "
       "('OTHER', 'Two', 'a.log'), ('OTHER', 'Two', ' '), "
       "('OTHER', 'Two', 'b.log,c.log')");
  auto& cn2 = Cn(kHitsByHour);
  EXPECT_EQ(store_.CollectLogFileFromDB(cn2, "Two", "2", column_),
            (automation::StringArray{"a.log", "", "b.log", "c.log"}));
  EXPECT_EQ(store_.GetLogFileCountFromDB(cn2), 4);  // only SRV1's rows

  // An apostrophe in the server name breaks the count statement, and the
  // rest of the name never runs as a statement of its own.
  server_ = "SRV1'; delete from tblLogFiles; --";
  EXPECT_EQ(store_.GetLogFileCountFromDB(cn2), 0);
  EXPECT_EQ(Query(kHitsByHour, "select count(*) from tblLogFiles"),
            (Rows{{"9"}}));
  const std::vector<LogLine> lines = ErrorLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].source, "VELNORLogAnalysis-DBSupport-OpenRecordSetEx");
  EXPECT_EQ(lines[0].procedure,
            "select count(*) as RecCount from tblLogFiles where [Server name] "
            "= '" +
                server_ + "'");

  server_ = "SRV1";
  UseService(true);
  store_.DumpLogFilesIntoDB(
      Cn(kHitsByHour), "Ftp One", "3",
      automation::Variant(automation::StringArray{"f.log"}));
  EXPECT_EQ(Query(kHitsByHour,
                  "select [Server name], Identifier, [FTP Site "
                  "Name], [Log File Name] from tblLogFiles"),
            (Rows{{"SRV1", "3", "Ftp One", "f.log"}}));
}

TEST_F(ReportStoreTest, RefusedRowsAndUpdatesAreLoggedAndTheRunGoesOn) {
  const std::string refuse = " BEGIN SELECT RAISE(ABORT, 'refused'); END";
  CountRecord("/kept", "Monday", 2, "May", 5, 8, 404);
  Exec(kHitsByHour,
       "create trigger r before insert on tblGeneral when "
       "new.URL = '/new'" +
           refuse);
  Exec(kHitsByMonth, "create trigger r before update on tblGeneral" + refuse);
  Exec(kHitsByStatus,
       "create trigger r before insert on tblGeneral when "
       "new.URL = '/new'" +
           refuse);
  Exec(kHitsByStatus, "create trigger u before update on tblGeneral" + refuse);
  Exec(kHitsByHour,
       "create trigger t before insert on tblTotalAccess" + refuse);
  CountRecord("/new", "Monday", 2, "May", 5, 8, 404);
  CountRecord("/kept", "Monday", 2, "May", 5, 8, 404);
  CountRecord("/after", "Monday", 2, "May", 5, 8, 404);
  store_.AddSitesAccessInfo(Cn(kHitsByHour), "Site One", "1", 3, column_);

  const Rows counts = {{"/after", "1"}, {"/kept", "1"}, {"/new", "1"}};
  const std::string select =
      "select URL, [No of Hits] from tblGeneral order by URL";
  EXPECT_EQ(Query(kHitsByMonth, select), counts);
  EXPECT_EQ(Query(kHitsByHour, select),
            (Rows{{"/after", "1"}, {"/kept", "2"}}));
  EXPECT_EQ(Query(kHitsByStatus, select),
            (Rows{{"/after", "1"}, {"/kept", "1"}}));
  EXPECT_EQ(Query(kDayOfWeek, select),
            (Rows{{"/after", "1"}, {"/kept", "2"}, {"/new", "1"}}));

  std::vector<std::pair<std::string, std::string>> got;
  for (const LogLine& l : ErrorLines()) {
    EXPECT_NE(l.number, 0);
    EXPECT_NE(l.description.find("refused"), std::string::npos);
    got.emplace_back(l.source, l.procedure);
  }
  const std::string lp = "VELNORLogAnalysis-LogParser";
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {lp + " - Hour(Update)", "DumpDataIntoDB"},
                     {lp + "(Update)", "DumpStatusData"},
                     {lp + " - Month", "DumpDataIntoDB"},
                     {lp, "DumpStatusData"},
                     {lp, "AddSitesAccessInfo"}}));
}

TEST_F(ReportStoreTest, MissingTablesAndColumnsAreLogged) {
  Exec(kDayOfWeek,
       "alter table tblGeneral rename column [Day of week] to Weekday");
  Exec(kHitsByHour,
       "insert into tblLogFiles ([Web Site Name], [Log File "
       "Name]) values ('S', 'a.log'), ('S', 'b.log')");
  Exec(kHitsByHour,
       "alter table tblLogFiles rename column [Log File Name] to Name");
  Exec(kHitsByStatus, "drop table tblGeneral");
  Exec(kHitsByStatus, "create table tblGeneral (URL text)");
  Exec(kDayOfWeek, "drop table if exists tblTotalAccess");
  Exec(kDayOfWeek, "drop table if exists tblLogFiles");

  CountRecord("/x", "Monday", 2, "May", 5, 8, 404);
  EXPECT_TRUE(
      store_.CollectLogFileFromDB(Cn(kHitsByHour), "S", "", column_).empty());
  const automation::Variant two(automation::StringArray{"c.log", "d.log"});
  store_.DumpLogFilesIntoDB(Cn(kHitsByHour), "S", "", two);
  auto& no_tables = Cn(kDayOfWeek);
  store_.AddSitesAccessInfo(no_tables, "S", "1", 1, column_);
  EXPECT_EQ(store_.GetLogFileCountFromDB(no_tables), 0);
  EXPECT_TRUE(store_.CollectLogFileFromDB(no_tables, "S", "", column_).empty());
  store_.DumpLogFilesIntoDB(no_tables, "S", "", two);

  std::vector<std::string> got;
  for (const LogLine& l : ErrorLines()) {
    got.push_back(l.source + "|" + l.procedure +
                  (l.number == 0 ? "|" + l.description : ""));
  }
  const std::string ors = "VELNORLogAnalysis-DBSupport-OpenRecordSetEx|";
  const std::string lp = "VELNORLogAnalysis-LogParser|";
  EXPECT_EQ(
      got,
      (std::vector<std::string>{
          ors + "select [No of Hits] from tblGeneral where [Identifier]='1' "
                "And URL = '/x' And [Day of week] = 'Monday'",
          ors + "select [No of Hits] from tblGeneral where [Identifier]='1' "
                "And URL = '/x' And [Status code] = 404",
          lp + "CollectLogFileFromDB", lp + "CollectLogFileFromDB",
          lp + "DumpLogFilesIntoDB-Update", lp + "DumpLogFilesIntoDB-Update",
          ors + "select * from tblTotalAccess",
          ors + "select count(*) as RecCount from tblLogFiles where [Server "
                "name] = 'SRV1'",
          ors + "Select * from tblLogFiles where [Web Site Name] = 'S'",
          ors + "select * from tblLogFiles",
          lp + "DumpLogFilesIntoDB|RecordSetFail-Web"}));
}

}  // namespace
}  // namespace velnor
