// Names of the report databases.
#include "reportdb/report_files.h"

namespace velnor::reportdb {

std::string_view KindWord(ReportKind kind) {
  switch (kind) {
    case ReportKind::kDayOfWeek:
      return "DayOfWeek";
    case ReportKind::kHitsByMonth:
      return "HitsByMonth";
    case ReportKind::kHitsByHour:
      return "HitsByHour";
    case ReportKind::kHitsByStatus:
      return "HitsByStatus";
  }
  return "";
}

std::string DatabaseWord(ReportKind kind, bool is_ftp) {
  return std::string(is_ftp ? "FTPLog" : "WebLog") +
         std::string(KindWord(kind));
}

std::string ReportDatabaseFileName(ReportKind kind, std::string_view server,
                                   bool is_ftp) {
  return "QDX_UA" + DatabaseWord(kind, is_ftp) + "_" + std::string(server) +
         ".mdb";
}

}  // namespace velnor::reportdb
