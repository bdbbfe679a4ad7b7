// Windows and the checks that keep a day from being counted twice. All of
// them run before the run is recorded or a database is written.
#include "host/collect/collect_window.h"

#include <algorithm>
#include <map>

#include "host/common/command_support.h"
#include "platform/automation/collection.h"

namespace velnor::host {
namespace {

using ledger::Day;
using ledger::DaysText;
using ledger::DayText;

std::string SiteText(const SiteWindow& site) {
  return "site " + Shown(site.identifier) + " (" + Shown(site.name) + ")";
}

// "run 3 (started 2024-06-12 02:30:01 UTC)", "runs 1 and 3 (the last
// started ...)": one start names the latest run, and says so.
std::string RunsText(const std::vector<int64_t>& runs,
                     const ledger::LedgerContents& ledger) {
  std::string text = runs.size() == 1 ? "run " : "runs ";
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += i + 1 == runs.size() ? " and " : ", ";
    text += std::to_string(runs[i]);
  }
  for (const ledger::RunRow& run : ledger.runs) {
    if (run.run_id != runs.back() || run.started.size() < 19) continue;
    text +=
        std::string(runs.size() == 1 ? " (started " : " (the last started ") +
        run.started.substr(0, 10) + " " + run.started.substr(11, 8) + " UTC)";
  }
  return text;
}

// The first day --since-last gives a site that has no day counted whole:
// --from, else the ledger's start, else the first day an earlier run was
// asked for it when none of its days is in the ledger (within the
// look-back), else yesterday. A site's first run killed, or cancelled
// before it reached the site, recorded no day of it: without its window
// the next night would start after the days it missed.
Day NeverCountedStart(const WindowRequest& request, const SiteWindow& site,
                      const ledger::CountedDays& counted, bool noted,
                      std::vector<std::string>& notes) {
  const ledger::RunRow* start = counted.LedgerStart();
  if (request.from) {
    return start ? std::max(*request.from, start->first_day) : *request.from;
  }
  if (start != nullptr) return start->first_day;
  const Day yesterday = request.today - 1;
  // A site with days in the ledger goes back to them in SinceLast.
  if (std::optional<Day> asked = counted.FirstDayAskedFor(site.identifier);
      noted && asked && *asked < yesterday) {
    const Day from = std::max(*asked, yesterday - (kSinceLastLookBackDays - 1));
    notes.push_back(SiteText(site) +
                    ": no day of it is counted yet, so --since-last starts "
                    "with " +
                    DayText(from) +
                    ", the first day an earlier run that stopped before "
                    "counting it was asked for");
    return from;
  }
  if (noted) {
    notes.push_back(SiteText(site) +
                    ": no day of it is counted yet, so --since-last starts "
                    "with " +
                    DayText(yesterday) + "; give --from for earlier days");
  }
  return yesterday;
}

// --since-last: the days after the site's last day counted whole, from the
// earliest day before it that is not counted whole (within the look-back
// and the site's days in the ledger), the days counted whole between them
// passed over.
void SinceLast(const WindowRequest& request, const ledger::CountedDays& counted,
               SiteWindow& site, std::vector<std::string>& notes) {
  const Day yesterday = request.today - 1;
  const std::map<Day, ledger::CountedDay>& days =
      counted.DaysOf(site.identifier);
  auto complete = [&days](Day day) {
    auto found = days.find(day);
    return found != days.end() && found->second.complete;
  };
  site.last = request.partial_day ? request.today : yesterday;
  const std::optional<Day> last = counted.LastCompleteDay(site.identifier);
  site.first =
      last ? *last + 1
           : NeverCountedStart(request, site, counted, days.empty(), notes);
  if (!days.empty()) {
    Day from =
        std::max(days.begin()->first, yesterday - (kSinceLastLookBackDays - 1));
    if (const ledger::RunRow* start = counted.LedgerStart()) {
      from = std::max(from, start->first_day);
    }
    for (Day day = from; day < site.first; ++day) {
      if (complete(day)) continue;
      notes.push_back(SiteText(site) + ": --since-last goes back to " +
                      DayText(day) +
                      ", which is not counted whole yet (nothing of it was "
                      "read, or only a part)");
      site.first = day;
      break;
    }
  }
  for (Day day = site.first; day <= site.last; ++day) {
    if (complete(day)) site.done.push_back(day);
  }
  if (site.Empty()) {
    notes.push_back(SiteText(site) + ": counted through " +
                    DayText(site.first - 1) + " already; nothing to collect");
  }
}

// Each site's window: the one given, or the days after the last counted.
std::vector<SiteWindow> Windows(const WindowRequest& request,
                                const std::vector<std::string>& descriptors,
                                const ledger::CountedDays& counted,
                                std::vector<std::string>& notes) {
  std::vector<SiteWindow> windows;
  for (const std::string& descriptor : descriptors) {
    automation::StringArray fields = automation::Split(descriptor, ",");
    SiteWindow& site = windows.emplace_back();
    site.name = fields[0];
    site.identifier = fields[2];
    if (request.since_last) {
      SinceLast(request, counted, site, notes);
    } else {
      site.first = *request.from;
      site.last = *request.to;
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

// Refuses a window with days counted whole already, or left by the
// ledger's start to the counts before it, naming them.
bool CheckNotCounted(const std::vector<SiteWindow>& windows,
                     const ledger::LedgerContents& ledger,
                     const ledger::CountedDays& counted) {
  std::string counted_before;
  const ledger::RunRow* start = counted.LedgerStart();
  for (const SiteWindow& site : windows) {
    if (site.Empty()) continue;
    if (start != nullptr && site.first < start->first_day) {
      if (!counted_before.empty()) counted_before += "; ";
      counted_before +=
          DaysText(site.first, std::min(site.last, start->first_day - 1)) +
          " of " + SiteText(site) +
          " by the counts the databases held when the ledger was started "
          "on " +
          DayText(start->first_day) + " (run " + std::to_string(start->run_id) +
          ")";
    }
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
  // A --since-last window holds days counted whole only as days it
  // passes over.
  if (!request.recount && !request.since_last &&
      !CheckNotCounted(windows, ledger, counted)) {
    return std::nullopt;
  }
  return windows;
}

}  // namespace velnor::host
