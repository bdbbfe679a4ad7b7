// Test support: every row a collect run leaves in the report databases of
// a server, in an order that does not depend on the run, so that two runs
// can be compared; and the state of a server's databases, so that a state
// can be compared with the one before or after a run.
#ifndef VELNOR_HOST_TESTING_REPORT_ROWS_H_
#define VELNOR_HOST_TESTING_REPORT_ROWS_H_

#include <filesystem>
#include <string>
#include <vector>

#include "host/testing/velnor_test_support.h"

namespace velnor::testing {

// The sorted rows of tblGeneral of each of the four databases of `server`
// (web or `ftp`) in `db_dir`, then of the site totals without the run's
// time, then of the file registry.
std::vector<Rows> AllReportRows(const std::filesystem::path& db_dir,
                                const std::string& server, bool ftp);

// Every row of the four web databases of `server` in `db_dir` in the order
// written, then of its site totals, each file checked for soundness first
// (opening a file rolls back what a killed run left). With `ledger`, then
// the collection ledger as far as runs committed it: their ends, files and
// days (a run's start is committed apart and is not part of its counts),
// and the statistics database beside it, when there is one, its rows in
// the order of their values (a set's rows are written in no set order).
std::vector<Rows> DatabaseState(const std::filesystem::path& db_dir,
                                const std::string& server, bool ledger);

}  // namespace velnor::testing

#endif  // VELNOR_HOST_TESTING_REPORT_ROWS_H_
