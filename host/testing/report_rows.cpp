// The rows of a server's report databases, read with plain SQLite.
#include "host/testing/report_rows.h"

#include <gtest/gtest.h>

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

std::vector<Rows> DatabaseState(const std::filesystem::path& db_dir,
                                const std::string& server, bool ledger) {
  std::vector<Rows> state;
  auto sound = [&](const std::filesystem::path& file) {
    EXPECT_EQ(QueryRows(file, "PRAGMA integrity_check"), (Rows{{"ok"}}))
        << file;
    return file;
  };
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    state.push_back(QueryRows(
        sound(db_dir / reportdb::ReportDatabaseFileName(kind, server, false)),
        "SELECT * FROM tblGeneral ORDER BY rowid"));
  }
  state.push_back(
      QueryRows(db_dir / reportdb::ReportDatabaseFileName(
                             reportdb::ReportKind::kHitsByHour, server, false),
                "SELECT * FROM tblTotalAccess ORDER BY rowid"));
  if (!ledger) return state;
  const auto file = sound(db_dir / ("velnor_ledger_" + server + "_web.sqlite"));
  for (const char* sql :
       {"SELECT run_id, outcome, records FROM runs WHERE ended IS NOT NULL "
        "ORDER BY run_id",
        "SELECT run_id, site, file_name, start_offset, end_offset, records "
        "FROM run_files ORDER BY run_id, site, file_name",
        "SELECT * FROM run_days ORDER BY run_id, site, log_day"}) {
    state.push_back(QueryRows(file, sql));
  }
  const std::filesystem::path statistics =
      db_dir / ("velnor_statistics_" + server + "_web.sqlite");
  if (!std::filesystem::exists(statistics)) return state;
  sound(statistics);
  for (const char* table : {"day_totals", "day_visitors", "day_sessions",
                            "day_time_taken", "day_urls"}) {
    Rows rows = QueryRows(statistics, std::string("SELECT * FROM ") + table);
    std::sort(rows.begin(), rows.end());
    state.push_back(std::move(rows));
  }
  return state;
}

}  // namespace velnor::testing
