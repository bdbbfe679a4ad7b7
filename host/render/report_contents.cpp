// The heading facts of a report, from the Report alone: nothing here opens
// a database.
#include "host/render/report_contents.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "host/render/report_days.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

std::string Plural(size_t count, const char* word) {
  return fmt::format("{} {}{}", count, word, count == 1 ? "" : "s");
}

ContentsEntry Sites(const reportdb::Report& report) {
  if (report.sites.empty()) return {"Sites", "none"};
  std::string ids;
  for (const reportdb::SiteReport& site : report.sites) {
    AppendListItem(ids, ", ", site.identifier);
  }
  return {"Sites", fmt::format("{} ({})", report.sites.size(), ids)};
}

ContentsEntry Runs(const reportdb::Report& report) {
  size_t runs = 0;
  int64_t hits = 0;
  std::string per_site;
  for (const reportdb::SiteReport& site : report.sites) {
    if (site.runs.empty()) continue;
    runs += site.runs.size();
    hits += site.runs_total;
    per_site += fmt::format("{}site {}: {}", per_site.empty() ? "" : ", ",
                            site.identifier, site.runs.size());
  }
  if (runs == 0) return {"Runs", "none recorded"};
  return {"Runs", fmt::format("{} of {} hits in all ({})", Plural(runs, "run"),
                              hits, per_site)};
}

ContentsEntry DaysCollected(const reportdb::Report& report) {
  std::string days;
  for (const reportdb::SiteReport& site : report.sites) {
    if (site.days.empty()) continue;
    AppendListItem(days, "; ",
                   "site " + site.identifier + ": " + CollectedDays(site));
  }
  return {"Days collected", days.empty() ? "none in the ledger" : days};
}

// The ledger's runs by how they ended; a run that never committed (killed,
// a power cut) counted nothing.
ContentsEntry LedgerRuns(const reportdb::Report& report) {
  if (report.runs.empty()) return {"Ledger runs", "none"};
  std::map<ledger::Outcome, size_t> by_outcome;
  for (const ledger::RunRow& run : report.runs) ++by_outcome[run.outcome];
  std::string outcomes;
  for (const auto& [outcome, count] : by_outcome) {
    std::string what(ledger::OutcomeText(outcome));
    if (outcome == ledger::Outcome::kInterrupted ||
        outcome == ledger::Outcome::kFailed) {
      what += ", nothing counted";
    }
    AppendListItem(outcomes, "; ", fmt::format("{} {}", count, what));
  }
  return {"Ledger runs",
          fmt::format("{} ({})", Plural(report.runs.size(), "run"), outcomes)};
}

// Hits of the site totals that no day of the ledger accounts for: counted
// before the ledger was kept.
int64_t UndatedHits(const reportdb::Report& report) {
  int64_t undated = 0;
  for (const reportdb::SiteReport& site : report.sites) {
    int64_t dated = 0;
    for (const reportdb::DayCount& day : site.days) dated += day.hits;
    undated += std::max<int64_t>(site.runs_total - dated, 0);
  }
  return undated;
}

}  // namespace

std::vector<ContentsEntry> DatabaseContents(const reportdb::Report& report) {
  if (!report.has_ledger) {
    // tblTotalAccess keeps a site's total per run and nothing else, so
    // without the ledger the report cannot say which days a run read.
    return {Sites(report),
            Runs(report),
            {"Run dates",
             "not recorded: no collection ledger beside the databases, and "
             "each run stores only its site totals"}};
  }
  std::vector<ContentsEntry> contents = {
      Sites(report), Runs(report), DaysCollected(report), LedgerRuns(report)};
  if (int64_t undated = UndatedHits(report); undated > 0) {
    contents.push_back(
        {"Undated hits",
         fmt::format("{} (counted before the ledger was kept)", undated)});
  }
  return contents;
}

std::string MadeStamp(std::time_t made) {
  std::tm local{};
  localtime_r(&made, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

}  // namespace velnor::host
