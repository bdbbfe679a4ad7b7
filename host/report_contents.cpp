// The heading facts of a report, from the Report alone: nothing here opens
// a database.
#include "host/report_contents.h"

#include <fmt/format.h>

#include "host/text_format.h"

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

}  // namespace

std::vector<ContentsEntry> DatabaseContents(const reportdb::Report& report) {
  return {Sites(report),
          Runs(report),
          // tblTotalAccess keeps a site's total per run and nothing else, so
          // the report cannot say when a run was made or which days it read.
          {"Run dates", "not recorded: each run stores only its site totals"}};
}

std::string MadeStamp(std::time_t made) {
  std::tm local{};
  localtime_r(&made, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

}  // namespace velnor::host
