// Reading the report databases for `velnor report`. Every table is read
// once, in insertion order, and summed per site in memory: the tables hold
// one row per site, URL and bucket, so a site's buckets are the sums over
// its URLs.
#include "reportdb/report_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "ledger/counted_days.h"
#include "ledger/ledger_files.h"
#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "reportdb/report_files.h"

namespace velnor::reportdb {
namespace {

using automation::Raise;

// Gives up after this long when a collection run is committing.
constexpr int kBusyTimeoutMs = 5000;

// One row of a query; columns are read by position.
// What a message calls the database at `path` of `location`: a file as
// `file` ("report database") and its path, a store's schema as `schema`
// ("report schema") with its name and the URL, which is what its
// administrator finds in the store.
std::string Named(const ReportLocation& location, std::string_view file,
                  std::string_view schema, const std::string& path) {
  if (location.IsPostgres()) {
    return std::string(schema) + " " + location.Shown(path);
  }
  return std::string(file) + " '" + path + "'";
}

// Runs `step`, turning a failure into one that names the database read
// (`named`, as Named gives it) and says what to check. A missing table
// keeps its number, so that a caller can look for the table only then: on
// a locked database the look would wait as long again.
template <class Step>
void ReadNaming(Step step, const std::string& named, std::string_view check) {
  try {
    step();
  } catch (const automation::AutomationError& error) {
    Raise(error.number() == ado::kErrTableNotFound
              ? error.number()
              : automation::kErrPermissionDenied,
          "Could not read the " + named + ": " + error.description() + " " +
              std::string(check));
  }
}

class Row {
 public:
  explicit Row(const ado::Statement& statement) : statement_(statement) {}
  std::string Text(int column) const {
    return std::string(statement_.Text(column));
  }
  int64_t Number(int column) const { return statement_.Integer(column); }
  bool IsNull(int column) const {
    return statement_.Type(column) == ado::ColumnType::kNull;
  }

 private:
  const ado::Statement& statement_;
};

// One report database of the reading session.
class Database {
 public:
  Database(ado::Session& session, std::string path, std::string named)
      : session_(session), path_(std::move(path)), named_(std::move(named)) {
    Guarded([&] { schema_ = session_.Attach(path_); });
  }

  void ForEachRow(const std::string& sql,
                  const std::function<void(const Row&)>& on_row) {
    Guarded([&] {
      std::unique_ptr<ado::Statement> statement =
          session_.Prepare(sql, schema_);
      while (statement->Step()) on_row(Row(*statement));
    });
  }

 private:
  template <class Step>
  void Guarded(Step step) {
    ReadNaming(step, named_,
               "Check that it is readable and was made by 'velnor "
               "init-db' for this server and service.");
  }

  ado::Session& session_;
  std::string path_;
  std::string named_;
  std::string schema_;
};

// A site's counts while the tables are read.
struct SiteTally {
  std::string name;
  std::map<int64_t, Bucket> weekdays;  // by Sort Field
  std::map<int64_t, Bucket> months;
  std::array<int64_t, 24> hours{};
  std::map<int64_t, StatusCount> statuses;  // by Status code
  std::unordered_map<std::string, int64_t> url_hits;
  std::vector<int64_t> runs;
  std::vector<DayCount> days;
  std::vector<statistics::DayFigures> statistics;
};

class Tally {
 public:
  explicit Tally(const std::string& site_column)
      : site_column_("\"" + site_column + "\"") {}

  // The site of a row (columns 0 and 1: Identifier and the site name).
  SiteTally& SiteOf(const Row& row) {
    SiteTally& site = sites_[row.Text(0)];
    std::string name = row.Text(1);
    if (!name.empty()) site.name = std::move(name);
    return site;
  }
  std::string Select(const std::string& columns, const char* table) const {
    return "SELECT \"Identifier\", " + site_column_ + ", " + columns +
           " FROM \"" + table + "\" ORDER BY rowid";
  }
  std::map<std::string, SiteTally>& sites() { return sites_; }

 private:
  std::string site_column_;
  std::map<std::string, SiteTally> sites_;
};

// Adds a row of the day-of-week or month table: columns 2 URL, 3 hits,
// 4 Sort Field, 5 bucket name. The first name seen names the bucket.
void AddBucketRow(const Row& row, std::map<int64_t, Bucket>& buckets) {
  Bucket& bucket = buckets[row.Number(4)];
  if (bucket.hits == 0 && bucket.label.empty()) {
    bucket.sort = row.Number(4);
    bucket.label = row.Text(5);
  }
  bucket.hits += row.Number(3);
}

void ReadDayOfWeek(Database& db, Tally& tally) {
  db.ForEachRow(tally.Select("\"URL\", \"No of Hits\", \"Sort Field\", "
                             "\"Day of week\"",
                             "tblGeneral"),
                [&](const Row& row) {
                  SiteTally& site = tally.SiteOf(row);
                  AddBucketRow(row, site.weekdays);
                  site.url_hits[row.Text(2)] += row.Number(3);
                });
}

void ReadMonths(Database& db, Tally& tally) {
  db.ForEachRow(
      tally.Select("\"URL\", \"No of Hits\", \"Sort Field\", \"Months\"",
                   "tblGeneral"),
      [&](const Row& row) { AddBucketRow(row, tally.SiteOf(row).months); });
}

void ReadHoursAndRuns(Database& db, Tally& tally) {
  db.ForEachRow(tally.Select("\"Hours\", \"No of Hits\"", "tblGeneral"),
                [&](const Row& row) {
                  SiteTally& site = tally.SiteOf(row);
                  int64_t hour = row.Number(2);
                  if (!row.IsNull(2) && hour >= 0 && hour < 24) {
                    site.hours[static_cast<size_t>(hour)] += row.Number(3);
                  }
                });
  db.ForEachRow(
      tally.Select("\"No of Hits\"", "tblTotalAccess"),
      [&](const Row& row) { tally.SiteOf(row).runs.push_back(row.Number(2)); });
}

void ReadStatuses(Database& db, Tally& tally) {
  db.ForEachRow(tally.Select("\"Status code\", COALESCE(\"Sort Field\", 100), "
                             "\"Status\", \"No of Hits\"",
                             "tblGeneral"),
                [&](const Row& row) {
                  SiteTally& site = tally.SiteOf(row);
                  StatusCount& status = site.statuses[row.Number(2)];
                  if (status.label.empty() && status.hits == 0) {
                    status.code = row.Number(2);
                    status.sort = row.Number(3);
                    status.label = row.Text(4);
                  }
                  status.hits += row.Number(5);
                });
}

// The standard buckets 1 to `count` (weekdays or months) labelled by `name`,
// with any others the table holds.
std::vector<Bucket> FullBuckets(std::map<int64_t, Bucket> buckets, int count,
                                std::string (*name)(int)) {
  for (int sort = 1; sort <= count; ++sort) {
    auto [it, added] = buckets.try_emplace(sort, Bucket{sort, name(sort), 0});
    if (!added && it->second.label.empty()) it->second.label = name(sort);
  }
  std::vector<Bucket> result;
  for (auto& [sort, bucket] : buckets) result.push_back(std::move(bucket));
  return result;
}

// The hits of every spelling of one page.
struct Page {
  std::string spelling;
  int64_t spelling_hits = 0;
  int64_t hits = 0;
};

// The URLs that `keep` accepts, spellings of one page added up, the
// kTopUrlCount with most hits first.
template <class Keep>
std::vector<UrlCount> TopUrls(
    const std::unordered_map<std::string, int64_t>& url_hits, Keep keep) {
  std::unordered_map<std::string, Page> pages;
  for (const auto& [url, hits] : url_hits) {
    if (!keep(url)) continue;
    // ASCII letters folded, as SQLite's NOCASE compares.
    Page& page = pages[automation::AsciiLowered(url)];
    page.hits += hits;
    if (page.spelling_hits < hits ||
        (page.spelling_hits == hits && url < page.spelling)) {
      page.spelling = url;
      page.spelling_hits = hits;
    }
  }
  std::vector<UrlCount> urls;
  for (auto& [key, page] : pages) {
    urls.push_back({std::move(page.spelling), page.hits});
  }
  auto by_hits = [](const UrlCount& a, const UrlCount& b) {
    return a.hits != b.hits ? a.hits > b.hits : a.url < b.url;
  };
  size_t keep_count = std::min(urls.size(), kTopUrlCount);
  std::partial_sort(urls.begin(), urls.begin() + static_cast<long>(keep_count),
                    urls.end(), by_hits);
  urls.resize(keep_count);
  return urls;
}

// An FTP log names a file or folder as a path from the site's root; the
// other entries are the arguments of commands such as USER.
bool IsPath(std::string_view url) { return url.starts_with('/'); }

SiteReport Finish(const std::string& identifier, SiteTally& tally,
                  bool is_ftp) {
  SiteReport site;
  site.identifier = identifier;
  site.name = std::move(tally.name);
  site.weekdays =
      FullBuckets(std::move(tally.weekdays), 7, automation::WeekdayName);
  site.months = FullBuckets(std::move(tally.months), 12, automation::MonthName);
  site.hours = tally.hours;
  for (auto& [code, status] : tally.statuses) {
    site.statuses.push_back(std::move(status));
  }
  std::stable_sort(site.statuses.begin(), site.statuses.end(),
                   [](const StatusCount& a, const StatusCount& b) {
                     return a.sort < b.sort;
                   });
  if (is_ftp) {
    site.top_urls = TopUrls(tally.url_hits, IsPath);
    site.commands_without_path = TopUrls(
        tally.url_hits, [](std::string_view url) { return !IsPath(url); });
  } else {
    site.top_urls =
        TopUrls(tally.url_hits, [](std::string_view) { return true; });
  }
  site.runs = std::move(tally.runs);
  for (int64_t hits : site.runs) site.runs_total += hits;
  site.days = std::move(tally.days);
  site.statistics = std::move(tally.statistics);
  return site;
}

bool IsNumber(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// Site identifiers are numbers kept as text: "2" comes before "10".
bool IdentifierLess(const SiteReport& a, const SiteReport& b) {
  bool a_number = IsNumber(a.identifier);
  bool b_number = IsNumber(b.identifier);
  if (a_number != b_number) return a_number;
  if (!a_number) return a.identifier < b.identifier;
  std::string_view x = a.identifier, y = b.identifier;
  x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
  y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
  if (x.size() != y.size()) return x.size() < y.size();
  return x != y ? x < y : a.identifier < b.identifier;
}

// A database the folder may hold beside the four (the ledger, the
// statistics), joined when it is there; `what` names it in errors.
class JoinedWhenThere {
 public:
  using Reader = std::function<void(ado::Session&, const std::string&)>;

  JoinedWhenThere(ado::Session& session, std::string path, std::string named,
                  const std::function<bool()>& exists)
      : session_(session), path_(std::move(path)), named_(std::move(named)) {
    bool there = false;
    Guarded([&] { there = exists(); });
    if (there) Guarded([&] { schema_ = session_.Attach(path_); });
  }

  bool exists() const { return !schema_.empty(); }

  // Runs `read(session, schema)` on the joined database, a failure naming
  // the file.
  void Read(const Reader& read) {
    Guarded([&] { read(session_, schema_); });
  }

 private:
  void Guarded(const std::function<void()>& step) {
    ReadNaming(step, named_,
               "Check that it is readable; velnor collect makes it.");
  }

  ado::Session& session_;
  std::string path_;
  std::string named_;
  std::string schema_;
};

// The ledger's counted days of each site into `tally`; its runs into
// `runs`.
void ReadLedger(JoinedWhenThere& joined, Tally& tally,
                std::vector<ledger::RunRow>& runs) {
  ledger::LedgerContents contents;
  joined.Read([&](ado::Session& session, const std::string& schema) {
    contents = ledger::LedgerStore(session, schema).ReadRunsAndDays();
  });
  const ledger::CountedDays counted(contents);
  for (const std::string& site : counted.Sites()) {
    std::vector<DayCount>& days = tally.sites()[site].days;
    for (const auto& [day, count] : counted.DaysOf(site)) {
      DayCount& shown = days.emplace_back();
      shown.day = day;
      shown.hits = count.hits;
      std::copy(std::begin(count.hits_by_class), std::end(count.hits_by_class),
                shown.hits_by_class);
      shown.complete = count.complete;
    }
  }
  runs = std::move(contents.runs);
}

// Each site's days of statistics into `tally`.
void ReadStatistics(JoinedWhenThere& joined, Tally& tally) {
  std::vector<statistics::DayFigures> days;
  joined.Read([&](ado::Session& session, const std::string& schema) {
    days = statistics::StatisticsStore(session, schema).ReadDays();
  });
  for (statistics::DayFigures& day : days) {
    tally.sites()[day.site].statistics.push_back(std::move(day));
  }
}

std::string DatabasePath(const std::string& db_dir, ReportKind kind,
                         std::string_view server, bool is_ftp) {
  return db_dir + "/" + ReportDatabaseFileName(kind, server, is_ftp);
}

}  // namespace

std::vector<std::string> MissingReportDatabases(const std::string& db_dir,
                                                std::string_view server,
                                                bool is_ftp) {
  std::vector<std::string> missing;
  for (ReportKind kind : kReportKinds) {
    std::string path = DatabasePath(db_dir, kind, server, is_ftp);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      missing.push_back(path);
    }
  }
  return missing;
}

Report LoadReport(const std::string& db_dir, std::string_view server,
                  bool is_ftp) {
  std::vector<std::string> missing =
      MissingReportDatabases(db_dir, server, is_ftp);
  if (!missing.empty()) {
    Raise(automation::kErrFileNotFound,
          "File not found: the report database '" + missing.front() +
              "' does not exist. Make the databases with 'velnor init-db'.");
  }
  return LoadReport(ReportLocation{db_dir, ""}, server, is_ftp);
}

Report LoadReport(const ReportLocation& location, std::string_view server,
                  bool is_ftp) {
  Tally tally(std::string(SiteColumn(is_ftp)));
  // The four files are read in one read transaction, joined in the order a
  // run commits them: the report shows whole runs only.
  auto session =
      ado::Session::BeginReading(kBusyTimeoutMs, location.MakeEngine());
  auto joined = [&](ReportKind kind) {
    const std::string path = location.DatabasePath(kind, server, is_ftp);
    return Database(*session, path,
                    Named(location, "report database", "report schema", path));
  };
  Database day = joined(ReportKind::kDayOfWeek);
  Database month = joined(ReportKind::kHitsByMonth);
  Database hour = joined(ReportKind::kHitsByHour);
  Database status = joined(ReportKind::kHitsByStatus);
  // The ledger after the four databases, and the statistics after it, as
  // a run joins them: their days and the counts are one committed state.
  const std::string ledger_path = location.LedgerPath(server, is_ftp);
  JoinedWhenThere ledger(
      *session, ledger_path,
      Named(location, "collection ledger", "collection ledger", ledger_path),
      [&] { return location.LedgerExists(server, is_ftp); });
  const std::string statistics_path = location.StatisticsPath(server, is_ftp);
  JoinedWhenThere statistics(
      *session, statistics_path,
      Named(location, "statistics database", "statistics schema",
            statistics_path),
      [&] { return location.StatisticsExist(server, is_ftp); });
  ReadDayOfWeek(day, tally);
  ReadMonths(month, tally);
  ReadStatuses(status, tally);
  // Last, so that the totals, appended after a site's tallies, give the
  // site name most recently written.
  ReadHoursAndRuns(hour, tally);
  Report report;
  report.has_ledger = ledger.exists();
  if (report.has_ledger) ReadLedger(ledger, tally, report.runs);
  report.has_statistics = statistics.exists();
  if (report.has_statistics) ReadStatistics(statistics, tally);
  session->Commit();

  report.server = std::string(server);
  report.is_ftp = is_ftp;
  for (auto& [identifier, site] : tally.sites()) {
    report.sites.push_back(Finish(identifier, site, is_ftp));
  }
  std::sort(report.sites.begin(), report.sites.end(), IdentifierLess);
  return report;
}

}  // namespace velnor::reportdb
