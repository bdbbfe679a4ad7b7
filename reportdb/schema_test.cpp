// The report databases as the collector finds them: the right files, the
// columns it writes, index seeks for its look-ups, and existing files left
// untouched.
#include "reportdb/schema.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ado/ado.h"
#include "platform/automation/error_state.h"
#include "testing/test_support.h"

namespace velnor::reportdb {
namespace {

class ReportSchemaTest : public ::testing::Test {
 protected:
  // The rows of `sql` on `file`, one per line, values apart by "|".
  std::string Query(const std::string& file, const std::string& sql) {
    std::string text;
    for (const auto& row : testing::QueryRows(dir_ + "/" + file, sql)) {
      for (const std::string& value : row) text += value + "|";
      text.back() = '\n';
    }
    return text;
  }

  // The columns of `table` in order.
  std::string Columns(const std::string& file, const std::string& table) {
    return Query(file,
                 "select group_concat(name, ',') from pragma_table_info('" +
                     table + "')");
  }

  testing::TempDir tmp_{"report_schema_test"};
  std::string dir_ = tmp_.path().string();
};

TEST_F(ReportSchemaTest, MakesTheFourFilesWithTheirTables) {
  CreatedDatabases result = CreateReportDatabases(dir_, "SRV1", false);
  ASSERT_EQ(result.made.size(), 4u);
  EXPECT_TRUE(result.left.empty());
  EXPECT_EQ(result.made[0], dir_ + "/QDX_UAWebLogDayOfWeek_SRV1.mdb");
  EXPECT_EQ(ReportDatabaseFileName(ReportKind::kHitsByStatus, "S", true),
            "QDX_UAFTPLogHitsByStatus_S.mdb");

  const std::string site = "Server name,Identifier,Web Site Name,";
  EXPECT_EQ(Columns("QDX_UAWebLogDayOfWeek_SRV1.mdb", "tblGeneral"),
            site + "URL,No of Hits,Sort Field,Day of week\n");
  EXPECT_EQ(Columns("QDX_UAWebLogHitsByMonth_SRV1.mdb", "tblGeneral"),
            site + "URL,No of Hits,Sort Field,Months\n");
  EXPECT_EQ(Columns("QDX_UAWebLogHitsByHour_SRV1.mdb", "tblGeneral"),
            site + "URL,No of Hits,Sort Field,Hours\n");
  EXPECT_EQ(Columns("QDX_UAWebLogHitsByStatus_SRV1.mdb", "tblGeneral"),
            site + "Sort Field,URL,Status,Status code,No of Hits\n");
  EXPECT_EQ(Columns("QDX_UAWebLogHitsByHour_SRV1.mdb", "tblTotalAccess"),
            site + "No of Hits\n");
  EXPECT_EQ(Columns("QDX_UAWebLogHitsByHour_SRV1.mdb", "tblLogFiles"),
            site + "Log File Name\n");
  EXPECT_EQ(Columns("QDX_UAWebLogDayOfWeek_SRV1.mdb", "tblLogFiles"), "NULL\n");

  CreateReportDatabases(dir_, "SRV1", true);
  EXPECT_EQ(Columns("QDX_UAFTPLogHitsByHour_SRV1.mdb", "tblLogFiles"),
            "Server name,Identifier,FTP Site Name,Log File Name\n");
}

TEST_F(ReportSchemaTest, LookUpsAreIndexSeeks) {
  CreateReportDatabases(dir_, "SRV1", false);
  const std::pair<const char*, const char*> lookups[] = {
      {"QDX_UAWebLogDayOfWeek_SRV1.mdb",
       "[Identifier]='1' And URL = '/A' And [Day of week] = 'Monday'"},
      {"QDX_UAWebLogHitsByMonth_SRV1.mdb",
       "[Identifier]='1' And URL = '/A' And [Months] = 'March'"},
      {"QDX_UAWebLogHitsByHour_SRV1.mdb",
       "[Identifier]='1' And URL = '/A' And Hours = 9"},
      {"QDX_UAWebLogHitsByStatus_SRV1.mdb",
       "[Identifier]='1' And URL = '/A' And [Status code] = 404"},
  };
  for (const auto& [file, where] : lookups) {
    EXPECT_NE(Query(file, std::string("explain query plan select [No of Hits] "
                                      "from tblGeneral where ") +
                              where)
                  .find("USING INDEX tblGeneral_Key ("),
              std::string::npos)
        << file;
  }
  EXPECT_NE(Query("QDX_UAWebLogHitsByHour_SRV1.mdb",
                  "explain query plan select * from tblLogFiles where "
                  "[Web Site Name] = 'x'")
                .find("USING INDEX"),
            std::string::npos);
}

TEST_F(ReportSchemaTest, LeavesExistingFilesAndRefusesAMissingFolder) {
  std::string day = dir_ + "/QDX_UAWebLogDayOfWeek_SRV1.mdb";
  testing::WriteFile(day, "the host's own file");
  CreatedDatabases result = CreateReportDatabases(dir_, "SRV1", false);
  EXPECT_EQ(result.left, std::vector<std::string>{day});
  EXPECT_EQ(result.made.size(), 3u);
  EXPECT_EQ(testing::ReadFile(day), "the host's own file");

  result = CreateReportDatabases(dir_, "SRV1", false);
  EXPECT_TRUE(result.made.empty());
  EXPECT_EQ(result.left.size(), 4u);
  // Only the databases: no temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            4);

  EXPECT_FALSE(automation::ResumeNext(
      [&] { CreateReportDatabases(dir_ + "/missing", "SRV1", false); }));
  EXPECT_EQ(automation::Err().Number(), automation::kErrPathNotFound);
  automation::Err().Clear();
}

TEST_F(ReportSchemaTest, ThirtyTwoBitColumnsRefuseOtherValues) {
  CreateReportDatabases(dir_, "SRV1", false);
  auto cn = std::make_shared<ado::Connection>();
  cn->SetProvider(ado::kJetProvider);
  cn->Open(dir_ + "/QDX_UAWebLogHitsByHour_SRV1.mdb");
  ado::Recordset table;
  table.SetLockType(ado::adLockPessimistic);
  table.SetActiveConnection(cn);
  table.Open("select * from tblGeneral");
  // The failure of `statement`, as the caller would read it.
  auto refusal = [](auto statement) -> std::pair<int32_t, std::string> {
    try {
      statement();
    } catch (const automation::AutomationError& error) {
      return {error.number(), error.description()};
    }
    return {0, "accepted"};
  };
  for (const automation::Variant& bad :
       {automation::Variant(int64_t{2147483648}), automation::Variant("nine"),
        automation::Variant(9.5)}) {
    table.AddNew();
    table.Fields("URL").SetValue("/a");
    table.Fields("Hours").SetValue(bad);
    auto [number, description] = refusal([&] { table.Update(); });
    EXPECT_EQ(number, ado::kErrRowRefused) << description;
    EXPECT_NE(description.find("tblGeneral"), std::string::npos);
    EXPECT_NE(description.find("[Hours]"), std::string::npos) << description;
    // Still pending until cancelled.
    EXPECT_EQ(table.Fields("URL").Value(), automation::Variant("/a"));
    table.CancelUpdate();
  }
  table.AddNew();
  table.Fields("URL").SetValue("/a");
  table.Fields("Hours").SetValue(int32_t{9});
  table.Fields("No of Hits").SetValue(int32_t{2147483647});
  table.Update();
  EXPECT_EQ(refusal([&] {
              cn->Execute(
                  "Update tblgeneral set [No of Hits]= 2147483648 where "
                  "[Identifier]='1' Or URL='/a'");
            }).first,
            ado::kErrRowRefused);
  ado::Command hits(cn, "select [No of Hits] from tblGeneral where URL = ?");
  hits.SetParameter(1, automation::Variant("/a"));
  hits.Execute();
  EXPECT_EQ(automation::CLng(hits.Value(0)), 2147483647);
}

}  // namespace
}  // namespace velnor::reportdb
