// Dates of the report. Weekday names are English, as the report's own
// texts are; the weekday view keeps the names the collector stored.
#include "host/render/report_days.h"

#include <array>

#include "ledger/counted_days.h"
#include "platform/automation/ole_date.h"

namespace velnor::host {
namespace {

constexpr std::array<const char*, 7> kWeekdays = {
    "Sunday",   "Monday", "Tuesday", "Wednesday",
    "Thursday", "Friday", "Saturday"};

int WeekdayIndex(ledger::Day day) { return automation::Weekday(day) - 1; }

// "2024-06-01 to 2024-06-03, 2024-06-05".
std::string SpansText(const std::vector<ledger::Day>& days) {
  std::string text;
  for (const ledger::DaySpan& span : ledger::SpansOf(days)) {
    text +=
        (text.empty() ? "" : ", ") + ledger::DaysText(span.first, span.last);
  }
  return text;
}

}  // namespace

bool IsWeekend(ledger::Day day) {
  const int index = WeekdayIndex(day);
  return index == 0 || index == 6;
}

std::string WeekdayName(ledger::Day day) {
  return kWeekdays[WeekdayIndex(day)];
}

std::string WeekdayShortName(ledger::Day day) {
  return WeekdayName(day).substr(0, 3);
}

std::string DayMarks(const reportdb::DayCount& day) {
  std::string marks = IsWeekend(day.day) ? "weekend" : "";
  if (!day.complete) marks += marks.empty() ? "in part" : ", in part";
  return marks;
}

std::vector<WeekCount> Weeks(const std::vector<reportdb::DayCount>& days) {
  std::vector<WeekCount> weeks;
  std::vector<int> days_in;
  for (const reportdb::DayCount& day : days) {
    const ledger::Day monday = day.day - (automation::Weekday(day.day) + 5) % 7;
    if (weeks.empty() || weeks.back().monday != monday) {
      weeks.push_back({monday, 0, true});
      days_in.push_back(0);
    }
    weeks.back().hits += day.hits;
    weeks.back().complete &= day.complete;
    ++days_in.back();
  }
  for (size_t i = 0; i < weeks.size(); ++i) {
    weeks[i].complete &= days_in[i] == 7;
  }
  return weeks;
}

// The days counted in part as ranges too: a nightly run over days whose
// logs have not come yet leaves months of them.
std::string CollectedDays(const reportdb::SiteReport& site) {
  std::vector<ledger::Day> days;
  std::vector<ledger::Day> in_part;
  for (const reportdb::DayCount& day : site.days) {
    days.push_back(day.day);
    if (!day.complete) in_part.push_back(day.day);
  }
  if (days.empty()) return "none";
  std::string text = SpansText(days);
  if (!in_part.empty()) text += " (" + SpansText(in_part) + " in part)";
  return text;
}

std::vector<reportdb::DayCount> ShownDays(const reportdb::SiteReport& site,
                                          const DayLimit& limit) {
  std::vector<reportdb::DayCount> days;
  for (const reportdb::DayCount& day : site.days) {
    if (limit.Reaches(day.day, day.day)) days.push_back(day);
  }
  return days;
}

std::vector<ledger::RunRow> ShownRuns(const reportdb::Report& report,
                                      const DayLimit& limit) {
  std::vector<ledger::RunRow> runs;
  for (const ledger::RunRow& run : report.runs) {
    if (limit.Reaches(run.first_day, run.last_day)) runs.push_back(run);
  }
  return runs;
}

std::string ShownUtc(const std::string& stamp) {
  if (stamp.size() != 20 || stamp[10] != 'T' || stamp[19] != 'Z') {
    return stamp;
  }
  return stamp.substr(0, 10) + " " + stamp.substr(11, 8) + " UTC";
}

}  // namespace velnor::host
