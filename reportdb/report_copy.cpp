// The files are read through the SQLite engine in one read transaction (a
// collection run committing meanwhile is seen whole or not at all) and
// written with COPY, the fastest way into PostgreSQL.
#include "reportdb/report_copy.h"

#include <cctype>

#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "reportdb/pg_schema.h"

namespace velnor::reportdb {
namespace {

using ado::pg::PgConnection;
using ado::pg::PgError;
using ado::pg::QuoteIdentifier;

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// The PostgreSQL name of a table of `kind`'s schema.
std::string Target(const CopiedTable& table, std::string_view server,
                   bool is_ftp) {
  return QuoteIdentifier(ReportSchemaName(table.kind, server, is_ftp)) + "." +
         QuoteIdentifier(Lower(table.layout.name));
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
  if (!result.not_empty.empty() && !overwrite) return result;

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
        store->Exec("ROLLBACK");
        automation::Raise(automation::kErrPermissionDenied,
                          "Could not read " + table.layout.name + " of '" +
                              db_dir + "': " + error.description());
      }
      std::string columns;
      for (const ColumnLayout& column : table.layout.columns) {
        columns +=
            (columns.empty() ? "" : ", ") + QuoteIdentifier(Lower(column.name));
      }
      store->CopyIn("COPY " + target + " (" + columns + ") FROM STDIN", rows);
      result.rows += static_cast<int64_t>(rows.size());
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
