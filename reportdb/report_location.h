// ReportLocation: where the report databases of a server are kept, a
// folder of SQLite files or one PostgreSQL database whose schemas are
// named after the same files, and the engine that reaches them. The
// commands take it from --db-dir or --db-url; the rest of the system sees
// only database paths and an engine.
#ifndef VELNOR_REPORTDB_REPORT_LOCATION_H_
#define VELNOR_REPORTDB_REPORT_LOCATION_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/ado/engine.h"
#include "reportdb/report_files.h"

namespace velnor::reportdb {

struct ReportLocation {
  std::string db_dir;  // a folder of .mdb files, when db_url is empty
  std::string db_url;  // a PostgreSQL connection URI or key=value string

  bool IsPostgres() const { return !db_url.empty(); }
  // What messages call it: the folder or the URL.
  const std::string& Name() const { return IsPostgres() ? db_url : db_dir; }
  // The folder part of the database paths, ending in a separator: the
  // folder for files; empty for PostgreSQL, whose engine reads only the
  // file name (ado::PostgresSchemaOf).
  std::string AppPath() const;
  // The path of one report database, as the engine attaches it.
  std::string DatabasePath(ReportKind kind, std::string_view server,
                           bool is_ftp) const;
  // The path of the collection ledger of `server`'s service, as the engine
  // attaches it: a file of the folder, or (by its file name) the ledger's
  // schema in the store.
  std::string LedgerPath(std::string_view server, bool is_ftp) const;
  // What messages call the database or ledger at `path` (as DatabasePath
  // or LedgerPath give it): the path in a folder; in a store, its schema
  // and the URL ("velnor_ledger_srv1_web in postgresql://...").
  std::string Shown(const std::string& path) const;
  // Whether that ledger exists (a file, as a link too, or a schema).
  // Raises automation::AutomationError naming the store when a store
  // cannot be asked.
  bool LedgerExists(std::string_view server, bool is_ftp) const;
  // Makes that ledger when it is missing; true when it made it. Raises
  // automation::AutomationError naming the file or store when it cannot.
  bool CreateLedger(std::string_view server, bool is_ftp) const;
  // The same three for the statistics database of `server`'s service
  // (statistics/statistics_store.h), which lives beside the ledger.
  std::string StatisticsPath(std::string_view server, bool is_ftp) const;
  bool StatisticsExist(std::string_view server, bool is_ftp) const;
  bool CreateStatistics(std::string_view server, bool is_ftp) const;
  // Brings those statistics, which exist, to the current design in one
  // transaction of their own (StatisticsStore::Upgrade); true when they
  // were of an earlier one. Raises automation::AutomationError naming the
  // file or store when it cannot.
  bool UpgradeStatistics(std::string_view server, bool is_ftp) const;
  // The same for the ledger of `server`'s service (LedgerStore::Upgrade).
  bool UpgradeLedger(std::string_view server, bool is_ftp) const;
  // Whether a run holds the run lock of `server`'s service now (RunLock,
  // PgRunLock). Raises automation::AutomationError when a store cannot be
  // asked.
  bool RunLockHeld(const std::string& server, bool is_ftp) const;
  // A new engine for these databases.
  std::unique_ptr<ado::Engine> MakeEngine() const;
};

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_REPORT_LOCATION_H_
