// DBSupport driven the way the report store drives it, on report databases
// made by CreateReportDatabases: rows appended, looked up and counted up,
// and every failure coming back as false with one error-log line.
#include "dbsupport/db_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "dbsupport/error_log.h"
#include "host/report_schema.h"
#include "platform/automation/error_state.h"

namespace velnor {
namespace {

using automation::CLng;
using automation::CStr;
using automation::Err;
using automation::Null;
using automation::ResumeNext;
using automation::Variant;
using host::ReportKind;

class DbSupportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ado::RegisterClasses();
    char templ[] = "/tmp/db_support_test-XXXXXX";
    dir_ = mkdtemp(templ);
    host::CreateReportDatabases(dir_, "SRV1", false);
    gstrErrorLogPath = dir_ + "/errors.log";
    Err().Clear();
  }
  void TearDown() override {
    gstrErrorLogPath.clear();
    std::filesystem::remove_all(dir_);
  }

  std::string Path(ReportKind kind) const {
    return dir_ + "/" + host::ReportDatabaseFileName(kind, "SRV1", false);
  }

  std::shared_ptr<ado::Connection> Connect(ReportKind kind) {
    auto cn = std::make_shared<ado::Connection>();
    EXPECT_TRUE(OpenConnection(cn, Path(kind)));
    return cn;
  }

  std::vector<std::string> LogLines() const {
    std::ifstream in(gstrErrorLogPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The first row's [No of Hits] of a look-up, or 0, as GetNumberOfHits
  // reads it.
  int32_t Hits(std::shared_ptr<ado::Connection>& cn, const std::string& sql) {
    std::shared_ptr<ado::Recordset> rs;
    int32_t hits = 0;
    if (OpenRecordSetEx(rs, sql, cn, 0, 1, 2) && !rs->Eof()) {
      hits = CLng(rs->Fields("No of Hits").Value());
    }
    CloseRecordSet(rs, true);
    return hits;
  }

  std::string dir_;
};

void Append(ado::Recordset& rs,
            const std::vector<std::pair<std::string, Variant>>& fields) {
  rs.AddNew();
  for (const auto& [name, value] : fields) rs.Fields(name).SetValue(value);
  rs.Update();
}

TEST_F(DbSupportTest, AppendsLooksUpAndCountsUpEveryReport) {
  struct Case {
    ReportKind kind;
    std::string bucket_column;
    Variant bucket;
    std::string condition;  // as the report store writes it
  };
  const std::vector<Case> cases = {
      {ReportKind::kDayOfWeek, "Day of week", "Monday",
       " And [Day of week] = 'Monday'"},
      {ReportKind::kHitsByMonth, "Months", "March", " And [Months] = 'March'"},
      {ReportKind::kHitsByHour, "Hours", int32_t{9}, " And Hours = 9"},
      {ReportKind::kHitsByStatus, "Status code", int32_t{404},
       " And [Status code] = 404"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bucket_column);
    auto cn = Connect(c.kind);
    std::shared_ptr<ado::Recordset> table;
    ASSERT_TRUE(OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2));
    Append(*table, {{"Server name", "SRV1"},
                    {"Identifier", "1"},
                    {"Web Site Name", NullToDefault(Null{}, "")},
                    {"URL", "/default.htm"},
                    {"No of Hits", int32_t{1}},
                    {c.bucket_column, c.bucket}});
    std::string where = "[Identifier]='1' And URL = '/default.htm'" + c.condition;
    EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where " + where), 1);

    // The update names the table in lower case and the URL in another case.
    cn->Execute("Update tblgeneral set [No of Hits]= 5 where [Identifier]='1'"
                " And URL='/Default.HTM'" + c.condition);
    EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where " + where), 5);
    EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where "
                       "[Identifier]='2' And URL = '/default.htm'" + c.condition),
              0);
    CloseRecordSet(table, true);
    EXPECT_EQ(table, nullptr);
    CloseConnection(cn);
    EXPECT_EQ(cn, nullptr);
  }
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DbSupportTest, ApostrophesAreStoredOnceAndFoundAgain) {
  auto cn = Connect(ReportKind::kDayOfWeek);
  std::shared_ptr<ado::Recordset> table;
  ASSERT_TRUE(OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2));
  Append(*table, {{"Identifier", "1"},
                  {"URL", "/o'brien.htm"},
                  {"No of Hits", int32_t{3}},
                  {"Day of week", "Monday"}});
  EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where [Identifier]=" +
                         QuoteSQLString("1") + " And URL = " +
                         QuoteSQLString("/o'brien.htm") +
                         " And [Day of week] = 'Monday'"),
            3);
  CloseRecordSet(table, true);
  CloseConnection(cn);
}

TEST_F(DbSupportTest, SiteTotalsAndLogFileRegistry) {
  auto cn = Connect(ReportKind::kHitsByHour);
  std::shared_ptr<ado::Recordset> rs;
  ASSERT_TRUE(OpenRecordSetEx(rs, "select * from tblTotalAccess", cn, 0, 3, 3));
  Append(*rs, {{"Server name", "SRV1"},
               {"Identifier", "1"},
               {"Web Site Name", "Default Web Site"},
               {"No of Hits", int32_t{42}}});
  CloseRecordSet(rs, true);

  ASSERT_TRUE(OpenRecordSetEx(rs, "select * from tblLogFiles", cn, 2, 2, 2));
  for (const char* name : {"ex070312.log", "ex070313.log"}) {
    Append(*rs, {{"Server name", "SRV1"},
                 {"Identifier", "1"},
                 {"Web Site Name", "Default Web Site"},
                 {"Log File Name", name}});
  }
  Append(*rs, {{"Server name", "SRV2"}, {"Log File Name", "other.log"}});
  CloseRecordSet(rs, true);

  ASSERT_TRUE(OpenRecordSetEx(
      rs, "Select * from tblLogFiles where [Web Site Name] = 'default web site'",
      cn, 2, 2, 3));
  std::vector<std::string> names;
  for (; !rs->Eof(); rs->MoveNext()) {
    names.push_back(CStr(NullToDefault(rs->Fields("Log File Name").Value(), "")));
  }
  CloseRecordSet(rs, true);
  EXPECT_EQ(names, (std::vector<std::string>{"ex070312.log", "ex070313.log"}));

  ASSERT_TRUE(OpenRecordSetEx(rs,
                              "select count(*) as RecCount from tblLogFiles "
                              "where [Server name] = 'SRV1'",
                              cn, 0, 1, 2));
  EXPECT_EQ(rs->Fields("RecCount").Value(), Variant(int32_t{2}));
  CloseRecordSet(rs, true);

  ASSERT_TRUE(OpenRecordSetEx(rs, "select * from tblTotalAccess", cn, 0, 3, 3));
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Fields("no of hits").Value(), Variant(int32_t{42}));
  CloseRecordSet(rs, true);
  CloseConnection(cn);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DbSupportTest, FailuresReturnFalseWithOneLogLineEach) {
  auto missing = std::make_shared<ado::Connection>();
  EXPECT_FALSE(OpenConnection(missing, dir_ + "/absent.mdb"));
  EXPECT_NE(missing, nullptr);  // the caller closes and releases it
  CloseConnection(missing);
  EXPECT_NE(missing, nullptr);  // never opened: left in place

  auto cn = Connect(ReportKind::kHitsByHour);
  std::shared_ptr<ado::Recordset> table;
  ASSERT_TRUE(OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2));
  Append(*table, {{"Identifier", "1"},
                  {"URL", "/a"},
                  {"Hours", int32_t{9}},
                  {"No of Hits", int32_t{1}}});
  CloseRecordSet(table, true);

  struct Case {
    std::string sql;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"select * from tblMissing", "cannot find the input table or query "
                                   "'tblMissing'"},
      {"select [No of Hits] from tblGeneral where [Nothing] = 1",
       "No value given for one or more required parameters"},
      {"select [No of Hits] frm tblGeneral", "syntax error"},
      {"select * from tblGeneral; delete from tblGeneral",
       "Characters found after end of SQL statement."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::shared_ptr<ado::Recordset> rs = std::make_shared<ado::Recordset>();
    EXPECT_FALSE(OpenRecordSetEx(rs, c.sql, cn, 0, 1, 2));
    EXPECT_EQ(rs, nullptr);
    EXPECT_EQ(Err().Number(), 0);
  }
  // The statement after the first was never run.
  EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where "
                     "[Identifier]='1' And URL = '/a' And Hours = 9"),
            1);
  CloseConnection(cn);

  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1 + cases.size());
  EXPECT_NE(lines[0].find("\tVELNORLogAnalysis-DBSupport "), std::string::npos);
  EXPECT_NE(lines[0].find("\tOpenConnection "), std::string::npos);
  EXPECT_NE(lines[0].find("  80004005\tCould not find file '" + dir_ +
                          "/absent.mdb'."),
            std::string::npos);
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string& line = lines[i + 1];
    EXPECT_NE(line.find("\tVELNORLogAnalysis-DBSupport-OpenRecordSetEx\t" +
                        cases[i].sql),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(cases[i].description), std::string::npos) << line;
  }
}

TEST_F(DbSupportTest, LockedDatabaseFailsQuicklyWithAClearError) {
  auto cn = Connect(ReportKind::kHitsByStatus);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Path(ReportKind::kHitsByStatus).c_str(), &other),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
            SQLITE_OK);

  // Reading goes on beside the other writer (the files keep a write-ahead
  // log); writing waits briefly, then fails with a clear error.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where "
                     "[Identifier]='1' And URL = '/x' And [Status code] = 404"),
            0);
  EXPECT_FALSE(ResumeNext([&] {
    cn->Execute("Update tblgeneral set [No of Hits]= 2 where [Identifier]='1'");
  }));
  EXPECT_EQ(Err().Number(), ado::kErrUnspecified);
  EXPECT_NE(Err().Description().find("currently locked"), std::string::npos);
  EXPECT_NE(Err().Description().find(Path(ReportKind::kHitsByStatus)),
            std::string::npos);
  Err().Clear();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(LogLines().empty());
  CloseConnection(cn);
}

int64_t CountRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "select count(*) from tblGeneral", -1, &stmt, nullptr);
  int64_t count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0)
                                                   : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return count;
}

TEST_F(DbSupportTest, PendingWritesAreCommittedInBatchesAndOnClose) {
  std::string path = Path(ReportKind::kHitsByHour);
  auto cn = Connect(ReportKind::kHitsByHour);
  std::shared_ptr<ado::Recordset> table;
  ASSERT_TRUE(OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2));
  Append(*table, {{"Identifier", "1"}, {"URL", "/a"}, {"Hours", int32_t{1}}});
  // Pending: visible to this connection only.
  EXPECT_EQ(CountRows(path), 0);
  std::shared_ptr<ado::Recordset> rs;
  ASSERT_TRUE(OpenRecordSetEx(rs, "select count(*) as n from tblGeneral", cn,
                              0, 1, 2));
  EXPECT_EQ(CLng(rs->Fields("n").Value()), 1);
  CloseRecordSet(rs, true);

  // A statement after the batch period commits the batch.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Append(*table, {{"Identifier", "1"}, {"URL", "/b"}, {"Hours", int32_t{2}}});
  EXPECT_EQ(CountRows(path), 1);

  CloseRecordSet(table, true);
  CloseConnection(cn);
  EXPECT_EQ(CountRows(path), 2);
}

TEST_F(DbSupportTest, ThirtyTwoBitColumnsRefuseOtherValues) {
  auto cn = Connect(ReportKind::kHitsByHour);
  std::shared_ptr<ado::Recordset> table;
  ASSERT_TRUE(OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2));
  for (const Variant& bad :
       {Variant(int64_t{2147483648}), Variant("nine"), Variant(9.5)}) {
    table->AddNew();
    table->Fields("URL").SetValue("/a");
    table->Fields("Hours").SetValue(bad);
    EXPECT_FALSE(ResumeNext([&] { table->Update(); }));
    EXPECT_EQ(Err().Number(), ado::kErrRowRefused);
    EXPECT_NE(Err().Description().find("tblGeneral"), std::string::npos);
    EXPECT_NE(Err().Description().find("[Hours]"), std::string::npos)
        << Err().Description();
    // Still pending until cancelled.
    EXPECT_EQ(table->Fields("URL").Value(), Variant("/a"));
    table->CancelUpdate();
    Err().Clear();
  }
  Append(*table, {{"URL", "/a"}, {"Hours", int32_t{9}}, {"No of Hits",
                                                         int32_t{2147483647}}});
  EXPECT_FALSE(ResumeNext([&] {
    cn->Execute("Update tblgeneral set [No of Hits]= 2147483648 where "
                "[Identifier]='1' Or URL='/a'");
  }));
  EXPECT_EQ(Err().Number(), ado::kErrRowRefused);
  Err().Clear();
  EXPECT_EQ(Hits(cn, "select [No of Hits] from tblGeneral where URL = '/a'"),
            2147483647);
  CloseRecordSet(table, true);
  CloseConnection(cn);
}

TEST(DbSupportValueTest, QuoteSQLStringAndNullToDefault) {
  EXPECT_EQ(QuoteSQLString("O'Brien"), "'O''Brien'");
  EXPECT_EQ(QuoteSQLString(""), "''");
  EXPECT_EQ(QuoteSQLString("''"), "''''''");
  EXPECT_EQ(QuoteSQLString(int32_t{12}), "'12'");
  EXPECT_FALSE(ResumeNext([] { QuoteSQLString(Null{}); }));
  EXPECT_EQ(Err().Number(), automation::kErrInvalidUseOfNull);
  Err().Clear();

  EXPECT_EQ(NullToDefault(Null{}, ""), Variant(""));
  EXPECT_EQ(NullToDefault("abc", ""), Variant("abc"));
  EXPECT_EQ(NullToDefault(int32_t{7}, int16_t{0}), Variant(int32_t{7}));
  EXPECT_EQ(NullToDefault(Null{}, int16_t{0}), Variant(int16_t{0}));

  std::shared_ptr<ado::Recordset> nothing;
  CloseRecordSet(nothing, true);
  EXPECT_EQ(nothing, nullptr);
}

}  // namespace
}  // namespace velnor
