// What `velnor report` shows: the counts of the four report databases of
// one server and service, the site totals of past runs, and from the
// collection ledger beside them (when there is one) the days collected with
// their hits and the runs, gathered per site. The files are only read,
// never changed, so a report can be taken while nothing else, or a
// collection run, uses them.
#ifndef VELNOR_REPORTDB_REPORT_READER_H_
#define VELNOR_REPORTDB_REPORT_READER_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/ledger_store.h"
#include "reportdb/report_location.h"
#include "statistics/statistics_store.h"

namespace velnor::reportdb {

// One bar of a chart: a bucket and the hits counted in it.
struct Bucket {
  int64_t sort = 0;   // the bucket's position: weekday 1-7, month 1-12
  std::string label;  // the name the collector stored, such as "Sunday"
  int64_t hits = 0;
};

struct StatusCount {
  int64_t code = 0;   // the protocol status code, 0 when the log had none
  int64_t sort = 0;   // position in the service's label list; 100 = "Others"
  std::string label;  // such as "Not Found (404)" or "Others"
  int64_t hits = 0;
};

struct UrlCount {
  std::string url;
  int64_t hits = 0;
};

// One day of a site as the ledger has it, over every run that counted it.
struct DayCount {
  ledger::Day day = 0;
  int64_t hits = 0;
  int64_t hits_by_class[4] = {0, 0, 0, 0};  // 2xx, 3xx, 4xx, 5xx
  bool complete = true;  // false: counted so far only (a day in progress,
                         // a cancelled or failed reading)
};

// Everything counted for one site (one Identifier).
struct SiteReport {
  std::string identifier;
  std::string name;  // the site's display name most recently written
  // Sunday (1) to Saturday (7): always seven buckets; a day without rows
  // has 0 hits and its English name.
  std::vector<Bucket> weekdays;
  // January (1) to December (12), filled the same way.
  std::vector<Bucket> months;
  std::array<int64_t, 24> hours{};  // index = hour of the day
  // One entry per status code, by sort position, then code: "Others" last.
  std::vector<StatusCount> statuses;
  // At most kTopUrlCount URLs by total hits, ties by URL (byte order).
  // URLs that differ only in the case of ASCII letters are one page, as
  // the databases compare them: their hits are added up under the
  // spelling with the most hits (ties: the first in byte order). For FTP
  // only paths (entries starting with "/") are listed here.
  std::vector<UrlCount> top_urls;
  // FTP only: the entries that are not paths, such as the user name that
  // USER logs or the empty entry of PASS ("-" in the log), at most
  // kTopUrlCount, ordered and grouped as top_urls. Always empty for web.
  std::vector<UrlCount> commands_without_path;
  // `No of Hits` of each past run of this site, oldest first.
  std::vector<int64_t> runs;
  int64_t runs_total = 0;
  // Every day the ledger holds counted for the site, by day (days without
  // hits included). Empty without a ledger.
  std::vector<DayCount> days;
  // The statistics of each day the statistics database holds for the site,
  // by day. Empty without one.
  std::vector<statistics::DayFigures> statistics;
};

inline constexpr size_t kTopUrlCount = 10;

struct Report {
  std::string server;
  bool is_ftp = false;
  std::vector<SiteReport> sites;  // by Identifier, numerically when numeric
  // Whether the folder holds the collection ledger of the server and
  // service, and its runs, oldest first.
  bool has_ledger = false;
  std::vector<ledger::RunRow> runs;
  // Whether the statistics database of the server and service is there.
  bool has_statistics = false;
};

// Names of the database files of `server`'s service in `db_dir` (full
// paths) that do not exist, in report order; empty when all four exist.
std::vector<std::string> MissingReportDatabases(const std::string& db_dir,
                                                std::string_view server,
                                                bool is_ftp);

// Reads the four report databases of `server`'s service in `db_dir` and
// tblTotalAccess, and the service's ledger when it exists, opened
// read-only, in one read transaction: the days and the counts are one
// committed state. Rows whose `Hours` is outside 0-23 are
// not shown: the collector never writes them. Raises
// automation::AutomationError naming the file: file not found (53) when a
// database is missing, or the database error (permission denied, 70) when
// a file cannot be opened or is not a report database of that service.
Report LoadReport(const std::string& db_dir, std::string_view server,
                  bool is_ftp);
// The same from either kind of location; for PostgreSQL a missing schema
// or a database that cannot be reached raises permission denied (70) with
// the reason.
Report LoadReport(const ReportLocation& location, std::string_view server,
                  bool is_ftp);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_REPORT_READER_H_
