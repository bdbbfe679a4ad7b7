// Calendar arithmetic for OLE dates. Days are converted with the civil-date
// algorithms of Howard Hinnant (days from 1970-01-01), shifted to the OLE
// epoch of 1899-12-30.
#include "platform/automation/ole_date.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/automation/error_state.h"

namespace velnor::automation {
namespace {

constexpr int64_t kOleEpochFromUnixDays = -25569;  // 1899-12-30
constexpr int kSecondsPerDay = 86400;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30,
                                                31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Splits an OLE date into whole days from the epoch and seconds of the day.
void Split(double date, int64_t& days, int& seconds) {
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  auto secs = static_cast<int64_t>(std::llround(fraction * kSecondsPerDay));
  days = static_cast<int64_t>(whole);
  if (secs >= kSecondsPerDay) {  // rounding reached the next midnight
    secs -= kSecondsPerDay;
    days += 1;
  }
  seconds = static_cast<int>(secs);
}

bool ParseInt(std::string_view& text, size_t max_digits, int& value) {
  size_t n = 0;
  while (n < text.size() && n < max_digits && text[n] >= '0' &&
         text[n] <= '9') {
    ++n;
  }
  if (n == 0) return false;
  std::from_chars(text.data(), text.data() + n, value);
  text.remove_prefix(n);
  return true;
}

bool Eat(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
}

bool ParseTime(std::string_view& text, DateParts& parts) {
  if (!ParseInt(text, 2, parts.hour) || !Eat(text, ':') ||
      !ParseInt(text, 2, parts.minute)) {
    return false;
  }
  if (Eat(text, ':') && !ParseInt(text, 2, parts.second)) return false;
  SkipBlanks(text);
  bool pm = text.starts_with("PM") || text.starts_with("pm");
  bool am = text.starts_with("AM") || text.starts_with("am");
  if (am || pm) {
    if (parts.hour < 1 || parts.hour > 12) return false;
    parts.hour = parts.hour % 12 + (pm ? 12 : 0);
    text.remove_prefix(2);
  }
  return true;
}

bool Valid(const DateParts& p) {
  return p.year >= 100 && p.year <= 9999 && p.month >= 1 && p.month <= 12 &&
         p.day >= 1 && p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 &&
         p.hour <= 23 && p.minute >= 0 && p.minute <= 59 && p.second >= 0 &&
         p.second <= 59;
}

}  // namespace

double DateFromParts(const DateParts& p) {
  if (!Valid(p)) Raise(kErrOverflow);
  return DateAtTime(OleDays(p.year, p.month, p.day), p.hour, p.minute,
                    p.second);
}

int64_t OleDays(int year, int month, int day) {
  return DaysFromCivil(year, static_cast<unsigned>(month),
                       static_cast<unsigned>(day)) -
         kOleEpochFromUnixDays;
}

double DateAtTime(int64_t ole_days, int hour, int minute, int second) {
  double time = (hour * 3600 + minute * 60 + second) /
                static_cast<double>(kSecondsPerDay);
  // Negative dates carry the time as a positive magnitude away from zero.
  return ole_days < 0 ? static_cast<double>(ole_days) - time
                      : static_cast<double>(ole_days) + time;
}

double DateSerial(int year, int month, int day) {
  return DateFromParts({year, month, day, 0, 0, 0});
}

DateParts PartsOf(double date) {
  int64_t days = 0;
  int seconds = 0;
  Split(date, days, seconds);
  DateParts p;
  CivilFromDays(days + kOleEpochFromUnixDays, p.year, p.month, p.day);
  p.hour = seconds / 3600;
  p.minute = seconds / 60 % 60;
  p.second = seconds % 60;
  return p;
}

double DatePart(double date) { return std::trunc(date); }

int Weekday(double date) {
  int64_t days = 0;
  int seconds = 0;
  Split(date, days, seconds);
  // The epoch, 30 December 1899, was a Saturday (7).
  int64_t w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

std::string WeekdayName(int weekday) {
  static constexpr std::array<const char*, 7> kNames = {
      "Sunday",   "Monday", "Tuesday", "Wednesday",
      "Thursday", "Friday", "Saturday"};
  if (weekday < 1 || weekday > 7) Raise(kErrInvalidProcedureCall);
  return kNames[weekday - 1];
}

std::string MonthName(int month) {
  static constexpr std::array<const char*, 12> kNames = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
  if (month < 1 || month > 12) Raise(kErrInvalidProcedureCall);
  return kNames[month - 1];
}

namespace {

// Writes `value` (0 to 9999) in decimal at `out`, padded with zeros to
// `digits` digits; returns the end.
char* PutNumber(char* out, int value, int digits) {
  char reversed[4];
  int length = 0;
  do {
    reversed[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && length < 4);
  for (int i = length; i < digits; ++i) *out++ = '0';
  while (length > 0) *out++ = reversed[--length];
  return out;
}

}  // namespace

// Formatted by hand into one buffer: a raw listing formats a date for every
// record.
std::string DateToText(double date) {
  DateParts p = PartsOf(date);
  char text[32];
  char* out = text;
  if (DatePart(date) != 0) {
    out = PutNumber(out, p.month, 1);
    *out++ = '/';
    out = PutNumber(out, p.day, 1);
    *out++ = '/';
    out = PutNumber(out, p.year, 4);
  }
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || out == text) {
    if (out != text) *out++ = ' ';
    out = PutNumber(out, p.hour % 12 == 0 ? 12 : p.hour % 12, 1);
    *out++ = ':';
    out = PutNumber(out, p.minute, 2);
    *out++ = ':';
    out = PutNumber(out, p.second, 2);
    *out++ = ' ';
    *out++ = p.hour < 12 ? 'A' : 'P';
    *out++ = 'M';
  }
  return std::string(text, out);
}

std::optional<double> ParseDateText(std::string_view text) {
  SkipBlanks(text);
  DateParts p;
  std::string_view rest = text;
  bool iso = ParseInt(rest, 4, p.year) && Eat(rest, '-') &&
             ParseInt(rest, 2, p.month) && Eat(rest, '-') &&
             ParseInt(rest, 2, p.day);
  if (!iso) {
    rest = text;
    if (!ParseInt(rest, 2, p.month) || !Eat(rest, '/') ||
        !ParseInt(rest, 2, p.day) || !Eat(rest, '/') ||
        !ParseInt(rest, 4, p.year)) {
      return std::nullopt;
    }
  }
  if (!rest.empty() && (rest.front() == ' ' || rest.front() == 'T')) {
    rest.remove_prefix(1);
    SkipBlanks(rest);
    if (!rest.empty() && !ParseTime(rest, p)) return std::nullopt;
  }
  SkipBlanks(rest);
  if (!rest.empty() || !Valid(p)) return std::nullopt;
  return DateFromParts(p);
}

}  // namespace velnor::automation
