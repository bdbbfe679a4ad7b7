// The engine and database paths of a report location.
#include "reportdb/report_location.h"

#include <sys/stat.h>

#include "ledger/ledger_files.h"
#include "ledger/ledger_schema.h"
#include "ledger/ledger_store.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "reportdb/pg_run_lock.h"
#include "reportdb/run_lock.h"
#include "statistics/statistics_store.h"

namespace velnor::reportdb {

std::string ReportLocation::AppPath() const {
  return IsPostgres() ? "" : db_dir + "/";
}

std::string ReportLocation::DatabasePath(ReportKind kind,
                                         std::string_view server,
                                         bool is_ftp) const {
  return AppPath() + ReportDatabaseFileName(kind, server, is_ftp);
}

std::string ReportLocation::LedgerPath(std::string_view server,
                                       bool is_ftp) const {
  return AppPath() + ledger::LedgerFileName(server, is_ftp);
}

std::string ReportLocation::Shown(const std::string& path) const {
  if (!IsPostgres()) return path;
  return ado::PostgresSchemaOf(path) + " in " + db_url;
}

bool ReportLocation::LedgerExists(std::string_view server, bool is_ftp) const {
  if (IsPostgres()) return ledger::PgLedgerExists(db_url, server, is_ftp);
  struct stat info {};
  return ::lstat(LedgerPath(server, is_ftp).c_str(), &info) == 0;
}

bool ReportLocation::CreateLedger(std::string_view server, bool is_ftp) const {
  return IsPostgres() ? ledger::CreatePgLedger(db_url, server, is_ftp)
                      : ledger::CreateLedger(LedgerPath(server, is_ftp));
}

std::string ReportLocation::StatisticsPath(std::string_view server,
                                           bool is_ftp) const {
  return AppPath() + statistics::StatisticsFileName(server, is_ftp);
}

bool ReportLocation::StatisticsExist(std::string_view server,
                                     bool is_ftp) const {
  if (IsPostgres()) {
    return statistics::PgStatisticsExist(db_url, server, is_ftp);
  }
  struct stat info {};
  return ::lstat(StatisticsPath(server, is_ftp).c_str(), &info) == 0;
}

bool ReportLocation::CreateStatistics(std::string_view server,
                                      bool is_ftp) const {
  return IsPostgres()
             ? statistics::CreatePgStatistics(db_url, server, is_ftp)
             : statistics::CreateStatistics(StatisticsPath(server, is_ftp));
}

bool ReportLocation::UpgradeStatistics(std::string_view server,
                                       bool is_ftp) const {
  auto session = ado::Session::Private(ado::kDefaultLockWaitMs, MakeEngine());
  statistics::StatisticsStore store(
      *session, session->Attach(StatisticsPath(server, is_ftp)));
  const bool upgraded = store.Upgrade();
  session->Commit();
  if (upgraded && IsPostgres()) {
    statistics::KeepPgPackedUncompressed(db_url, server, is_ftp);
  }
  return upgraded;
}

bool ReportLocation::UpgradeLedger(std::string_view server, bool is_ftp) const {
  auto session = ado::Session::Private(ado::kDefaultLockWaitMs, MakeEngine());
  ledger::LedgerStore store(*session,
                            session->Attach(LedgerPath(server, is_ftp)));
  const bool upgraded = store.Upgrade();
  session->Commit();
  return upgraded;
}

std::unique_ptr<ado::Engine> ReportLocation::MakeEngine() const {
  return IsPostgres() ? ado::MakePostgresEngine(db_url)
                      : ado::MakeSqliteEngine();
}

bool ReportLocation::RunLockHeld(const std::string& server, bool is_ftp) const {
  if (!IsPostgres()) return RunLock::IsHeld(db_dir, server, is_ftp);
  try {
    return PgRunLock::IsHeld(db_url, server, is_ftp);
  } catch (const ado::pg::PgError& error) {
    automation::Raise(automation::kErrPermissionDenied, error.what());
  }
}

}  // namespace velnor::reportdb
