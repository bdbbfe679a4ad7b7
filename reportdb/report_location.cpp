// The engine and database paths of a report location.
#include "reportdb/report_location.h"

namespace velnor::reportdb {

std::string ReportLocation::AppPath() const {
  return IsPostgres() ? "" : db_dir + "/";
}

std::string ReportLocation::DatabasePath(ReportKind kind,
                                         std::string_view server,
                                         bool is_ftp) const {
  return AppPath() + ReportDatabaseFileName(kind, server, is_ftp);
}

std::unique_ptr<ado::Engine> ReportLocation::MakeEngine() const {
  return IsPostgres() ? ado::MakePostgresEngine(db_url)
                      : ado::MakeSqliteEngine();
}

}  // namespace velnor::reportdb
