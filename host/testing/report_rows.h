// Test support: every row a collect run leaves in the report databases of
// a server, in an order that does not depend on the run, so that two runs
// can be compared.
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

}  // namespace velnor::testing

#endif  // VELNOR_HOST_TESTING_REPORT_ROWS_H_
