// DBSupport on a database with a report table, for what the report store's
// own tests cannot reach: every failure coming back as false with one
// error-log line, the statement of the line as the database would have read
// it. Appending, looking up and counting up are tested through the report
// store; what the database layer refuses and why, beside platform/ado.
#include "dbsupport/db_support.h"

#include <gtest/gtest.h>

#include <vector>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "testing/test_support.h"

namespace velnor {
namespace {

using automation::CLng;
using automation::Err;
using automation::Null;
using automation::ResumeNext;
using automation::Variant;

class DbSupportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ado::RegisterClasses();
    // The columns of the hour report that the tests use.
    testing::WriteFile(Path(), "");
    testing::ExecSql(Path(),
                     "CREATE TABLE tblGeneral (Identifier TEXT, URL TEXT,"
                     " Hours INTEGER, \"No of Hits\" INTEGER)");
    gstrErrorLogPath = dir_ + "/errors.log";
    Err().Clear();
  }
  void TearDown() override { gstrErrorLogPath.clear(); }

  std::string Path() const { return dir_ + "/QDX_UAWebLogHitsByHour_SRV1.mdb"; }

  std::shared_ptr<ado::Connection> Connect() {
    auto cn = std::make_shared<ado::Connection>();
    EXPECT_TRUE(OpenConnection(cn, Path()));
    return cn;
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

  testing::TempDir tmp_{"db_support_test"};
  const std::string dir_ = tmp_.path().string();
};

void Append(ado::Recordset& rs,
            const std::vector<std::pair<std::string, Variant>>& fields) {
  rs.AddNew();
  for (const auto& [name, value] : fields) rs.Fields(name).SetValue(value);
  rs.Update();
}

TEST_F(DbSupportTest, FailuresReturnFalseWithOneLogLineEach) {
  auto missing = std::make_shared<ado::Connection>();
  EXPECT_FALSE(OpenConnection(missing, dir_ + "/absent.mdb"));
  EXPECT_NE(missing, nullptr);  // the caller closes and releases it
  CloseConnection(missing);
  EXPECT_NE(missing, nullptr);  // never opened: left in place

  auto cn = Connect();
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
      {"select * from tblMissing",
       "cannot find the input table or query "
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
  EXPECT_EQ(Hits(cn,
                 "select [No of Hits] from tblGeneral where "
                 "[Identifier]='1' And URL = '/a' And Hours = 9"),
            1);

  // A prepared look-up runs with its values bound; only its log line has
  // them written in.
  const std::vector<Variant> key = {Variant("1"), Variant("/a"),
                                    Variant(int32_t{9})};
  std::unique_ptr<ado::Command> lookup;
  ASSERT_TRUE(OpenCommandEx(lookup,
                            "select [No of Hits] from tblGeneral where "
                            "[Identifier]=? And URL = ? And Hours = ?",
                            cn, key));
  EXPECT_EQ(CLng(lookup->Value(0)), 1);
  std::unique_ptr<ado::Command> broken;
  EXPECT_FALSE(OpenCommandEx(
      broken,
      "select [No of Hits] from tblGeneral where "
      "[Identifier]=? And URL = ? And [Nothing] = ?",
      cn, {Variant("1"), Variant("O'Brien"), Variant(int32_t{9})}));
  EXPECT_EQ(broken, nullptr);
  lookup.reset();
  CloseConnection(cn);

  std::vector<std::string> lines = testing::ReadLines(gstrErrorLogPath);
  ASSERT_EQ(lines.size(), 2 + cases.size());
  EXPECT_NE(lines.back().find("\tVELNORLogAnalysis-DBSupport-OpenRecordSetEx"
                              "\tselect [No of Hits] from tblGeneral where "
                              "[Identifier]='1' And URL = 'O''Brien' And "
                              "[Nothing] = 9\t"),
            std::string::npos)
      << lines.back();
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
