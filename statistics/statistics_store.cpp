// The statistics database's tables and statements, with bound values only:
// site names, addresses and URLs are the servers', never SQL.
#include "statistics/statistics_store.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "ledger/ledger_store.h"
#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"

namespace velnor::statistics {
namespace {

using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;
using Key = RunStatistics::Key;

constexpr std::string_view kPrefix = "velnor_statistics_";

// One row per run, site and day: its visitors as VisitorSet::Pack made.
// The earlier design's table of the same name held one row per client and
// day, its address in a column `client`.
constexpr char kVisitorsColumns[] =
    "(run_id BIGINT NOT NULL, site TEXT NOT NULL, log_day TEXT NOT NULL, "
    "clients TEXT NOT NULL)";

std::string Number(int64_t value) { return std::to_string(value); }

// The columns that say which run, site and day a row is of.
Row KeyRow(int64_t run_id, const Key& key) {
  return {Number(run_id), key.first, ledger::DayText(key.second)};
}

Row TotalsRow(int64_t run_id, const Key& key, const DayStatistics& day) {
  Row row = KeyRow(run_id, key);
  row.push_back(Number(day.hits));
  for (int64_t hits : day.hits_by_class) row.push_back(Number(hits));
  for (const Sum* sum :
       {&day.bytes_sent, &day.bytes_received, &day.time_taken_ms}) {
    row.push_back(sum->hits > 0 ? std::optional(Number(sum->total))
                                : std::nullopt);
    row.push_back(Number(sum->hits));
  }
  row.push_back(Number(day.client_hits));
  row.push_back(Number(day.session_hits));
  return row;
}

// Keys of ReadDays' figures, so that each query's rows find their day.
using DayIndex = std::map<std::pair<std::string, Day>, DayFigures*>;

DayFigures* Find(const DayIndex& index, const ado::Statement& row) {
  auto it =
      index.find({std::string(row.Text(0)), ledger::ParseDayText(row.Text(1))});
  return it == index.end() ? nullptr : it->second;
}

// Whether the database holds the earlier design's visitors, one row per
// client and day: its column of addresses is there.
bool HoldsPerClientRows(ado::Session& session, const std::string& schema) {
  return session.EqualityOf(schema, "day_visitors", "client") !=
         ado::TextEquality::kOther;
}

// The visitors of each day of `index`, the union over every run that
// counted it, read from the rows of the database's design.
std::map<DayFigures*, VisitorSet> ReadVisitors(ado::Session& session,
                                               const std::string& schema,
                                               const DayIndex& index) {
  std::map<DayFigures*, VisitorSet> visitors;
  if (HoldsPerClientRows(session, schema)) {
    auto clients = session.Prepare(
        "SELECT site, log_day, client FROM day_visitors", schema);
    while (clients->Step()) {
      if (DayFigures* day = Find(index, *clients)) {
        visitors[day].Insert(clients->Text(2));
      }
    }
    return visitors;
  }
  auto sets = session.Prepare("SELECT site, log_day, clients FROM day_visitors",
                              schema);
  while (sets->Step()) {
    DayFigures* day = Find(index, *sets);
    if (day != nullptr && !visitors[day].MergePacked(sets->Text(2))) {
      automation::Raise(
          automation::kErrPermissionDenied,
          "The visitors of site " + day->site + " on " +
              ledger::DayText(day->day) + " in '" + session.PathOf(schema) +
              "' cannot be read: the row is not one velnor wrote. Restore "
              "the statistics database from a backup.");
    }
  }
  return visitors;
}

// The kTopUrls largest of `values`, ties by URL.
std::vector<UrlValue> Top(std::vector<UrlValue> values) {
  std::erase_if(values, [](const UrlValue& v) { return v.value == 0; });
  auto larger = [](const UrlValue& a, const UrlValue& b) {
    return a.value != b.value ? a.value > b.value : a.url < b.url;
  };
  const size_t keep = std::min(values.size(), kTopUrls);
  std::partial_sort(values.begin(),
                    values.begin() + static_cast<std::ptrdiff_t>(keep),
                    values.end(), larger);
  values.resize(keep);
  return values;
}

// The indexes an earlier design made on each table, which only slowed the
// writes down; dropped from a schema that has them.
void DropEarlierIndexes(const std::string& url, const std::string& schema) {
  std::string sql = "SET client_min_messages = warning;\n";
  for (const ledger::LedgerTable& table : StatisticsTables()) {
    sql += "DROP INDEX IF EXISTS " + ado::pg::QuoteIdentifier(schema) + "." +
           std::string(table.name) + "_day;\n";
  }
  std::unique_ptr<ado::pg::PgConnection> db =
      ado::pg::ConnectForSchemas(url, "velnor statistics");
  try {
    db->Exec(sql);
  } catch (const ado::pg::PgError& error) {
    ado::pg::RaiseSchemaFailure(
        url, "bring the statistics schema " + schema + " to the current design",
        error);
  }
}

}  // namespace

std::string StatisticsFileName(std::string_view server, bool is_ftp) {
  return std::string(kPrefix) + std::string(server) +
         (is_ftp ? "_ftp.sqlite" : "_web.sqlite");
}

std::string StatisticsSchemaName(std::string_view server, bool is_ftp) {
  return ado::PostgresSchemaOf(StatisticsFileName(server, is_ftp));
}

const std::vector<ledger::LedgerTable>& StatisticsTables() {
  // No key over texts: PostgreSQL refuses an index entry past a few
  // kilobytes, and a URL may be longer. Each run writes a day's rows once.
  // No other index either: the report reads every row, grouped by site and
  // day, and an index of a few values over a run's rows costs more than
  // writing the rows.
  static const std::string kVisitors =
      std::string("CREATE TABLE day_visitors ") + kVisitorsColumns;
  static const std::vector<ledger::LedgerTable> kTables = {
      {"day_totals",
       {"CREATE TABLE day_totals ("
        "run_id BIGINT NOT NULL, site TEXT NOT NULL, "
        "log_day TEXT NOT NULL, "  // YYYY-MM-DD, log time
        "hits BIGINT NOT NULL, hits_1xx BIGINT NOT NULL, "
        "hits_2xx BIGINT NOT NULL, hits_3xx BIGINT NOT NULL, "
        "hits_4xx BIGINT NOT NULL, hits_5xx BIGINT NOT NULL, "
        "bytes_sent BIGINT, "  // null: no hit logged sc-bytes
        "bytes_sent_hits BIGINT NOT NULL, "
        "bytes_received BIGINT, bytes_received_hits BIGINT NOT NULL, "
        "time_taken_ms BIGINT, time_taken_hits BIGINT NOT NULL, "
        "client_hits BIGINT NOT NULL, session_hits BIGINT NOT NULL, "
        "PRIMARY KEY (run_id, site, log_day))"}},
      {"day_visitors", {kVisitors}},
      {"day_sessions",
       {"CREATE TABLE day_sessions (run_id BIGINT NOT NULL, "
        "site TEXT NOT NULL, log_day TEXT NOT NULL, ftp_session TEXT NOT "
        "NULL)"}},
      {"day_time_taken",
       {"CREATE TABLE day_time_taken (run_id BIGINT NOT NULL, "
        "site TEXT NOT NULL, log_day TEXT NOT NULL, ms BIGINT NOT NULL, "
        "hits BIGINT NOT NULL)"}},
      {"day_urls",
       {"CREATE TABLE day_urls (run_id BIGINT NOT NULL, "
        "site TEXT NOT NULL, log_day TEXT NOT NULL, url TEXT NOT NULL, "
        "hits_404 BIGINT NOT NULL, hits_5xx BIGINT NOT NULL, "
        "time_taken_ms BIGINT NOT NULL)"}},
  };
  return kTables;
}

bool CreateStatistics(const std::string& path) {
  return ledger::CreateTablesFile(path, StatisticsTables(), "statistics");
}

bool CreatePgStatistics(const std::string& url, std::string_view server,
                        bool is_ftp) {
  const std::string schema = StatisticsSchemaName(server, is_ftp);
  if (ledger::CreatePgTables(url, schema, StatisticsTables(), "statistics")) {
    return true;
  }
  DropEarlierIndexes(url, schema);
  return false;
}

bool PgStatisticsExist(const std::string& url, std::string_view server,
                       bool is_ftp) {
  return ledger::PgSchemaExists(url, StatisticsSchemaName(server, is_ftp),
                                "statistics");
}

void StatisticsStore::Append(std::string_view table,
                             const std::vector<std::string>& columns,
                             const Rows& rows) {
  if (rows.empty() || session_.CopyRows(schema_, table, columns, rows)) return;
  std::string names, marks;
  for (const std::string& column : columns) {
    names += (names.empty() ? "" : ", ") + column;
    marks += marks.empty() ? "?" : ", ?";
  }
  auto insert = session_.Prepare("INSERT INTO " + std::string(table) + " (" +
                                     names + ") VALUES (" + marks + ")",
                                 schema_);
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (row[i]) {
        insert->BindText(index, *row[i]);
      } else {
        insert->BindNull(index);
      }
    }
    insert->Step();
    insert->Reset();
  }
}

std::optional<StatisticsStore::TableRows> StatisticsStore::Upgraded(
    std::string_view table) {
  if (table != "day_visitors" || !HoldsPerClientRows(session_, schema_)) {
    return std::nullopt;
  }
  using RunDay = std::tuple<int64_t, std::string, std::string>;
  std::map<RunDay, VisitorSet> sets;
  auto clients = session_.Prepare(
      "SELECT run_id, site, log_day, client FROM day_visitors", schema_);
  while (clients->Step()) {
    sets[RunDay(clients->Integer(0), clients->Text(1), clients->Text(2))]
        .Insert(clients->Text(3));
  }
  TableRows converted{{"run_id", "site", "log_day", "clients"}, {}};
  for (const auto& [run_day, set] : sets) {
    const auto& [run_id, site, log_day] = run_day;
    converted.rows.push_back({Number(run_id), site, log_day, set.Pack()});
  }
  return converted;
}

bool StatisticsStore::Upgrade() {
  std::optional<TableRows> visitors = Upgraded("day_visitors");
  if (!visitors) return false;
  // Named with their database: the engines qualify the tables of queries
  // only.
  const std::string table = "[" + schema_ + "].day_visitors";
  session_.Prepare("DROP TABLE " + table, schema_)->Step();
  session_.Prepare("CREATE TABLE " + table + " " + kVisitorsColumns, schema_)
      ->Step();
  Append("day_visitors", visitors->columns, visitors->rows);
  return true;
}

void StatisticsStore::Write(int64_t run_id, const RunStatistics& statistics) {
  Upgrade();
  Rows totals, visitors, sessions, times, urls;
  for (const auto& [key, day] : statistics.days()) {
    totals.push_back(TotalsRow(run_id, key, day));
    if (!day.visitors.empty()) {
      visitors.push_back(KeyRow(run_id, key));
      visitors.back().push_back(day.visitors.Pack());
    }
    for (const std::string& session : day.sessions) {
      sessions.push_back(KeyRow(run_id, key));
      sessions.back().push_back(session);
    }
    day.time_taken_histogram.ForEach([&, &key = key](int64_t ms, int64_t hits) {
      times.push_back(KeyRow(run_id, key));
      times.back().push_back(Number(ms));
      times.back().push_back(Number(hits));
    });
    for (const auto& [url, figures] : day.urls) {
      urls.push_back(KeyRow(run_id, key));
      urls.back().push_back(url);
      urls.back().push_back(Number(figures.not_found));
      urls.back().push_back(Number(figures.server_errors));
      urls.back().push_back(Number(figures.time_taken_ms));
    }
  }
  const std::vector<std::string> key = {"run_id", "site", "log_day"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), key.begin(), key.end());
    return more;
  };
  Append("day_totals",
         with({"hits", "hits_1xx", "hits_2xx", "hits_3xx", "hits_4xx",
               "hits_5xx", "bytes_sent", "bytes_sent_hits", "bytes_received",
               "bytes_received_hits", "time_taken_ms", "time_taken_hits",
               "client_hits", "session_hits"}),
         totals);
  Append("day_visitors", with({"clients"}), visitors);
  Append("day_sessions", with({"ftp_session"}), sessions);
  Append("day_time_taken", with({"ms", "hits"}), times);
  Append("day_urls", with({"url", "hits_404", "hits_5xx", "time_taken_ms"}),
         urls);
}

std::vector<DayFigures> StatisticsStore::ReadDays() {
  std::vector<DayFigures> days;
  auto totals = session_.Prepare(
      "SELECT site, log_day, CAST(SUM(hits) AS BIGINT), "
      "CAST(SUM(hits_1xx) AS BIGINT), CAST(SUM(hits_2xx) AS BIGINT), "
      "CAST(SUM(hits_3xx) AS BIGINT), CAST(SUM(hits_4xx) AS BIGINT), "
      "CAST(SUM(hits_5xx) AS BIGINT), "
      "CAST(SUM(COALESCE(bytes_sent, 0)) AS BIGINT), "
      "CAST(SUM(bytes_sent_hits) AS BIGINT), "
      "CAST(SUM(COALESCE(bytes_received, 0)) AS BIGINT), "
      "CAST(SUM(bytes_received_hits) AS BIGINT), "
      "CAST(SUM(COALESCE(time_taken_ms, 0)) AS BIGINT), "
      "CAST(SUM(time_taken_hits) AS BIGINT), "
      "CAST(SUM(client_hits) AS BIGINT), CAST(SUM(session_hits) AS BIGINT) "
      "FROM day_totals GROUP BY site, log_day ORDER BY site, log_day",
      schema_);
  std::vector<std::pair<int64_t, int64_t>> client_and_session_hits;
  while (totals->Step()) {
    DayFigures& day = days.emplace_back();
    day.site = std::string(totals->Text(0));
    day.day = ledger::ParseDayText(totals->Text(1));
    day.hits = totals->Integer(2);
    for (int i = 0; i < 5; ++i) day.hits_by_class[i] = totals->Integer(3 + i);
    auto figure = [&](int column) -> std::optional<Figure> {
      const int64_t hits = totals->Integer(column + 1);
      if (hits == 0) return std::nullopt;
      return Figure{totals->Integer(column), hits};
    };
    day.bytes_sent = figure(8);
    day.bytes_received = figure(10);
    if (std::optional<Figure> time = figure(12)) {
      day.time_taken = TimeTaken{
          0, 0, 0,
          static_cast<double>(time->value) / static_cast<double>(time->hits),
          time->hits};
    }
    client_and_session_hits.emplace_back(totals->Integer(14),
                                         totals->Integer(15));
  }
  DayIndex index;
  for (size_t i = 0; i < days.size(); ++i) {
    index[{days[i].site, days[i].day}] = &days[i];
    // A day with hits that logged an address has that many visitors or
    // more than none; the count comes from the sets below.
    if (client_and_session_hits[i].first > 0) {
      days[i].visitors = Figure{0, client_and_session_hits[i].first};
    }
    if (client_and_session_hits[i].second > 0) {
      days[i].sessions = Figure{0, client_and_session_hits[i].second};
    }
  }
  auto sessions = session_.Prepare(
      "SELECT site, log_day, COUNT(DISTINCT ftp_session) FROM day_sessions "
      "GROUP BY site, log_day",
      schema_);
  while (sessions->Step()) {
    DayFigures* day = Find(index, *sessions);
    if (day != nullptr && day->sessions) {
      day->sessions->value = sessions->Integer(2);
    }
  }
  for (auto& [day, visitors] : ReadVisitors(session_, schema_, index)) {
    if (day->visitors) {
      day->visitors->value = static_cast<int64_t>(visitors.size());
    }
  }
  std::map<DayFigures*, std::map<int64_t, int64_t>> histograms;
  auto times = session_.Prepare(
      "SELECT site, log_day, ms, CAST(SUM(hits) AS BIGINT) FROM "
      "day_time_taken GROUP BY site, log_day, ms",
      schema_);
  while (times->Step()) {
    if (DayFigures* day = Find(index, *times)) {
      histograms[day][times->Integer(2)] += times->Integer(3);
    }
  }
  for (auto& [day, histogram] : histograms) {
    if (!day->time_taken) continue;
    TimeTaken& time = *day->time_taken;
    time.p50 = NearestRank(histogram, time.hits, 50);
    time.p95 = NearestRank(histogram, time.hits, 95);
    time.p99 = NearestRank(histogram, time.hits, 99);
  }
  std::map<DayFigures*, std::array<std::vector<UrlValue>, 3>> url_lists;
  auto urls = session_.Prepare(
      "SELECT site, log_day, url, CAST(SUM(hits_404) AS BIGINT), "
      "CAST(SUM(hits_5xx) AS BIGINT), CAST(SUM(time_taken_ms) AS BIGINT) "
      "FROM day_urls GROUP BY site, log_day, url",
      schema_);
  while (urls->Step()) {
    if (DayFigures* day = Find(index, *urls)) {
      auto& lists = url_lists[day];
      for (int i = 0; i < 3; ++i) {
        lists[i].push_back({std::string(urls->Text(2)), urls->Integer(3 + i)});
      }
    }
  }
  for (auto& [day, lists] : url_lists) {
    day->top_not_found = Top(std::move(lists[0]));
    day->top_server_errors = Top(std::move(lists[1]));
    day->top_time_taken = Top(std::move(lists[2]));
  }
  return days;
}

}  // namespace velnor::statistics
