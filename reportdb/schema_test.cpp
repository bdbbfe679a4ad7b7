// The report databases as the collector finds them: the right files, the
// columns it writes, index seeks for its look-ups, and existing files left
// untouched.
#include "reportdb/schema.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/test_support.h"
#include "platform/automation/error_state.h"

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

}  // namespace
}  // namespace velnor::reportdb
