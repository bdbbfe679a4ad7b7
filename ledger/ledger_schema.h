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
//            gzip), where the reading started and ended in that text, and
//            the records counted.
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

}  // namespace velnor::ledger

#endif  // VELNOR_LEDGER_LEDGER_SCHEMA_H_
