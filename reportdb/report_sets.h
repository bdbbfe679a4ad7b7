// The servers and services a folder or central store holds report
// databases of, found by the databases' names, for the overview of a
// whole fleet.
#ifndef VELNOR_REPORTDB_REPORT_SETS_H_
#define VELNOR_REPORTDB_REPORT_SETS_H_

#include <string>
#include <string_view>
#include <vector>

#include "reportdb/report_location.h"

namespace velnor::reportdb {

struct ReportSet {
  std::string server;  // as the names spell it (lower case in a store)
  bool is_ftp = false;
};

// The server and service of one report database's file name
// ("QDX_UAFTPLogHitsByHour_SRV1.mdb") or, with `schema`, of a store's
// schema name ("qdx_uaftploghitsbyhour_srv1"); false for any other name.
bool ParseReportName(std::string_view name, bool schema, ReportSet& set);

// Every server and service with at least one of its four report databases
// at `location`, by server (ASCII case ignored), web before FTP. A set
// whose other databases are missing is listed too: reading it says which.
// Raises automation::AutomationError naming the folder or store when it
// cannot be listed.
std::vector<ReportSet> FindReportSets(const ReportLocation& location);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_REPORT_SETS_H_
