// Where a server's statistics live and how they are written and read: one
// database per server and service beside the report databases and the
// ledger (an SQLite file in a folder, a schema in a PostgreSQL store),
// written through the run's own session so that its rows are kept with the
// run's counts and ledger rows or not at all.
//
// Its tables hold one set of rows per run that counted (run_id is the
// ledger's), never changed afterwards; a day counted by two runs (a day in
// progress, then its rest) is the sum of both, with visitors and sessions
// the distinct values of both and the time taken their combined histogram,
// so the figures stay exact however a day was split:
//
// day_totals      per run, site and day: hits, hits per status class, the
//                 bytes sent and received and the time taken in all, with
//                 the hits that logged each (0: the field is absent), and
//                 the hits that logged a client address or FTP session.
// day_visitors    per run, site and day: its distinct client addresses,
//                 packed into one text (VisitorSet::Pack).
// day_sessions    per run, site and day: each distinct FTP session.
// day_time_taken  per run, site and day that logged the time taken: its
//                 hits per time taken in ms, packed (PackTimes).
// day_urls        per run, site and day: each URL's (cs-uri-stem as
//                 logged) 404s, 5xx and time taken, for URLs with one not
//                 zero, packed (PackUrls).
//
// The SQL is plain, so that either engine takes the same statements.
//
// A database of the earlier design held one row per item of a run's site
// and day: in day_visitors per client (its address in `client`), in
// day_time_taken per ms value (`ms`, `hits`) and in day_urls per URL
// (`url` and its figures). It reads as it did; Upgrade, which every Write
// runs first, brings each such table to this design.
#ifndef VELNOR_STATISTICS_STATISTICS_STORE_H_
#define VELNOR_STATISTICS_STATISTICS_STORE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/ledger_schema.h"
#include "platform/ado/session.h"
#include "statistics/day_statistics.h"

namespace velnor::statistics {

// "velnor_statistics_SRV1_web.sqlite" or "..._ftp.sqlite".
std::string StatisticsFileName(std::string_view server, bool is_ftp);
// Its schema in a PostgreSQL store: "velnor_statistics_srv1_web".
std::string StatisticsSchemaName(std::string_view server, bool is_ftp);

// The tables, each after those it refers to.
const std::vector<ledger::LedgerTable>& StatisticsTables();

// Makes the statistics file `path` when it does not exist, whole or not
// at all (see ledger::CreateTablesFile); true when it made it.
bool CreateStatistics(const std::string& path);
// Makes the statistics schema of `server`'s service in the store `url`
// when it does not exist (see ledger::CreatePgTables); true when it did.
// One that exists loses the indexes an earlier design gave its tables.
// Either way its packed texts are then kept uncompressed (see
// KeepPgPackedUncompressed). One catalog query tells what differs from
// the current design; a schema of it is sent no other statement.
bool CreatePgStatistics(const std::string& url, std::string_view server,
                        bool is_ftp);
// Has the server keep the packed texts of that schema's tables out of line
// and uncompressed, where they are not yet (a schema of an earlier design,
// or tables made again by StatisticsStore::Upgrade). Raises
// automation::AutomationError naming the store when it cannot.
void KeepPgPackedUncompressed(const std::string& url, std::string_view server,
                              bool is_ftp);
// Whether the store `url` holds that schema. Raises
// automation::AutomationError naming the store when it cannot be asked.
bool PgStatisticsExist(const std::string& url, std::string_view server,
                       bool is_ftp);

// The most URLs each top list of a day holds.
inline constexpr size_t kTopUrls = 10;

struct UrlValue {
  std::string url;
  int64_t value = 0;
};

struct TimeTaken {
  int64_t p50 = 0;
  int64_t p95 = 0;
  int64_t p99 = 0;
  double mean = 0;
  int64_t hits = 0;  // the hits that logged it
};

// A figure and the hits that logged its field; nothing when none did.
struct Figure {
  int64_t value = 0;
  int64_t hits = 0;
};

// One site's day, over every run that counted it.
struct DayFigures {
  std::string site;
  Day day = 0;
  int64_t hits = 0;
  std::array<int64_t, 5> hits_by_class = {};  // 1xx .. 5xx
  std::optional<Figure> bytes_sent;
  std::optional<Figure> bytes_received;
  std::optional<Figure> visitors;  // distinct client addresses
  std::optional<Figure> sessions;  // distinct FTP sessions
  std::optional<TimeTaken> time_taken;
  // At most kTopUrls each, largest first, ties by URL in byte order; only
  // URLs with a value that is not zero.
  std::vector<UrlValue> top_not_found;
  std::vector<UrlValue> top_server_errors;
  std::vector<UrlValue> top_time_taken;  // total ms
};

// The rows a run adds to each table, made from its statistics alone, so
// that a run can make them while the server is busy with its counts.
struct RunRows {
  struct Table {
    std::string_view name;
    std::vector<std::string> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;
  };
  std::vector<Table> tables;
};

// The rows of run `run_id` (the ledger's) for `statistics`; touches no
// database.
RunRows PackRun(int64_t run_id, const RunStatistics& statistics);

class StatisticsStore {
 public:
  // The statistics database joined to `session` as `schema`. Failures of
  // every member raise automation::AutomationError.
  StatisticsStore(ado::Session& session, std::string schema)
      : session_(session), schema_(std::move(schema)) {}

  // Appends the rows of a run (PackRun), upgrading the database first.
  void Write(const RunRows& packed);
  // Converts each table of the earlier design into this one's rows, the
  // same figures of the same runs, sites and days, in the session's
  // transaction; true when there were such rows to convert.
  bool Upgrade();

  struct TableRows {
    std::vector<std::string> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;
  };
  // The rows `table` (of StatisticsTables) holds once Upgrade has run, for
  // a database that holds them in the earlier design; nothing when the
  // table is as stored. It changes nothing, so a copy can read a database
  // it may not write.
  std::optional<TableRows> Upgraded(std::string_view table);
  // Every site's days, by site and day, summed over the runs.
  std::vector<DayFigures> ReadDays();

 private:
  // Appends `rows` to `table`: in one bulk load where the engine has one,
  // else row by row through one prepared statement.
  void Append(std::string_view table, const std::vector<std::string>& columns,
              const std::vector<std::vector<std::optional<std::string>>>& rows);
  // Calls merge(day, packed) for each row of the packed table `table`
  // whose site and day `index` holds, the earlier design's rows packed
  // first; raises naming the row when merge finds it unreadable (false).
  void ReadPacked(
      std::string_view table,
      const std::map<std::pair<std::string, Day>, DayFigures*>& index,
      const std::function<bool(DayFigures&, std::string_view)>& merge);

  ado::Session& session_;
  std::string schema_;
};

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_STATISTICS_STORE_H_
