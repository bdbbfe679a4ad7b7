// Copying the report databases of one server and service from a folder of
// SQLite files into the schemas of a central PostgreSQL store, rows in the
// order they were written (so that reports read them alike), with the
// service's collection ledger, all tables in one transaction: the store
// gets all of them or none, and knows afterwards which days it holds.
#ifndef VELNOR_REPORTDB_REPORT_COPY_H_
#define VELNOR_REPORTDB_REPORT_COPY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reportdb/report_files.h"
#include "reportdb/table_layout.h"

namespace velnor::reportdb {

// One report table a copy moves: the database it is in and its layout.
struct CopiedTable {
  ReportKind kind;
  TableLayout layout;
};
std::vector<CopiedTable> TablesToCopy(bool is_ftp);

struct CopyResult {
  int64_t rows = 0;
  // Schemas that held rows: nothing was copied (unless overwriting).
  std::vector<std::string> not_empty;
};

// Copies the four files of `server`'s service in `db_dir` and its ledger
// (when the folder has one) into the store `url`, making missing schemas
// first. A schema with rows in any of its tables (the ledger's too) stops
// the copy before anything is written (listed in not_empty) unless
// `overwrite`, which empties those tables first, in the same transaction;
// the store's ledger is then the folder's, or none when the folder has
// none. Raises automation::AutomationError (permission denied, 70)
// naming the file or schema and the reason when a file cannot be read or
// the store refuses a row; the store is then as before.
CopyResult CopyReportDatabases(const std::string& db_dir,
                               const std::string& url, std::string_view server,
                               bool is_ftp, bool overwrite);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_REPORT_COPY_H_
