// The files are read through the SQLite engine in one read transaction (a
// collection run committing meanwhile is seen whole or not at all) and
// written with COPY, the fastest way into PostgreSQL.
#include "reportdb/report_copy.h"

#include <sys/stat.h>

#include "ledger/ledger_files.h"
#include "ledger/ledger_schema.h"
#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/pg_schema.h"
#include "reportdb/report_location.h"
#include "statistics/statistics_store.h"

namespace velnor::reportdb {
namespace {

using ado::pg::PgConnection;
using ado::pg::PgError;
using ado::pg::QuoteIdentifier;

// The PostgreSQL name of a table of `kind`'s schema.
std::string Target(const CopiedTable& table, std::string_view server,
                   bool is_ftp) {
  return QuoteIdentifier(ReportSchemaName(table.kind, server, is_ftp)) + "." +
         QuoteIdentifier(automation::AsciiLowered(table.layout.name));
}

std::vector<ado::pg::Row> ReadTable(ado::Session& session,
                                    const std::string& schema,
                                    const TableLayout& layout) {
  std::string sql = "SELECT ";
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    sql += (i > 0 ? ", [" : "[") + layout.columns[i].name + "]";
  }
  sql += " FROM [" + layout.name + "] ORDER BY rowid";
  std::unique_ptr<ado::Statement> statement = session.Prepare(sql, schema);
  std::vector<ado::pg::Row> rows;
  while (statement->Step()) {
    ado::pg::Row row;
    for (int c = 0; c < statement->ColumnCount(); ++c) {
      if (statement->Type(c) == ado::ColumnType::kNull) {
        row.emplace_back();
      } else {
        row.emplace_back(std::string(statement->Text(c)));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The rows of the ledger table `table` in its order of keys, and its
// columns' names into `columns` (as the copy names them).
std::vector<ado::pg::Row> ReadLedgerTable(ado::Session& session,
                                          const std::string& schema,
                                          std::string_view table,
                                          std::string& columns) {
  std::unique_ptr<ado::Statement> statement =
      session.Prepare("SELECT * FROM " + std::string(table), schema);
  std::vector<ado::pg::Row> rows;
  columns.clear();
  bool named = false;
  while (statement->Step()) {
    if (!named) {
      for (int c = 0; c < statement->ColumnCount(); ++c) {
        columns +=
            (c > 0 ? ", " : "") + QuoteIdentifier(statement->ColumnName(c));
      }
      named = true;
    }
    ado::pg::Row& row = rows.emplace_back();
    for (int c = 0; c < statement->ColumnCount(); ++c) {
      if (statement->Type(c) == ado::ColumnType::kNull) {
        row.emplace_back();
      } else {
        row.emplace_back(std::string(statement->Text(c)));
      }
    }
  }
  return rows;
}

// The store's side of the ledger, or of the statistics, of one server and
// service.
struct StoreLedger {
  std::string schema;
  const std::vector<ledger::LedgerTable>* tables = nullptr;
  bool exists = false;
  bool has_rows = false;
};

StoreLedger FindStoreLedger(PgConnection& store, std::string schema,
                            const std::vector<ledger::LedgerTable>& tables) {
  StoreLedger ledger{std::move(schema), &tables};
  ledger.exists = !store
                       .Query("SELECT 1 FROM pg_namespace WHERE nspname = $1",
                              {ledger.schema})
                       .empty();
  ledger.has_rows =
      ledger.exists &&
      !store
           .Query("SELECT 1 FROM " + QuoteIdentifier(ledger.schema) + "." +
                  std::string(tables.front().name) + " LIMIT 1")
           .empty();
  return ledger;
}

// Copies the folder's ledger or statistics (attached to `session` as
// `schema`; none when empty) into the store's, inside the store's open
// transaction: made when missing, emptied first when it exists
// (overwriting: the counts it spoke of are replaced). Without one in the
// folder the store keeps none either, as the folder's counts had none: an
// empty ledger would say none of the copied days were counted, and let a
// collection count them again where the folder's refuses to.
int64_t CopyLedger(PgConnection& store, ado::Session& session,
                   const std::string& schema, const StoreLedger& target) {
  const std::string qualified = QuoteIdentifier(target.schema) + ".";
  if (schema.empty()) {
    if (target.exists) {
      store.Exec("DROP SCHEMA " + QuoteIdentifier(target.schema) + " CASCADE");
    }
    return 0;
  }
  if (target.exists) {
    std::string tables;
    for (const ledger::LedgerTable& table : *target.tables) {
      tables +=
          (tables.empty() ? "" : ", ") + qualified + std::string(table.name);
    }
    store.Exec("TRUNCATE " + tables);
  } else {
    store.Exec(ledger::TablesSchemaStatements(target.schema, *target.tables));
  }
  int64_t copied = 0;
  for (const ledger::LedgerTable& table : *target.tables) {
    std::string columns;
    std::vector<ado::pg::Row> rows;
    // A folder's statistics of an earlier design are copied as they read
    // once upgraded, leaving the folder, which may be read-only, as it is.
    std::optional<statistics::StatisticsStore::TableRows> upgraded;
    if (target.tables == &statistics::StatisticsTables()) {
      upgraded =
          statistics::StatisticsStore(session, schema).Upgraded(table.name);
    }
    if (upgraded) {
      for (const std::string& column : upgraded->columns) {
        columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(column);
      }
      rows = std::move(upgraded->rows);
    } else {
      rows = ReadLedgerTable(session, schema, table.name, columns);
    }
    if (rows.empty()) continue;
    store.CopyIn("COPY " + qualified + std::string(table.name) + " (" +
                     columns + ") FROM STDIN",
                 ado::OneBatch(rows));
    copied += static_cast<int64_t>(rows.size());
  }
  return copied;
}

[[noreturn]] void RaiseStore(const std::string& url, const std::string& what,
                             const std::string& reason) {
  automation::Raise(automation::kErrPermissionDenied,
                    "Could not " + what + " in " + url + ": " + reason +
                        ". The store is as it was before the copy.");
}

}  // namespace

std::vector<CopiedTable> TablesToCopy(bool is_ftp) {
  std::vector<CopiedTable> tables;
  for (ReportKind kind : kReportKinds) {
    for (TableLayout& layout : ReportTableLayouts(kind, is_ftp)) {
      tables.push_back({kind, std::move(layout)});
    }
  }
  return tables;
}

CopyResult CopyReportDatabases(const std::string& db_dir,
                               const std::string& url, std::string_view server,
                               bool is_ftp, bool overwrite) {
  CreateReportSchemas(url, server, is_ftp);
  std::unique_ptr<PgConnection> store;
  try {
    store = std::make_unique<PgConnection>(url, "velnor migrate");
  } catch (const PgError& error) {
    RaiseStore(url, "connect", error.what());
  }
  const std::vector<CopiedTable> tables = TablesToCopy(is_ftp);
  CopyResult result;
  StoreLedger target;
  StoreLedger statistics_target;
  try {
    target = FindStoreLedger(*store, ledger::LedgerSchemaName(server, is_ftp),
                             ledger::LedgerTables());
    statistics_target = FindStoreLedger(
        *store, statistics::StatisticsSchemaName(server, is_ftp),
        statistics::StatisticsTables());
  } catch (const PgError& error) {
    RaiseStore(url, "read " + target.schema, error.what());
  }
  for (const CopiedTable& table : tables) {
    std::string schema = ReportSchemaName(table.kind, server, is_ftp);
    try {
      if (!store
               ->Query("SELECT 1 FROM " + Target(table, server, is_ftp) +
                       " LIMIT 1")
               .empty() &&
          (result.not_empty.empty() || result.not_empty.back() != schema)) {
        result.not_empty.push_back(schema);
      }
    } catch (const PgError& error) {
      RaiseStore(url, "read " + schema, error.what());
    }
  }
  if (target.has_rows) result.not_empty.push_back(target.schema);
  if (statistics_target.has_rows) {
    result.not_empty.push_back(statistics_target.schema);
  }
  if (!result.not_empty.empty() && !overwrite) return result;
  // The store's ledger and statistics take the copy in the current design.
  if (target.exists) ReportLocation{"", url}.UpgradeLedger(server, is_ftp);
  if (statistics_target.exists) {
    ReportLocation{"", url}.UpgradeStatistics(server, is_ftp);
  }

  auto session = ado::Session::BeginReading(ado::kDefaultLockWaitMs);
  std::vector<std::string> schemas;
  for (ReportKind kind : kReportKinds) {
    std::string path =
        db_dir + "/" + ReportDatabaseFileName(kind, server, is_ftp);
    try {
      schemas.push_back(session->Attach(path));
    } catch (const automation::AutomationError& error) {
      automation::Raise(
          automation::kErrPermissionDenied,
          "Could not read '" + path + "': " + error.description());
    }
  }
  // The ledger and the statistics beside the databases, when there.
  auto attach = [&](const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::string();
    try {
      return session->Attach(path);
    } catch (const automation::AutomationError& error) {
      automation::Raise(
          automation::kErrPermissionDenied,
          "Could not read '" + path + "': " + error.description());
    }
  };
  const std::string ledger_path =
      db_dir + "/" + ledger::LedgerFileName(server, is_ftp);
  const std::string ledger_schema = attach(ledger_path);
  const std::string statistics_path =
      db_dir + "/" + statistics::StatisticsFileName(server, is_ftp);
  const std::string statistics_schema = attach(statistics_path);
  std::string step;
  try {
    store->Exec("BEGIN");
    for (const CopiedTable& table : tables) {
      const std::string target = Target(table, server, is_ftp);
      step = "copy into " + target;
      if (overwrite) store->Exec("TRUNCATE " + target + " RESTART IDENTITY");
      std::vector<ado::pg::Row> rows;
      try {
        rows = ReadTable(*session, schemas[static_cast<size_t>(table.kind)],
                         table.layout);
      } catch (const automation::AutomationError& error) {
        store->RollBackQuietly();
        automation::Raise(automation::kErrPermissionDenied,
                          "Could not read " + table.layout.name + " of '" +
                              db_dir + "': " + error.description());
      }
      std::string columns;
      for (const ColumnLayout& column : table.layout.columns) {
        columns += (columns.empty() ? "" : ", ") +
                   QuoteIdentifier(automation::AsciiLowered(column.name));
      }
      store->CopyIn("COPY " + target + " (" + columns + ") FROM STDIN",
                    ado::OneBatch(rows));
      // The files hold no folded keys: the copied counts get theirs now
      // rather than in the first run's statement.
      if (automation::AsciiLowered(table.layout.name) == "tblgeneral") {
        store->Exec(FillFoldedKeys(target));
      }
      result.rows += static_cast<int64_t>(rows.size());
    }
    step = "copy the ledger into " + target.schema;
    try {
      result.rows += CopyLedger(*store, *session, ledger_schema, target);
    } catch (const automation::AutomationError& error) {
      store->RollBackQuietly();
      automation::Raise(
          automation::kErrPermissionDenied,
          "Could not read '" + ledger_path + "': " + error.description());
    }
    step = "copy the statistics into " + statistics_target.schema;
    try {
      result.rows +=
          CopyLedger(*store, *session, statistics_schema, statistics_target);
    } catch (const automation::AutomationError& error) {
      store->RollBackQuietly();
      automation::Raise(
          automation::kErrPermissionDenied,
          "Could not read '" + statistics_path + "': " + error.description());
    }
    step = "commit the copy";
    store->Exec("COMMIT");
  } catch (const PgError& error) {
    RaiseStore(url, step, error.what());
  }
  session->Commit();
  return result;
}

}  // namespace velnor::reportdb
