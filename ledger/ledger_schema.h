// The tables of a collection ledger, in one place: what makes a new ledger
// and what copies one (to another engine, say) table by table both read
// them from here.
//
// runs       one row per run: server, service, sites, the window, how it
//            was asked for, when it started and ended, how it ended and
//            the records it counted. The row is written when the run
//            starts, committed on its own; the end is written in the
//            run's own commit, so a row without an end is a run that never
//            committed (killed, or a power cut): it counted nothing.
// run_files  per run, site and log file read: the file as it was (size,
//            modification time), what the log is known by whatever its
//            name (a checksum of the first bytes of its text, inflated for
//            gzip), where the reading started and ended in that text, the
//            records counted, and the checksum of that head at each of its
//            line ends (line_ends), so that a shorter copy of the log is
//            known too. line_ends is null in the rows of ledgers made
//            before it was kept (LedgerStore::Upgrade adds the column).
// run_days   per run, site and day of its window: hits, hits per status
//            class, and whether the day was counted whole.
//
// The SQL is plain (no engine's own functions or types), so that another
// engine takes the same statements.
#ifndef VELNOR_LEDGER_LEDGER_SCHEMA_H_
#define VELNOR_LEDGER_LEDGER_SCHEMA_H_

#include <string>
#include <string_view>
#include <vector>

namespace velnor::ado::pg {
class PgConnection;
}  // namespace velnor::ado::pg

namespace velnor::ledger {

struct LedgerTable {
  std::string_view name;
  // CREATE TABLE and CREATE INDEX statements, one per entry.
  std::vector<std::string_view> definition;
};

// The ledger's tables, each after the tables it refers to.
const std::vector<LedgerTable>& LedgerTables();

// Makes the ledger file `path` with its tables when it does not exist; true
// when it made it. A new file appears only complete (it is built under a
// temporary name in the same folder first), and an existing one is never
// touched. Raises automation::AutomationError naming the file when it
// cannot be made.
bool CreateLedger(const std::string& path);
// The same for any database of `tables` (the statistics, say), `what`
// naming it in errors ("ledger").
bool CreateTablesFile(const std::string& path,
                      const std::vector<LedgerTable>& tables,
                      std::string_view what);

// The schema that holds the ledger of `server`'s service in a PostgreSQL
// store: the ledger file's name as the engine maps it, beside the four
// report schemas ("velnor_ledger_srv1_web").
std::string LedgerSchemaName(std::string_view server, bool is_ftp);

// The statements that make the ledger's schema `schema` and its tables,
// separated by ";", to run inside a transaction of the caller's (they set
// the search path for the rest of it).
std::string LedgerSchemaStatements(const std::string& schema);
// The same for `tables`.
std::string TablesSchemaStatements(const std::string& schema,
                                   const std::vector<LedgerTable>& tables);

// Makes the ledger schema of `server`'s service in the PostgreSQL database
// `url` when it does not exist, whole in one transaction; true when it made
// it. An existing schema is never touched, and of two runs making it at
// once one makes it and the other finds it. Raises
// automation::AutomationError naming the store when it cannot be made.
bool CreatePgLedger(const std::string& url, std::string_view server,
                    bool is_ftp);
// The same for the schema `schema` of `tables`, `what` naming it in errors.
bool CreatePgTables(const std::string& url, const std::string& schema,
                    const std::vector<LedgerTable>& tables,
                    std::string_view what);
// The same on `db`, a connection to `url` outside any transaction, which
// it leaves so.
bool CreatePgTables(ado::pg::PgConnection& db, const std::string& url,
                    const std::string& schema,
                    const std::vector<LedgerTable>& tables,
                    std::string_view what);

// The ledger schemas of the store `url`, by name. Raises
// automation::AutomationError naming the store when it cannot be asked.
std::vector<std::string> PgLedgerSchemas(const std::string& url);

// Whether the store `url` holds the ledger schema of `server`'s service.
// Raises automation::AutomationError naming the store when it cannot be
// asked.
bool PgLedgerExists(const std::string& url, std::string_view server,
                    bool is_ftp);
// Whether the store `url` holds the schema `schema`, `what` naming it in
// errors. Raises as PgLedgerExists does.
bool PgSchemaExists(const std::string& url, const std::string& schema,
                    std::string_view what);

}  // namespace velnor::ledger

#endif  // VELNOR_LEDGER_LEDGER_SCHEMA_H_
