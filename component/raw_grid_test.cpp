// Raw mode: every record of the period becomes a grid row, in file order
// across sites, and the aggregate tables stay untouched.
#include <gtest/gtest.h>

#include "component/test_support.h"
#include "component/velnor.h"
#include "dbsupport/grid_columns.h"
#include "platform/automation/ole_date.h"

namespace velnor::testing {
namespace {

using automation::DateSerial;

TEST(SizeGridColumnsTest, SpreadsTheWidthWithAFloor) {
  for (auto [width, expected] : std::vector<std::pair<float, float>>{
           {7330, 1000}, {14330, 2000}, {5000, 1000}, {12000, 11670.0f / 7}}) {
    Listing listing;
    auto grid = ListingGrid(width, listing);
    grid->SetCols(7);
    SizeGridColumns(grid);
    for (int c = 0; c < 7; ++c) EXPECT_FLOAT_EQ(grid->ColWidth(c), expected);
  }
  Listing listing;
  auto empty = ListingGrid(9000, listing);
  empty->SetCols(0);
  SizeGridColumns(empty);  // nothing to size, nothing fails
  SizeGridColumns(nullptr);
}

class RawModeTest : public RunFixture {};

TEST_F(RawModeTest, OneRowPerRecordAcrossSitesAndNoTallies) {
  MakeDatabases(false);
  WriteShareFile(
      "SRV1/D$/Logs/W3SVC1/ex240603.log",
      WebLog({{"2024-06-03", "00:30:00", "/a", 200, "10.1.1.1"},
              {"2024-05-01", "00:00:00", "/old", 200},
              {"2024-06-03", "14:05:09", "/b", 404, "10.1.1.2", "POST"},
              {"2024-06-04", "09:00:00", "/c", 304}}));
  WriteShareFile("SRV1/D$/Logs/W3SVC2/ex240603.log",
                 WebLog({{"2024-06-05", "10:00:00", "/d", 200},
                         {"2024-06-05", "11:00:00", "/e", 500}}));
  Listing listing;
  auto grid = ListingGrid(14330, listing);
  auto parser = CreateLogParser({}, Settings());
  parser->SetErrorLogPath(error_log_.string());
  parser->CollectIISLogData(
      "SRV1", false, DateSerial(2024, 6, 1), DateSerial(2024, 6, 30),
      db_dir_.string(), true, grid,
      std::make_shared<automation::Collection>(
          std::vector<std::string>{"One,D:\\Logs,1", "Two,D:\\Logs,2"}));
  grid->Finish();

  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(listing.rows, (Rows{{"Server Name", "Site Name", "Client IP",
                                 "Method", "Page URL", "Status", "Date"},
                                {"SRV1", "One", "10.1.1.1", "GET", "/a", "200",
                                 "6/3/2024 12:30:00 AM"},
                                {"SRV1", "One", "10.1.1.2", "POST", "/b", "404",
                                 "6/3/2024 2:05:09 PM"},
                                {"SRV1", "One", "10.0.0.1", "GET", "/c", "304",
                                 "6/4/2024 9:00:00 AM"},
                                {"SRV1", "Two", "10.0.0.1", "GET", "/d", "200",
                                 "6/5/2024 10:00:00 AM"},
                                {"SRV1", "Two", "10.0.0.1", "GET", "/e", "500",
                                 "6/5/2024 11:00:00 AM"}}));
  ASSERT_TRUE(listing.ended);
  EXPECT_EQ(listing.layout.col_widths, std::vector<float>(7, 2000));
  EXPECT_EQ(listing.layout.fixed_rows, 1);
  EXPECT_EQ(listing.layout.fixed_cols, 0);
  EXPECT_EQ(listing.layout.merge_cols,
            (std::vector<bool>{true, true, false, false, false, false, false}));
  EXPECT_TRUE(
      Query("QDX_UAWebLogHitsByHour_", "select * from tblGeneral").empty());
  EXPECT_TRUE(
      Query("QDX_UAWebLogHitsByHour_", "select * from tblTotalAccess").empty());
  EXPECT_EQ(LastRunSummary(*parser).records, 5);
}

TEST_F(RawModeTest, EmptyPeriodLeavesTheHeaderOnly) {
  MakeDatabases(false);
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240603.log",
                 WebLog({{"2024-06-03", "00:30:00", "/a", 200}}));
  Listing listing;
  auto grid = ListingGrid(5000, listing);
  grid->SetRows(9);  // rows of an earlier listing are replaced
  auto parser = CreateLogParser({}, Settings());
  parser->CollectIISLogData("SRV1", false, DateSerial(2025, 1, 1),
                            DateSerial(2025, 1, 2), db_dir_.string(), true,
                            grid,
                            std::make_shared<automation::Collection>(
                                std::vector<std::string>{"One,D:\\Logs,1"}));
  grid->Finish();
  ASSERT_EQ(listing.rows.size(), 1u);
  EXPECT_EQ(listing.rows[0][6], "Date");
  EXPECT_FLOAT_EQ(listing.layout.col_widths[0], 1000);
}

// The real IIS logs of the test data, every web one in one site folder:
// counting them and listing them must agree record for record, and every
// report must add up to the site's total.
TEST_F(RawModeTest, RealLogsCountAsManyRecordsAsTheyList) {
  MakeDatabases(false);
  const std::filesystem::path data =
      std::filesystem::path(VELNOR_SOURCE_DIR) / "platform/iislog/testdata";
  for (const auto& entry : std::filesystem::directory_iterator(data)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with("web-")) {
      WriteShareFile("SRV1/D$/Logs/W3SVC1/" + name, ReadFile(entry.path()));
    }
  }
  auto sites = std::make_shared<automation::Collection>(
      std::vector<std::string>{"Real,D:\\Logs,1"});
  auto parser = CreateLogParser({}, Settings());
  parser->SetErrorLogPath(error_log_.string());
  parser->CollectIISLogData("SRV1", false, DateSerial(1990, 1, 1),
                            DateSerial(2030, 12, 31), db_dir_.string(), false,
                            nullptr, sites);
  const std::string aggregate_errors = ErrorLog();
  const Rows total = Query("QDX_UAWebLogHitsByHour_",
                           "select [No of Hits] from tblTotalAccess");
  ASSERT_EQ(total.size(), 1u);
  // Every record of the web files (their counts are the log reader's test
  // data), each dated.
  EXPECT_EQ(total[0][0], "288");
  EXPECT_EQ(aggregate_errors, "");
  for (const char* prefix :
       {"QDX_UAWebLogDayOfWeek_", "QDX_UAWebLogHitsByMonth_",
        "QDX_UAWebLogHitsByHour_", "QDX_UAWebLogHitsByStatus_"}) {
    EXPECT_EQ(Query(prefix, "select sum([No of Hits]) from tblGeneral"), total)
        << prefix;
  }

  Listing listing;
  auto grid = ListingGrid(14330, listing);
  parser->CollectIISLogData("SRV1", false, DateSerial(1990, 1, 1),
                            DateSerial(2030, 12, 31), db_dir_.string(), true,
                            grid);
  grid->Finish();
  EXPECT_EQ(std::to_string(listing.rows.size() - 1), total[0][0]);
  EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace velnor::testing
