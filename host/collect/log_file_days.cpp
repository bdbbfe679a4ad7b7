// IIS log file names to days. Two-digit years are 2000 to 2099: IIS writes
// four-digit years inside the logs and two in their names.
#include "host/collect/log_file_days.h"

#include <strings.h>

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

}  // namespace

std::optional<FileDays> DaysInLogFileName(std::string_view name) {
  if (EndsWithIgnoringCase(name, ".gz")) name.remove_suffix(3);
  if (!EndsWithIgnoringCase(name, ".log")) return std::nullopt;
  name.remove_suffix(4);
  if (StartsWithIgnoringCase(name, "u_")) name.remove_prefix(2);
  if (!StartsWithIgnoringCase(name, "ex")) return std::nullopt;
  name.remove_prefix(2);
  if (name.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const int yy = name.size() >= 4 ? Number(name.substr(0, 2)) : 0;
  const int mm = name.size() >= 4 ? Number(name.substr(2, 2)) : 0;
  std::optional<ledger::Day> first;
  std::optional<ledger::Day> last;
  switch (name.size()) {
    case 4:  // a month
      first = DayOf(yy, mm, 1);
      if (first) last = mm == 12 ? DayOf(yy + 1, 1, 1) : DayOf(yy, mm + 1, 1);
      if (last) *last -= 1;
      break;
    case 6:  // a day
    case 8:  // an hour of a day
      first = last = DayOf(yy, mm, Number(name.substr(4, 2)));
      if (name.size() == 8 && Number(name.substr(6, 2)) > 23) first.reset();
      break;
    default:
      break;
  }
  if (!first || !last) return std::nullopt;
  return FileDays{*first, *last};
}

}  // namespace velnor::host
