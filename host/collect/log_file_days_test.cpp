// Log file names to days: daily, hourly and monthly names, and the weekly
// names IIS writes in the form of daily ones, told apart by the folder's
// other names.
#include "host/collect/log_file_days.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/automation/ole_date.h"

namespace velnor::host {
namespace {

ledger::Day Date(int year, int month, int day) {
  return static_cast<ledger::Day>(automation::DateSerial(year, month, day));
}

std::vector<unc::DirEntry> Folder(const std::vector<std::string>& names) {
  std::vector<unc::DirEntry> files;
  for (const std::string& name : names) {
    unc::DirEntry entry;
    entry.name = name;
    files.push_back(entry);
  }
  return files;
}

void ExpectDays(std::string_view name, SixDigitNames names, ledger::Day first,
                ledger::Day last) {
  std::optional<FileDays> days = DaysInLogFileName(name, names);
  ASSERT_TRUE(days.has_value()) << name;
  EXPECT_EQ(days->first, first) << name;
  EXPECT_EQ(days->last, last) << name;
}

TEST(LogFileDaysTest, AFolderOfDailyNamesReadsEachAsItsDay) {
  const SixDigitNames names = SixDigitNamesOf(
      Folder({"u_ex240602.log", "u_ex240603.log.gz", "u_ex240607.log"}));
  EXPECT_EQ(names, SixDigitNames::kDays);
  // The first days of a month, a new site's or with older logs gone.
  EXPECT_EQ(SixDigitNamesOf(Folder({"u_ex240601.log", "u_ex240602.log",
                                    "u_ex240603.log.gz", "u_ex2405.log"})),
            SixDigitNames::kDays);
  ExpectDays("u_ex240602.log", names, Date(2024, 6, 2), Date(2024, 6, 2));
  ExpectDays("EX24060223.LOG", names, Date(2024, 6, 2), Date(2024, 6, 2));
  ExpectDays("u_ex2402.log", names, Date(2024, 2, 1), Date(2024, 2, 29));
  EXPECT_FALSE(DaysInLogFileName("u_ex240631.log", names));
  EXPECT_FALSE(DaysInLogFileName("u_ex240602_x.log", names));
}

// June 2024 starts on a Saturday and touches six Sunday-to-Saturday
// weeks; September 2024 starts on a Sunday.
TEST(LogFileDaysTest, AWeeklyNameIsTakenForEveryDayItMayHold) {
  const SixDigitNames names =
      SixDigitNamesOf(Folder({"u_ex240601.log", "u_ex240602.log",
                              "u_ex240606.log", "x.txt", "u_ex240901.log"}));
  EXPECT_EQ(names, SixDigitNames::kDaysOrWeeks);
  ExpectDays("u_ex240601.log", names, Date(2024, 6, 1), Date(2024, 6, 1));
  ExpectDays("u_ex240602.log", names, Date(2024, 6, 2), Date(2024, 6, 8));
  ExpectDays("u_ex240605.log.gz", names, Date(2024, 6, 5), Date(2024, 6, 29));
  ExpectDays("u_ex240606.log", names, Date(2024, 6, 6), Date(2024, 6, 30));
  ExpectDays("u_ex240901.log", names, Date(2024, 9, 1), Date(2024, 9, 7));
  // September has five weeks: its "06" is a day alone.
  ExpectDays("u_ex240906.log", names, Date(2024, 9, 6), Date(2024, 9, 6));
  ExpectDays("u_ex241231.log", names, Date(2024, 12, 31), Date(2024, 12, 31));
  ExpectDays("u_ex24060223.log", names, Date(2024, 6, 2), Date(2024, 6, 2));
}

}  // namespace
}  // namespace velnor::host
