// The rows of a server's report databases, read with plain SQLite.
#include "host/testing/report_rows.h"

#include <algorithm>

#include "reportdb/report_files.h"

namespace velnor::testing {

std::vector<Rows> AllReportRows(const std::filesystem::path& db_dir,
                                const std::string& server, bool ftp) {
  std::vector<std::pair<reportdb::ReportKind, std::string>> queries;
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    queries.emplace_back(kind, "SELECT * FROM tblGeneral");
  }
  queries.emplace_back(reportdb::ReportKind::kHitsByHour,
                       "SELECT [Server name], Identifier, [" +
                           std::string(reportdb::SiteColumn(ftp)) +
                           "], [No of Hits] FROM tblTotalAccess");
  queries.emplace_back(reportdb::ReportKind::kHitsByHour,
                       "SELECT * FROM tblLogFiles");
  std::vector<Rows> all;
  for (const auto& [kind, sql] : queries) {
    Rows rows = QueryRows(
        db_dir / reportdb::ReportDatabaseFileName(kind, server, ftp), sql);
    std::sort(rows.begin(), rows.end());
    all.push_back(std::move(rows));
  }
  return all;
}

}  // namespace velnor::testing
