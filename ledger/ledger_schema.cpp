// Making a ledger. The file is built through the database layer's own
// statements, in a temporary file of the target folder, and then
// hard-linked to its name, which fails when that name exists: two runs that
// make the same ledger at once leave one whole file, never a half-made one.
#include "ledger/ledger_schema.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ledger/ledger_files.h"
#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"

namespace velnor::ledger {
namespace {

using ado::pg::PgConnection;
using ado::pg::PgError;
using ado::pg::RaiseSchemaFailure;
using automation::Raise;

std::unique_ptr<PgConnection> Connect(const std::string& url) {
  return ado::pg::ConnectForSchemas(url, "velnor ledger");
}

// A row when the schema named $1 exists.
constexpr char kSchemaExists[] =
    "SELECT 1 FROM pg_namespace WHERE nspname = $1";

void CheckSchemaLength(const std::string& schema) {
  if (schema.size() > ado::kMaxPostgresName) {
    Raise(automation::kErrPermissionDenied,
          "The schema name '" + schema + "' is longer than PostgreSQL's " +
              std::to_string(ado::kMaxPostgresName) +
              " characters; use a shorter server name.");
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Builds every table of `tables` in the empty database file `path`.
void WriteTables(const std::string& path,
                 const std::vector<LedgerTable>& tables) {
  auto session = ado::Session::Private(ado::kDefaultLockWaitMs);
  std::string schema = session->Attach(path);
  for (const LedgerTable& table : tables) {
    for (std::string_view statement : table.definition) {
      session->Prepare(statement, schema)->Step();
    }
  }
  session->Commit();
}

}  // namespace

const std::vector<LedgerTable>& LedgerTables() {
  static const std::vector<LedgerTable> kTables = {
      {"runs",
       {"CREATE TABLE runs ("
        "run_id BIGINT NOT NULL PRIMARY KEY, "
        "server TEXT NOT NULL, "
        "service TEXT NOT NULL, "    // web or ftp
        "sites TEXT NOT NULL, "      // identifiers: 1,2,10
        "first_day TEXT NOT NULL, "  // YYYY-MM-DD, log time
        "last_day TEXT NOT NULL, "
        "mode TEXT NOT NULL, "            // count, recount or raw
        "partial_day INTEGER NOT NULL, "  // 1: --partial-day
        "started TEXT NOT NULL, "         // YYYY-MM-DDTHH:MM:SSZ
        "ended TEXT, "                    // null: the run never committed
        "outcome TEXT, "                  // completed, cancelled, failed
        "records BIGINT)"}},
      {"run_files",
       {"CREATE TABLE run_files ("
        "run_id BIGINT NOT NULL REFERENCES runs (run_id), "
        "site TEXT NOT NULL, "
        "file_name TEXT NOT NULL, "
        "file_size BIGINT NOT NULL, "      // as listed before the run
        "file_modified TEXT NOT NULL, "    // YYYY-MM-DDTHH:MM:SSZ
        "head_bytes BIGINT NOT NULL, "     // the first bytes of the text
        "head_checksum BIGINT NOT NULL, "  // their CRC-32
        "start_offset BIGINT NOT NULL, "   // counting went on from here
        "end_offset BIGINT NOT NULL, "     // and was read up to here
        "first_record TEXT, "              // YYYY-MM-DD HH:MM:SS, log time
        "last_record TEXT, "
        "records BIGINT NOT NULL, "
        "line_ends TEXT, "  // null: a row of an earlier design
        "PRIMARY KEY (run_id, site, file_name))"}},
      {"run_days",
       {"CREATE TABLE run_days ("
        "run_id BIGINT NOT NULL REFERENCES runs (run_id), "
        "site TEXT NOT NULL, "
        "log_day TEXT NOT NULL, "  // YYYY-MM-DD, log time
        "hits BIGINT NOT NULL, "
        "hits_2xx BIGINT NOT NULL, "
        "hits_3xx BIGINT NOT NULL, "
        "hits_4xx BIGINT NOT NULL, "
        "hits_5xx BIGINT NOT NULL, "
        "complete INTEGER NOT NULL, "  // 0: counted in part so far
        "PRIMARY KEY (run_id, site, log_day))",
        "CREATE INDEX run_days_site_day ON run_days (site, log_day)"}},
  };
  return kTables;
}

bool CreateLedger(const std::string& path) {
  return CreateTablesFile(path, LedgerTables(), "ledger");
}

bool CreateTablesFile(const std::string& path,
                      const std::vector<LedgerTable>& tables,
                      std::string_view what) {
  const std::string noun(what);
  if (::access(path.c_str(), F_OK) == 0) return false;
  const std::string folder = FolderOf(path);
  std::string temp = folder + "/.velnor-" + noun + "-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    Raise(automation::kErrPermissionDenied,
          "Could not create a file in '" + folder + "' for the " + noun + ": " +
              std::strerror(errno) + ". Check the folder's permissions.");
  }
  ::fchmod(fd, 0644);
  ::close(fd);
  struct Remover {
    std::string path;
    ~Remover() {
      ::unlink(path.c_str());
      ::unlink((path + "-journal").c_str());
    }
  } remover{temp};
  try {
    WriteTables(temp, tables);
  } catch (const automation::AutomationError& error) {
    Raise(automation::kErrPermissionDenied,
          "Could not write the tables of the " + noun + " '" + path +
              "': " + error.description());
  }
  if (::link(temp.c_str(), path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  Raise(automation::kErrPermissionDenied,
        "Could not create the " + noun + " '" + path +
            "': " + std::strerror(errno) + ". Check the folder's permissions.");
}

std::string LedgerSchemaName(std::string_view server, bool is_ftp) {
  return ado::PostgresSchemaOf(LedgerFileName(server, is_ftp));
}

std::string LedgerSchemaStatements(const std::string& schema) {
  return TablesSchemaStatements(schema, LedgerTables());
}

std::string TablesSchemaStatements(const std::string& schema,
                                   const std::vector<LedgerTable>& tables) {
  const std::string quoted = ado::pg::QuoteIdentifier(schema);
  std::string sql = "CREATE SCHEMA " + quoted + ";\nSET LOCAL search_path TO " +
                    quoted + ";\n";
  for (const LedgerTable& table : tables) {
    for (std::string_view statement : table.definition) {
      sql += std::string(statement) + ";\n";
    }
  }
  return sql;
}

bool CreatePgLedger(const std::string& url, std::string_view server,
                    bool is_ftp) {
  return CreatePgTables(url, LedgerSchemaName(server, is_ftp), LedgerTables(),
                        "ledger");
}

bool CreatePgTables(const std::string& url, const std::string& schema,
                    const std::vector<LedgerTable>& tables,
                    std::string_view what) {
  CheckSchemaLength(schema);
  return CreatePgTables(*Connect(url), url, schema, tables, what);
}

bool CreatePgTables(PgConnection& db, const std::string& url,
                    const std::string& schema,
                    const std::vector<LedgerTable>& tables,
                    std::string_view what) {
  CheckSchemaLength(schema);
  try {
    // Asked first: CREATE SCHEMA checks the right to create schemas before
    // it finds the schema there, so a role that may only write an existing
    // store would be refused it on every run.
    if (!db.Query(kSchemaExists, {schema}).empty()) return false;
    db.Exec("BEGIN; " + TablesSchemaStatements(schema, tables) + "COMMIT;");
    return true;
  } catch (const PgError& error) {
    db.RollBackQuietly();
    // A concurrent run made it a moment before: it is whole.
    if (ado::pg::SchemaMadeAlready(error)) return false;
    RaiseSchemaFailure(
        url, "make the " + std::string(what) + " schema " + schema, error);
  }
}

std::vector<std::string> PgLedgerSchemas(const std::string& url) {
  std::unique_ptr<PgConnection> db = Connect(url);
  std::vector<std::string> schemas;
  try {
    for (const ado::pg::Row& row :
         db->Query("SELECT nspname FROM pg_namespace ORDER BY nspname")) {
      if (row[0] && ParseLedgerSchemaName(*row[0])) schemas.push_back(*row[0]);
    }
  } catch (const PgError& error) {
    RaiseSchemaFailure(url, "list the ledger schemas", error);
  }
  return schemas;
}

bool PgLedgerExists(const std::string& url, std::string_view server,
                    bool is_ftp) {
  return PgSchemaExists(url, LedgerSchemaName(server, is_ftp), "ledger");
}

bool PgSchemaExists(const std::string& url, const std::string& schema,
                    std::string_view what) {
  std::unique_ptr<PgConnection> db = Connect(url);
  try {
    return !db->Query(kSchemaExists, {schema}).empty();
  } catch (const PgError& error) {
    RaiseSchemaFailure(
        url, "look for the " + std::string(what) + " schema " + schema, error);
  }
}

}  // namespace velnor::ledger
