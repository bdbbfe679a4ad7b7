// The rows of a server's report databases, read with plain SQLite.
#include "host/testing/report_rows.h"

#include <algorithm>

#include "host/report_schema.h"

namespace velnor::testing {

std::vector<Rows> AllReportRows(const std::filesystem::path& db_dir,
                                const std::string& server, bool ftp) {
  std::vector<std::pair<host::ReportKind, std::string>> queries;
  for (host::ReportKind kind : host::kReportKinds) {
    queries.emplace_back(kind, "SELECT * FROM tblGeneral");
  }
  queries.emplace_back(host::ReportKind::kHitsByHour,
                       std::string("SELECT [Server name], Identifier, [") +
                           (ftp ? "FTP" : "Web") +
                           " Site Name], [No of Hits] FROM tblTotalAccess");
  queries.emplace_back(host::ReportKind::kHitsByHour,
                       "SELECT * FROM tblLogFiles");
  std::vector<Rows> all;
  for (const auto& [kind, sql] : queries) {
    Rows rows = QueryRows(
        db_dir / host::ReportDatabaseFileName(kind, server, ftp), sql);
    std::sort(rows.begin(), rows.end());
    all.push_back(std::move(rows));
  }
  return all;
}

}  // namespace velnor::testing
