// IIS log file names to days. Two-digit years are 2000 to 2099: IIS writes
// four-digit years inside the logs and two in their names.
#include "host/collect/log_file_days.h"

#include <strings.h>

#include <algorithm>
#include <set>
#include <string>

#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"

namespace velnor::host {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view start) {
  return text.size() >= start.size() &&
         ::strncasecmp(text.data(), start.data(), start.size()) == 0;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         ::strncasecmp(text.data() + text.size() - end.size(), end.data(),
                       end.size()) == 0;
}

int Number(std::string_view digits) { return std::stoi(std::string(digits)); }

// The day of 20yy-mm-dd, or nothing when that is no date.
std::optional<ledger::Day> DayOf(int yy, int mm, int dd) {
  if (mm < 1 || mm > 12 || dd < 1 || dd > 31) return std::nullopt;
  double day = 0;
  bool valid = automation::ResumeNext(
      [&] { day = automation::DateSerial(2000 + yy, mm, dd); });
  automation::Err().Clear();
  // DateSerial rolls 31 April over into May.
  if (!valid || automation::PartsOf(day).month != mm) return std::nullopt;
  return static_cast<ledger::Day>(day);
}

// The last day of the month of 20yy-mm (a valid month).
ledger::Day MonthEnd(int yy, int mm) {
  return *(mm == 12 ? DayOf(yy + 1, 1, 1) : DayOf(yy, mm + 1, 1)) - 1;
}

// The days of the week `week` of the month of 20yy-mm (a valid month), as
// IIS numbers a month's weeks; nothing when the month has no such week.
std::optional<FileDays> WeekOf(int yy, int mm, int week) {
  const ledger::Day first = *DayOf(yy, mm, 1);
  // OLE day 0, 1899-12-30, was a Saturday.
  const ledger::Day first_saturday = first + (7 - first % 7) % 7;
  FileDays days{first, first_saturday};
  if (week > 1) {
    days.first = first_saturday + 1 + 7 * (week - 2);
    days.last = days.first + 6;
  }
  days.last = std::min(days.last, MonthEnd(yy, mm));
  if (week < 1 || days.first > days.last) return std::nullopt;
  return days;
}

// The digits of an IIS log name ("u_ex240603.log.gz": "240603"); empty for
// other names.
std::string_view NameDigits(std::string_view name) {
  if (EndsWithIgnoringCase(name, ".gz")) name.remove_suffix(3);
  if (!EndsWithIgnoringCase(name, ".log")) return {};
  name.remove_suffix(4);
  if (StartsWithIgnoringCase(name, "u_")) name.remove_prefix(2);
  if (!StartsWithIgnoringCase(name, "ex")) return {};
  name.remove_prefix(2);
  if (name.find_first_not_of("0123456789") != std::string_view::npos) {
    return {};
  }
  return name;
}

constexpr int kMostWeeksInAMonth = 6;

}  // namespace

SixDigitNames SixDigitNamesOf(const std::vector<unc::DirEntry>& files) {
  std::set<std::string_view> months;
  for (const unc::DirEntry& file : files) {
    const std::string_view digits = NameDigits(file.name);
    if (digits.size() != 6) continue;
    if (Number(digits.substr(4)) > kMostWeeksInAMonth) {
      return SixDigitNames::kDays;
    }
    months.insert(digits.substr(0, 4));
  }
  return months.size() > 1 ? SixDigitNames::kDaysOrWeeks : SixDigitNames::kDays;
}

std::optional<FileDays> DaysInLogFileName(std::string_view name,
                                          SixDigitNames names) {
  name = NameDigits(name);
  const int yy = name.size() >= 4 ? Number(name.substr(0, 2)) : 0;
  const int mm = name.size() >= 4 ? Number(name.substr(2, 2)) : 0;
  std::optional<ledger::Day> first;
  std::optional<ledger::Day> last;
  switch (name.size()) {
    case 4:  // a month
      first = DayOf(yy, mm, 1);
      if (first) last = MonthEnd(yy, mm);
      break;
    case 6:  // a day, or a week
    case 8:  // an hour of a day
      first = last = DayOf(yy, mm, Number(name.substr(4, 2)));
      if (name.size() == 8 && Number(name.substr(6, 2)) > 23) first.reset();
      if (name.size() == 6 && first && names == SixDigitNames::kDaysOrWeeks) {
        if (std::optional<FileDays> week =
                WeekOf(yy, mm, Number(name.substr(4, 2)))) {
          first = std::min(*first, week->first);
          last = std::max(*last, week->last);
        }
      }
      break;
    default:
      break;
  }
  if (!first || !last) return std::nullopt;
  return FileDays{*first, *last};
}

}  // namespace velnor::host
