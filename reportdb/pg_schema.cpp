// Making the report schemas in PostgreSQL. Each schema is made in one
// transaction that starts with CREATE SCHEMA, so a schema that exists (or
// that a concurrent init-db makes first) makes that transaction fail and
// is left exactly as it was.
#include "reportdb/pg_schema.h"

#include <cctype>

#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "reportdb/table_layout.h"

namespace velnor::reportdb {
namespace {

using ado::pg::PgConnection;
using ado::pg::PgError;
using ado::pg::QuoteIdentifier;
using automation::Raise;

constexpr const char* kDuplicateSchema = "42P06";
constexpr const char* kUniqueViolation = "23505";

std::string Lower(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

[[noreturn]] void RaiseFailure(const std::string& url, const std::string& what,
                               const PgError& error) {
  Raise(automation::kErrPermissionDenied,
        "Could not " + what + " in the PostgreSQL database " + url + ": " +
            error.what() +
            ". Check the URL, that the server runs, and that the role may "
            "create schemas in the database (see README: the central "
            "store).");
}

std::unique_ptr<PgConnection> Connect(const std::string& url) {
  try {
    return std::make_unique<PgConnection>(url, "velnor init-db");
  } catch (const PgError& error) {
    RaiseFailure(url, "connect", error);
  }
}

// The citext type, qualified by the schema it lives in; installs the
// extension first when the database has none (it is a trusted extension:
// a role that may create in the database may install it).
std::string CitextType(PgConnection& db, const std::string& url) {
  const std::string find =
      "SELECT n.nspname FROM pg_type t JOIN pg_namespace n ON n.oid = "
      "t.typnamespace WHERE t.typname = 'citext'";
  try {
    auto found = db.Query(find);
    if (found.empty()) {
      try {
        db.Exec("CREATE EXTENSION IF NOT EXISTS citext");
      } catch (const PgError& error) {
        // A concurrent init-db installed it a moment before.
        if (error.sqlstate() != kUniqueViolation) throw;
      }
      found = db.Query(find);
    }
    if (found.empty() || !found[0][0]) throw PgError("42704", "no citext type");
    return QuoteIdentifier(*found[0][0]) + ".citext";
  } catch (const PgError& error) {
    RaiseFailure(url,
                 "install the citext extension (Debian's postgresql-contrib; "
                 "or have an administrator run CREATE EXTENSION citext)",
                 error);
  }
}

// The index's columns with the URL first: a citext comparison lowers both
// texts, so an index whose first column tells most keys apart (the URL,
// where the site identifier is the same for a whole site) compares half
// as much text on every insertion and look-up. The look-ups name all of
// its columns, so the order changes nothing else.
const std::string& KeyColumn(const IndexLayout& index, size_t i) {
  if (index.columns.size() == 3 && index.columns[1] == "URL" && i < 2) {
    return index.columns[1 - i];
  }
  return index.columns[i];
}

std::string SchemaStatements(ReportKind kind, bool is_ftp,
                             const std::string& schema,
                             const std::string& citext) {
  const std::string qualified = QuoteIdentifier(schema) + ".";
  std::string sql = "CREATE SCHEMA " + QuoteIdentifier(schema) + ";\n";
  for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
    const std::string name = Lower(table.name);
    sql += "CREATE TABLE " + qualified + name + " (";
    for (const ColumnLayout& column : table.columns) {
      sql += QuoteIdentifier(Lower(column.name)) + " " +
             (column.is_long ? "integer" : citext + " COLLATE \"C\"") + ", ";
    }
    sql += "rowid bigserial);\n";
    for (const IndexLayout& index : table.indexes) {
      sql += "CREATE INDEX " + QuoteIdentifier(Lower(index.name)) + " ON " +
             qualified + name + " (";
      for (size_t i = 0; i < index.columns.size(); ++i) {
        sql += (i > 0 ? ", " : "") + QuoteIdentifier(Lower(KeyColumn(index, i)));
      }
      sql += ");\n";
    }
  }
  sql += "CREATE FUNCTION " + qualified +
         "typeof(anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS $$ "
         "SELECT CASE WHEN $1 IS NULL THEN 'null' "
         "WHEN pg_typeof($1) IN ('smallint'::regtype, 'integer'::regtype, "
         "'bigint'::regtype) THEN 'integer' "
         "WHEN pg_typeof($1) IN ('real'::regtype, 'double precision'::regtype, "
         "'numeric'::regtype) THEN 'real' ELSE 'text' END $$;\n";
  return sql;
}

void CheckLength(const std::string& schema) {
  if (schema.size() > ado::kMaxPostgresName) {
    Raise(automation::kErrPermissionDenied,
          "The schema name '" + schema + "' is longer than PostgreSQL's " +
              std::to_string(ado::kMaxPostgresName) +
              " characters; the central store takes server names of up to " +
              std::to_string(ado::kMaxPostgresName - 25) + " characters.");
  }
}

}  // namespace

std::string ReportSchemaName(ReportKind kind, std::string_view server,
                             bool is_ftp) {
  return ado::PostgresSchemaOf(ReportDatabaseFileName(kind, server, is_ftp));
}

CreatedDatabases CreateReportSchemas(const std::string& url,
                                     std::string_view server, bool is_ftp) {
  for (ReportKind kind : kReportKinds) {
    CheckLength(ReportSchemaName(kind, server, is_ftp));
  }
  std::unique_ptr<PgConnection> db = Connect(url);
  const std::string citext = CitextType(*db, url);
  CreatedDatabases result;
  for (ReportKind kind : kReportKinds) {
    std::string schema = ReportSchemaName(kind, server, is_ftp);
    try {
      db->Exec("BEGIN; " + SchemaStatements(kind, is_ftp, schema, citext) +
               "COMMIT;");
      result.made.push_back(schema);
    } catch (const PgError& error) {
      db->Exec("ROLLBACK");
      if (error.sqlstate() != kDuplicateSchema) {
        RaiseFailure(url, "make the schema " + schema, error);
      }
      result.left.push_back(schema);
    }
  }
  return result;
}

std::vector<std::string> MissingReportSchemas(const std::string& url,
                                              std::string_view server,
                                              bool is_ftp) {
  std::unique_ptr<PgConnection> db = Connect(url);
  std::vector<std::string> missing;
  for (ReportKind kind : kReportKinds) {
    std::string schema = ReportSchemaName(kind, server, is_ftp);
    try {
      if (db->Query("SELECT 1 FROM pg_namespace WHERE nspname = $1", {schema})
              .empty()) {
        missing.push_back(schema);
      }
    } catch (const PgError& error) {
      RaiseFailure(url, "look for the schema " + schema, error);
    }
  }
  return missing;
}

}  // namespace velnor::reportdb
