// Making the report databases: the tables the collector reads and writes,
// as SQLite files that the collector opens through ADODB.Connection.
#ifndef VELNOR_REPORTDB_SCHEMA_H_
#define VELNOR_REPORTDB_SCHEMA_H_

#include <string>
#include <string_view>
#include <vector>

#include "reportdb/report_files.h"

namespace velnor::reportdb {

// What CreateReportDatabases did, as full paths in report order.
struct CreatedDatabases {
  std::vector<std::string> made;  // new files with their tables
  std::vector<std::string> left;  // files that already existed, untouched
  // Ones that existed in an earlier design, brought to the current one.
  std::vector<std::string> upgraded;
};

// Makes, in the existing folder `db_dir`, the four report databases of
// `server` for the web service (or FTP with `is_ftp`): each with the
// tblGeneral of its report, and the hits-by-hour file also with
// tblTotalAccess and tblLogFiles. Text columns compare without regard to
// case; 32-bit integer columns refuse values outside that range or of
// another type. Each look-up key has an index. The files keep a rollback
// journal (a run commits several files at once, which write-ahead logs
// cannot), so their folder must be writable and local.
//
// A file that already exists is never overwritten or altered; a new file
// appears only complete (it is built under a temporary name first).
// Raises automation::AutomationError: path not found (76) when `db_dir` is
// not a folder, permission denied (70) or the database error when a file
// cannot be made.
CreatedDatabases CreateReportDatabases(const std::string& db_dir,
                                       std::string_view server, bool is_ftp);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_SCHEMA_H_
