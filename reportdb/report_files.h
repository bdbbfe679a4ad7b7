// The report databases of one server and service: their kinds, the file
// name of each, and the words the collector's messages use for them. The
// same four names serve every engine: a folder of files, or the schemas of
// a central database named after the files.
#ifndef VELNOR_REPORTDB_REPORT_FILES_H_
#define VELNOR_REPORTDB_REPORT_FILES_H_

#include <array>
#include <string>
#include <string_view>

namespace velnor::reportdb {

// In the order a collection run opens them.
enum class ReportKind { kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus };

inline constexpr std::array<ReportKind, 4> kReportKinds = {
    ReportKind::kDayOfWeek, ReportKind::kHitsByMonth, ReportKind::kHitsByHour,
    ReportKind::kHitsByStatus};

// "DayOfWeek", "HitsByMonth", "HitsByHour" or "HitsByStatus".
std::string_view KindWord(ReportKind kind);

// The service and kind as messages name them: "WebLogDayOfWeek",
// "FTPLogHitsByStatus".
std::string DatabaseWord(ReportKind kind, bool is_ftp);

// The file name (no folder) of one report database, for example
// "QDX_UAWebLogDayOfWeek_SRV1.mdb" or "QDX_UAFTPLogHitsByHour_SRV1.mdb".
std::string ReportDatabaseFileName(ReportKind kind, std::string_view server,
                                   bool is_ftp);

// The column that holds a site's name in every table of the service.
inline std::string_view SiteColumn(bool is_ftp) {
  return is_ftp ? "FTP Site Name" : "Web Site Name";
}

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_REPORT_FILES_H_
