// The heading facts of a report: when it was made and what the report
// databases hold. Both the text report and the page list the same entries,
// so a new source of facts (such as a record of the days collected) is
// added once, in DatabaseContents, and shows in both.
#ifndef VELNOR_HOST_RENDER_REPORT_CONTENTS_H_
#define VELNOR_HOST_RENDER_REPORT_CONTENTS_H_

#include <ctime>
#include <string>
#include <vector>

#include "reportdb/report_reader.h"

namespace velnor::host {

// One thing the databases hold: what it is and how much, such as
// {"Runs", "5 (site 1: 3, site 2: 1, site 10: 1)"}. Plain text, not
// cleaned: renderers clean and escape it as they do texts from the
// databases.
struct ContentsEntry {
  std::string what;
  std::string value;
};

// What the databases behind `report` hold, in the order shown: the sites,
// the runs per site and their hits from the site totals (tblTotalAccess),
// and from the collection ledger the days collected per site, the runs by
// how they ended and the hits counted before the ledger was kept (or,
// without a ledger, that the runs' dates are not recorded).
std::vector<ContentsEntry> DatabaseContents(const reportdb::Report& report);

// `made` in local time with its offset from UTC: "2024-06-12 14:05:09
// +0200".
std::string MadeStamp(std::time_t made);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_REPORT_CONTENTS_H_
