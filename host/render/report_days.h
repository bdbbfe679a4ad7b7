// The dated side of a report, from the collection ledger: the days
// collected as ranges, the marks of a day in the daily series (weekend,
// counted in part), and the --from/--to limit of the series and the runs.
// The other views (weekday, month, hour) keep no year or date: the report
// says so beside them.
#ifndef VELNOR_HOST_RENDER_REPORT_DAYS_H_
#define VELNOR_HOST_RENDER_REPORT_DAYS_H_

#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger_store.h"
#include "reportdb/report_reader.h"

namespace velnor::host {

// What the weekday, month and hour views add up.
inline constexpr const char* kNoYearNote =
    "all years together: the databases keep no year";

// True for Saturday and Sunday.
bool IsWeekend(ledger::Day day);
// "Mon", "Sat".
std::string WeekdayShortName(ledger::Day day);
// "Monday", "Saturday".
std::string WeekdayName(ledger::Day day);
// "weekend", "in part", "weekend, in part" or "": how a day of the daily
// series is marked.
std::string DayMarks(const reportdb::DayCount& day);

// The days of `site` as ranges: "2024-06-03 to 2024-06-05, 2024-06-07
// (2024-06-07 in part)"; "none" without days.
std::string CollectedDays(const reportdb::SiteReport& site);

// One week (Monday to Sunday) of a daily series: the hits of its days.
struct WeekCount {
  ledger::Day monday = 0;
  int64_t hits = 0;
  // Every day of the week is in the series and counted whole.
  bool complete = true;
};
// The weeks `days` (in day order) fall into, in order; a week holds at
// least one of them.
std::vector<WeekCount> Weeks(const std::vector<reportdb::DayCount>& days);

// The days a report's daily series and runs are limited to (--from,
// --to); either end may be open.
struct DayLimit {
  std::optional<ledger::Day> from;
  std::optional<ledger::Day> to;
  // True when the days `first` to `last` reach into the limit.
  bool Reaches(ledger::Day first, ledger::Day last) const {
    return !(from && last < *from) && !(to && first > *to);
  }
};

// The days of `site`'s series within `limit`.
std::vector<reportdb::DayCount> ShownDays(const reportdb::SiteReport& site,
                                          const DayLimit& limit);
// The runs of `report` whose windows reach into `limit`.
std::vector<ledger::RunRow> ShownRuns(const reportdb::Report& report,
                                      const DayLimit& limit);

// "2024-06-12 02:30:01 UTC" for a ledger's "2024-06-12T02:30:01Z"; the
// text as it is when it has another form.
std::string ShownUtc(const std::string& stamp);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_REPORT_DAYS_H_
