// OLE date arithmetic against known calendar facts.
#include "platform/automation/ole_date.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/automation/error_state.h"

namespace velnor::automation {
namespace {

TEST(OleDateTest, KnownDatesAndWeekdays) {
  EXPECT_EQ(DateSerial(1899, 12, 30), 0.0);
  EXPECT_EQ(DateSerial(1900, 1, 1), 2.0);
  EXPECT_EQ(DateSerial(2007, 3, 12), 39153.0);
  EXPECT_EQ(Weekday(DateSerial(2007, 3, 12)), 2);   // a Monday
  EXPECT_EQ(Weekday(DateSerial(2024, 6, 2)), 1);    // a Sunday
  EXPECT_EQ(Weekday(DateSerial(2024, 6, 8)), 7);    // a Saturday
  EXPECT_EQ(Weekday(DateSerial(1899, 12, 29)), 6);  // before the epoch
  EXPECT_EQ(WeekdayName(1), "Sunday");
  EXPECT_EQ(WeekdayName(7), "Saturday");
  EXPECT_EQ(MonthName(1), "January");
  EXPECT_EQ(MonthName(12), "December");
}

TEST(OleDateTest, PartsRoundTripIncludingNegativeDates) {
  for (DateParts p :
       {DateParts{2024, 2, 29, 23, 59, 59}, DateParts{1899, 12, 29, 6, 0, 0},
        DateParts{100, 1, 1, 0, 0, 1}, DateParts{9999, 12, 31, 12, 30, 0}}) {
    DateParts b = PartsOf(DateFromParts(p));
    EXPECT_EQ(std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second),
              std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second));
  }
  EXPECT_EQ(DateFromParts({1899, 12, 29, 6, 0, 0}), -1.25);
  EXPECT_EQ(DatePart(39153.75), 39153.0);
}

TEST(OleDateTest, InvalidDatesOverflow) {
  Err().Clear();
  EXPECT_FALSE(ResumeNext([] { DateSerial(2023, 2, 29); }));
  EXPECT_EQ(Err().Number(), kErrOverflow);
  Err().Clear();
}

TEST(OleDateTest, TextForms) {
  double d = DateFromParts({2007, 3, 12, 14, 5, 9});
  EXPECT_EQ(DateToText(d), "3/12/2007 2:05:09 PM");
  EXPECT_EQ(DateToText(DateSerial(2007, 3, 12)), "3/12/2007");
  EXPECT_EQ(DateToText(DateFromParts({100, 12, 31, 12, 0, 1})),
            "12/31/0100 12:00:01 PM");
  EXPECT_EQ(DateToText(DateFromParts({1899, 12, 30, 0, 30, 0})), "12:30:00 AM");
  EXPECT_EQ(ParseDateText("3/12/2007 2:05:09 PM"), d);
  EXPECT_EQ(ParseDateText("2007-03-12 14:05:09"), d);
  EXPECT_EQ(ParseDateText("2007-02-30"), std::nullopt);
  EXPECT_EQ(ParseDateText("yesterday"), std::nullopt);
}

}  // namespace
}  // namespace velnor::automation
