// The report databases the host application provides: their file names and
// the tables the collector reads and writes, made as SQLite files so that
// the collector can open them through ADODB.Connection.
#ifndef VELNOR_HOST_REPORT_SCHEMA_H_
#define VELNOR_HOST_REPORT_SCHEMA_H_

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::host {

enum class ReportKind { kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus };

inline constexpr std::array<ReportKind, 4> kReportKinds = {
    ReportKind::kDayOfWeek, ReportKind::kHitsByMonth, ReportKind::kHitsByHour,
    ReportKind::kHitsByStatus};

// The file name (no folder) of one report database, for example
// "QDX_UAWebLogDayOfWeek_SRV1.mdb" or "QDX_UAFTPLogHitsByHour_SRV1.mdb".
std::string ReportDatabaseFileName(ReportKind kind, std::string_view server,
                                   bool is_ftp);

// What CreateReportDatabases did, as full paths in report order.
struct CreatedDatabases {
  std::vector<std::string> made;  // new files with their tables
  std::vector<std::string> left;  // files that already existed, untouched
};

// Makes, in the existing folder `db_dir`, the four report databases of
// `server` for the web service (or FTP with `is_ftp`): each with the
// tblGeneral of its report, and the hits-by-hour file also with
// tblTotalAccess and tblLogFiles. Text columns compare without regard to
// case; 32-bit integer columns refuse values outside that range or of
// another type. Each look-up key has an index. The files use SQLite's
// write-ahead log, so their folder must be writable and local.
//
// A file that already exists is never overwritten or altered; a new file
// appears only complete (it is built under a temporary name first).
// Raises automation::AutomationError: path not found (76) when `db_dir` is
// not a folder, permission denied (70) or the database error when a file
// cannot be made.
CreatedDatabases CreateReportDatabases(const std::string& db_dir,
                                       std::string_view server, bool is_ftp);

}  // namespace velnor::host

#endif  // VELNOR_HOST_REPORT_SCHEMA_H_
