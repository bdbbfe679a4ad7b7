// OLE Automation dates: a double counting days from 30 December 1899, its
// fraction being the time of day. Negative dates count backwards with the
// time fraction still running forwards (-1.25 is 29 December 1899, 06:00),
// as automation defines them. Calendar conversions use the proleptic
// Gregorian calendar; times are rounded to the second.
#ifndef VELNOR_PLATFORM_AUTOMATION_OLE_DATE_H_
#define VELNOR_PLATFORM_AUTOMATION_OLE_DATE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnor::automation {

// The range automation accepts: 1 January 100 to 31 December 9999.
inline constexpr double kMinOleDate = -657434.0;
inline constexpr double kMaxOleDate = 2958465.99999;

struct DateParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The OLE date of a calendar date and time. Raises overflow (6) when the
// result lies outside the automation range or a part is out of its range.
double DateFromParts(const DateParts& parts);
double DateSerial(int year, int month, int day);
// DateFromParts split in two, for a caller that meets one day many times:
// the whole days from the OLE epoch to a valid calendar date, and the OLE
// date of such a day at a valid time of day (hour 0-23, minute and second
// 0-59), exactly as DateFromParts gives it.
int64_t OleDays(int year, int month, int day);
double DateAtTime(int64_t ole_days, int hour, int minute, int second);

// Calendar parts of an OLE date, the time rounded to the nearest second.
DateParts PartsOf(double date);

// The date part: the time of day dropped (toward zero for negative dates).
double DatePart(double date);

// Weekday of the date, Sunday = 1 ... Saturday = 7.
int Weekday(double date);

// Full English names ("Sunday", "January"), whatever the locale: the names
// the report databases hold and the reports show. Raise invalid procedure
// call (5) outside 1..7 and 1..12.
std::string WeekdayName(int weekday);
std::string MonthName(int month);

// The default text form of a date-time: "M/d/yyyy h:mm:ss AM" (the date
// alone when the time is midnight, the time alone when the date part is 0).
std::string DateToText(double date);

// Parses a date-time text: ISO "yyyy-mm-dd[ hh:mm[:ss]]" or the default form
// above ("M/d/yyyy[ h:mm[:ss][ AM|PM]]"). Returns nothing for anything else.
std::optional<double> ParseDateText(std::string_view text);

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_OLE_DATE_H_
