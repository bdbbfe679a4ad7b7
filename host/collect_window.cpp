// Windows and the checks that keep a day from being counted twice. All of
// them run before the run is recorded or a database is written.
#include "host/collect_window.h"

#include "host/command_support.h"
#include "platform/automation/collection.h"

namespace velnor::host {
namespace {

using ledger::Day;
using ledger::DaysText;
using ledger::DayText;

std::string SiteText(const SiteWindow& site) {
  return "site " + Shown(site.identifier) + " (" + Shown(site.name) + ")";
}

// "run 3 of 2024-06-12 02:30:01 UTC", "runs 1 and 3 of ..." (the latest's
// start named).
std::string RunsText(const std::vector<int64_t>& runs,
                     const ledger::LedgerContents& ledger) {
  std::string text = runs.size() == 1 ? "run " : "runs ";
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += i + 1 == runs.size() ? " and " : ", ";
    text += std::to_string(runs[i]);
  }
  for (const ledger::RunRow& run : ledger.runs) {
    if (run.run_id != runs.back() || run.started.size() < 19) continue;
    text += " (started " + run.started.substr(0, 10) + " " +
            run.started.substr(11, 8) + " UTC)";
  }
  return text;
}

// Each site's window: the one given, or the days after the last counted.
std::vector<SiteWindow> Windows(const WindowRequest& request,
                                const std::vector<std::string>& descriptors,
                                const ledger::CountedDays& counted,
                                std::vector<std::string>& notes) {
  std::vector<SiteWindow> windows;
  const Day yesterday = request.today - 1;
  for (const std::string& descriptor : descriptors) {
    automation::StringArray fields = automation::Split(descriptor, ",");
    SiteWindow& site = windows.emplace_back();
    site.name = fields[0];
    site.identifier = fields[2];
    if (!request.since_last) {
      site.first = *request.from;
      site.last = *request.to;
      continue;
    }
    site.last = request.partial_day ? request.today : yesterday;
    if (std::optional<Day> last = counted.LastCompleteDay(site.identifier)) {
      site.first = *last + 1;
    } else if (request.from) {
      site.first = *request.from;
    } else {
      site.first = yesterday;
      notes.push_back(SiteText(site) +
                      ": no day of it is counted yet, so --since-last starts "
                      "with " +
                      DayText(yesterday) + "; give --from for earlier days");
    }
    if (site.Empty()) {
      notes.push_back(SiteText(site) + ": counted through " +
                      DayText(site.first - 1) + " already; nothing to collect");
    }
  }
  return windows;
}

// The days up to `today` only, and today only when asked for.
bool CheckAgainstToday(const WindowRequest& request,
                       const std::vector<SiteWindow>& windows) {
  for (const SiteWindow& site : windows) {
    if (site.Empty()) continue;
    if (site.last > request.today) {
      return Usage("--to " + DayText(site.last) + " is after today (" +
                       DayText(request.today) +
                       " in the logs' time, UTC): its log is not written yet",
                   "end the window with today or an earlier day");
    }
    if (site.last == request.today && !request.partial_day) {
      return Usage(
          "the window includes today (" + DayText(request.today) +
              ", UTC as in the logs), whose log is still being written",
          "end it with yesterday (--to " + DayText(request.today - 1) +
              "), or give --partial-day to count what is there now; the "
              "next run of the day goes on where this one stopped");
    }
  }
  return true;
}

// Refuses a window with days counted whole already, naming them.
bool CheckNotCounted(const std::vector<SiteWindow>& windows,
                     const ledger::LedgerContents& ledger,
                     const ledger::CountedDays& counted) {
  std::string counted_before;
  for (const SiteWindow& site : windows) {
    if (site.Empty()) continue;
    for (const ledger::DaySpan& span :
         counted.CompleteSpans(site.identifier, site.first, site.last)) {
      if (!counted_before.empty()) counted_before += "; ";
      counted_before += DaysText(span.first, span.last) + " of " +
                        SiteText(site) + " by " + RunsText(span.runs, ledger);
    }
  }
  if (counted_before.empty()) return true;
  return Usage("these days were counted already: " + counted_before,
               "nothing was collected; collect other days (--since-last "
               "starts after the last day counted), or give --recount to "
               "count them again on purpose");
}

}  // namespace

std::optional<std::vector<SiteWindow>> PlanWindows(
    const WindowRequest& request, const std::vector<std::string>& descriptors,
    const ledger::LedgerContents& ledger, const ledger::CountedDays& counted,
    std::vector<std::string>& notes) {
  std::vector<SiteWindow> windows =
      Windows(request, descriptors, counted, notes);
  if (request.raw) return windows;
  if (!CheckAgainstToday(request, windows)) return std::nullopt;
  if (!request.recount && !CheckNotCounted(windows, ledger, counted)) {
    return std::nullopt;
  }
  return windows;
}

}  // namespace velnor::host
