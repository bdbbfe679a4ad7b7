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
#include "statistics/packed_figures.h"

namespace velnor::statistics {
namespace {

using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;
using Key = RunStatistics::Key;

constexpr std::string_view kPrefix = "velnor_statistics_";

// The tables whose rows are one packed text per run, site and day. The
// earlier design of each held a row per item (client, ms value or URL) of
// a run's site and day, in the columns `earlier`.
struct PackedTable {
  std::string_view name;
  std::string_view columns;  // this design's, as CREATE TABLE takes them
  std::string_view packed;   // the column of the packed text
  std::string_view earlier;  // the earlier design's items, after the key
  std::string_view what;     // what the text holds, for messages
};

constexpr PackedTable kVisitors = {
    "day_visitors",
    "(run_id BIGINT NOT NULL, site TEXT NOT NULL, log_day TEXT NOT NULL, "
    "clients TEXT NOT NULL)",
    "clients", "client", "visitors"};
constexpr PackedTable kTimes = {
    "day_time_taken",
    "(run_id BIGINT NOT NULL, site TEXT NOT NULL, log_day TEXT NOT NULL, "
    "histogram TEXT NOT NULL)",
    "histogram", "ms, hits", "times taken"};
constexpr PackedTable kUrls = {
    "day_urls",
    "(run_id BIGINT NOT NULL, site TEXT NOT NULL, log_day TEXT NOT NULL, "
    "urls TEXT NOT NULL)",
    "urls", "url, hits_404, hits_5xx, time_taken_ms", "URL figures"};
constexpr std::array<const PackedTable*, 3> kPackedTables = {&kVisitors,
                                                             &kTimes, &kUrls};

const PackedTable* PackedTableNamed(std::string_view name) {
  for (const PackedTable* table : kPackedTables) {
    if (table->name == name) return table;
  }
  return nullptr;
}

std::string Number(int64_t value) { return std::to_string(value); }

std::unique_ptr<ado::pg::PgConnection> Connect(const std::string& url) {
  return ado::pg::ConnectForSchemas(url, "velnor statistics");
}

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

DayFigures* Find(const DayIndex& index, std::string_view site,
                 std::string_view day) {
  auto it = index.find({std::string(site), ledger::ParseDayText(day)});
  return it == index.end() ? nullptr : it->second;
}

DayFigures* Find(const DayIndex& index, const ado::Statement& row) {
  return Find(index, row.Text(0), row.Text(1));
}

// Whether the database holds `table` in its earlier design, a row per
// item: its text column of packed rows is not there. (Asked of that
// column, as the engines tell a text column's comparison only.)
bool HoldsEarlierRows(ado::Session& session, const std::string& schema,
                      const PackedTable& table) {
  return session.EqualityOf(schema, std::string(table.name),
                            std::string(table.packed)) ==
         ado::TextEquality::kOther;
}

[[noreturn]] void RaiseUnreadable(ado::Session& session,
                                  const std::string& schema,
                                  const PackedTable& table,
                                  std::string_view site, std::string_view day) {
  automation::Raise(
      automation::kErrPermissionDenied,
      "The " + std::string(table.what) + " of site " + std::string(site) +
          " on " + std::string(day) + " in '" + session.PathOf(schema) +
          "' cannot be read: the row is not one velnor wrote. Restore the "
          "statistics database from a backup.");
}

// What one run's site and day holds of each packed table, as the earlier
// design's rows are gathered into it.
struct EarlierItems {
  VisitorSet visitors;
  TimeHistogram times;
  UrlMap urls;
};

// Adds the item of an earlier design's row of `table` (its columns past
// the key, from 3 on) to `items`; false when it is not one velnor wrote.
bool AddEarlierItem(const PackedTable& table, const ado::Statement& row,
                    EarlierItems& items) {
  if (&table == &kVisitors) {
    items.visitors.Insert(row.Text(3));
  } else if (&table == &kTimes) {
    if (row.Integer(3) < 0 || row.Integer(4) < 0) return false;
    items.times.Add(row.Integer(3), row.Integer(4));
  } else {
    UrlFigures& url = items.urls[std::string(row.Text(3))];
    url.not_found += row.Integer(4);
    url.server_errors += row.Integer(5);
    url.time_taken_ms += row.Integer(6);
  }
  return true;
}

std::string PackItems(const PackedTable& table, const EarlierItems& items) {
  if (&table == &kVisitors) return items.visitors.Pack();
  if (&table == &kTimes) return PackTimes(items.times);
  return PackUrls(items.urls);
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

// What of a statistics schema differs from the current design.
struct SchemaLayout {
  bool exists = false;
  // The indexes an earlier design made on each table, which only slowed
  // the writes down.
  std::vector<std::string> earlier_indexes;
  // The packed text columns the server may still compress: a day's text is
  // tens of kilobytes, and compressing it costs the server more CPU time
  // per run (about 50 ms for a day's visitors of this log) than storing
  // and logging the bytes it would save.
  std::vector<const PackedTable*> compressed;
};

std::string EarlierIndexName(const ledger::LedgerTable& table) {
  return std::string(table.name) + "_day";
}

// The one catalog query that tells all of SchemaLayout, so that a
// collection into a schema of the current design asks once and writes
// nothing: a role with the rights of a run only, or a database that takes
// no writes, then meets no statement it would refuse. The names in it are
// velnor's own; the schema's is bound.
std::string LayoutQuery() {
  std::string indexes, columns;
  for (const ledger::LedgerTable& table : StatisticsTables()) {
    indexes += (indexes.empty() ? "'" : ", '") + EarlierIndexName(table) + "'";
  }
  for (const PackedTable* table : kPackedTables) {
    columns += (columns.empty() ? "('" : ", ('") + std::string(table->name) +
               "', '" + std::string(table->packed) + "')";
  }
  return "SELECT 'schema', NULL::text FROM pg_namespace WHERE nspname = $1 "
         "UNION ALL SELECT 'index', c.relname::text FROM pg_class c JOIN "
         "pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = $1 AND "
         "c.relkind = 'i' AND c.relname IN (" +
         indexes +
         ") UNION ALL SELECT 'compressed', c.relname::text FROM pg_attribute "
         "a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON "
         "n.oid = c.relnamespace WHERE n.nspname = $1 AND a.attstorage <> "
         "'e' AND (c.relname::text, a.attname::text) IN (" +
         columns + ")";
}

[[noreturn]] void RaiseUnchanged(const std::string& url,
                                 const std::string& schema,
                                 const ado::pg::PgError& error) {
  ado::pg::RaiseSchemaFailure(
      url, "bring the statistics schema " + schema + " to the current design",
      error);
}

SchemaLayout ReadLayout(ado::pg::PgConnection& db, const std::string& url,
                        const std::string& schema) {
  static const std::string kQuery = LayoutQuery();
  SchemaLayout layout;
  try {
    for (const ado::pg::Row& row : db.Query(kQuery, {schema})) {
      if (*row[0] == "schema") {
        layout.exists = true;
      } else if (*row[0] == "index") {
        layout.earlier_indexes.push_back(*row[1]);
      } else if (const PackedTable* table = PackedTableNamed(*row[1])) {
        layout.compressed.push_back(table);
      }
    }
  } catch (const ado::pg::PgError& error) {
    RaiseUnchanged(url, schema, error);
  }
  return layout;
}

// Drops the earlier indexes and keeps the packed texts out of line
// uncompressed, where `layout` says they are not so yet; sends nothing to
// a schema of the current design, so that it is not locked for nothing.
void BringToDesign(ado::pg::PgConnection& db, const std::string& url,
                   const std::string& schema, const SchemaLayout& layout) {
  const std::string quoted = ado::pg::QuoteIdentifier(schema);
  std::string sql;
  for (const std::string& index : layout.earlier_indexes) {
    sql += "DROP INDEX IF EXISTS " + quoted + "." +
           ado::pg::QuoteIdentifier(index) + ";\n";
  }
  for (const PackedTable* table : layout.compressed) {
    sql += "ALTER TABLE " + quoted + "." + std::string(table->name) +
           " ALTER COLUMN " + std::string(table->packed) +
           " SET STORAGE EXTERNAL;\n";
  }
  if (sql.empty()) return;
  try {
    db.Exec(sql);
  } catch (const ado::pg::PgError& error) {
    RaiseUnchanged(url, schema, error);
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
  auto create = [](const PackedTable& table) {
    return "CREATE TABLE " + std::string(table.name) + " " +
           std::string(table.columns);
  };
  // The tables hold views of their statements.
  static const std::string kCreateVisitors = create(kVisitors);
  static const std::string kCreateTimes = create(kTimes);
  static const std::string kCreateUrls = create(kUrls);
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
      {"day_visitors", {kCreateVisitors}},
      {"day_sessions",
       {"CREATE TABLE day_sessions (run_id BIGINT NOT NULL, "
        "site TEXT NOT NULL, log_day TEXT NOT NULL, ftp_session TEXT NOT "
        "NULL)"}},
      {"day_time_taken", {kCreateTimes}},
      {"day_urls", {kCreateUrls}},
  };
  return kTables;
}

bool CreateStatistics(const std::string& path) {
  return ledger::CreateTablesFile(path, StatisticsTables(), "statistics");
}

bool CreatePgStatistics(const std::string& url, std::string_view server,
                        bool is_ftp) {
  const std::string schema = StatisticsSchemaName(server, is_ftp);
  std::unique_ptr<ado::pg::PgConnection> db = Connect(url);
  SchemaLayout layout = ReadLayout(*db, url, schema);
  bool made = false;
  if (!layout.exists) {
    made = ledger::CreatePgTables(*db, url, schema, StatisticsTables(),
                                  "statistics");
    layout = ReadLayout(*db, url, schema);
  }
  BringToDesign(*db, url, schema, layout);
  return made;
}

void KeepPgPackedUncompressed(const std::string& url, std::string_view server,
                              bool is_ftp) {
  const std::string schema = StatisticsSchemaName(server, is_ftp);
  std::unique_ptr<ado::pg::PgConnection> db = Connect(url);
  BringToDesign(*db, url, schema, ReadLayout(*db, url, schema));
}

bool PgStatisticsExist(const std::string& url, std::string_view server,
                       bool is_ftp) {
  return ledger::PgSchemaExists(url, StatisticsSchemaName(server, is_ftp),
                                "statistics");
}

void StatisticsStore::Append(std::string_view table,
                             const std::vector<std::string>& columns,
                             const Rows& rows) {
  if (rows.empty() ||
      session_.CopyRows(schema_, table, columns, ado::OneBatch(rows))) {
    return;
  }
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
    std::string_view name) {
  const PackedTable* table = PackedTableNamed(name);
  if (table == nullptr || !HoldsEarlierRows(session_, schema_, *table)) {
    return std::nullopt;
  }
  using RunDay = std::tuple<int64_t, std::string, std::string>;
  std::map<RunDay, EarlierItems> days;
  auto rows = session_.Prepare("SELECT run_id, site, log_day, " +
                                   std::string(table->earlier) + " FROM " +
                                   std::string(table->name),
                               schema_);
  while (rows->Step()) {
    if (!AddEarlierItem(
            *table, *rows,
            days[RunDay(rows->Integer(0), rows->Text(1), rows->Text(2))])) {
      RaiseUnreadable(session_, schema_, *table, rows->Text(1), rows->Text(2));
    }
  }
  TableRows converted{{"run_id", "site", "log_day", std::string(table->packed)},
                      {}};
  for (const auto& [run_day, items] : days) {
    const auto& [run_id, site, log_day] = run_day;
    converted.rows.push_back(
        {Number(run_id), site, log_day, PackItems(*table, items)});
  }
  return converted;
}

bool StatisticsStore::Upgrade() {
  bool upgraded = false;
  for (const PackedTable* table : kPackedTables) {
    std::optional<TableRows> rows = Upgraded(table->name);
    if (!rows) continue;
    // Named with their database: the engines qualify the tables of queries
    // only.
    const std::string name = "[" + schema_ + "]." + std::string(table->name);
    session_.Prepare("DROP TABLE " + name, schema_)->Step();
    session_
        .Prepare("CREATE TABLE " + name + " " + std::string(table->columns),
                 schema_)
        ->Step();
    Append(table->name, rows->columns, rows->rows);
    upgraded = true;
  }
  return upgraded;
}

void StatisticsStore::ReadPacked(
    std::string_view name, const DayIndex& index,
    const std::function<bool(DayFigures&, std::string_view)>& merge) {
  const PackedTable& table = *PackedTableNamed(name);
  auto each = [&](std::string_view site, std::string_view day,
                  std::string_view packed) {
    DayFigures* figures = Find(index, site, day);
    if (figures != nullptr && !merge(*figures, packed)) {
      RaiseUnreadable(session_, schema_, table, site, day);
    }
  };
  if (std::optional<TableRows> rows = Upgraded(name)) {
    for (const auto& row : rows->rows) each(*row[1], *row[2], *row[3]);
    return;
  }
  auto rows =
      session_.Prepare("SELECT site, log_day, " + std::string(table.packed) +
                           " FROM " + std::string(table.name),
                       schema_);
  while (rows->Step()) each(rows->Text(0), rows->Text(1), rows->Text(2));
}

// The URLs of `day` for PackSortedUrls, put in order by their `ranks` in
// the run's pool rather than by comparing their texts day after day.
std::vector<UrlEntry> SortedUrls(const DayStatistics& day, const UrlPool& pool,
                                 const std::vector<uint32_t>& ranks) {
  std::vector<std::pair<uint32_t, const DayUrls::value_type*>> ranked;
  ranked.reserve(day.urls.size());
  for (const auto& entry : day.urls)
    ranked.emplace_back(ranks[entry.first], &entry);
  std::sort(ranked.begin(), ranked.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<UrlEntry> sorted;
  sorted.reserve(ranked.size());
  for (const auto& [rank, entry] : ranked) {
    sorted.push_back({pool.Text(entry->first), &entry->second});
  }
  return sorted;
}

RunRows PackRun(int64_t run_id, const RunStatistics& statistics) {
  Rows totals, visitors, sessions, times, urls;
  const std::vector<uint32_t> ranks = statistics.urls().Ranks();
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
    if (day.time_taken_ms.hits > 0) {
      times.push_back(KeyRow(run_id, key));
      times.back().push_back(PackTimes(day.time_taken_histogram));
    }
    if (!day.urls.empty()) {
      urls.push_back(KeyRow(run_id, key));
      urls.back().push_back(
          PackSortedUrls(SortedUrls(day, statistics.urls(), ranks)));
    }
  }
  auto with = [](std::vector<std::string> more) {
    more.insert(more.begin(), {"run_id", "site", "log_day"});
    return more;
  };
  RunRows packed;
  packed.tables = {
      {"day_totals",
       with({"hits", "hits_1xx", "hits_2xx", "hits_3xx", "hits_4xx", "hits_5xx",
             "bytes_sent", "bytes_sent_hits", "bytes_received",
             "bytes_received_hits", "time_taken_ms", "time_taken_hits",
             "client_hits", "session_hits"}),
       std::move(totals)},
      {"day_visitors", with({"clients"}), std::move(visitors)},
      {"day_sessions", with({"ftp_session"}), std::move(sessions)},
      {"day_time_taken", with({"histogram"}), std::move(times)},
      {"day_urls", with({"urls"}), std::move(urls)}};
  return packed;
}

void StatisticsStore::Write(const RunRows& packed) {
  Upgrade();
  for (const RunRows::Table& table : packed.tables) {
    Append(table.name, table.columns, table.rows);
  }
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
  std::map<DayFigures*, VisitorSet> visitors;
  ReadPacked("day_visitors", index,
             [&](DayFigures& day, std::string_view packed) {
               return visitors[&day].MergePacked(packed);
             });
  for (auto& [day, set] : visitors) {
    if (day->visitors) day->visitors->value = static_cast<int64_t>(set.size());
  }
  std::map<DayFigures*, std::map<int64_t, int64_t>> histograms;
  ReadPacked("day_time_taken", index,
             [&](DayFigures& day, std::string_view packed) {
               return MergePackedTimes(packed, histograms[&day]);
             });
  for (auto& [day, histogram] : histograms) {
    if (!day->time_taken) continue;
    TimeTaken& time = *day->time_taken;
    time.p50 = NearestRank(histogram, time.hits, 50);
    time.p95 = NearestRank(histogram, time.hits, 95);
    time.p99 = NearestRank(histogram, time.hits, 99);
  }
  std::map<DayFigures*, UrlMap> urls;
  ReadPacked("day_urls", index, [&](DayFigures& day, std::string_view packed) {
    return MergePackedUrls(packed, urls[&day]);
  });
  for (auto& [day, figures] : urls) {
    std::array<std::vector<UrlValue>, 3> lists;
    for (const auto& [url, figure] : figures) {
      lists[0].push_back({url, figure.not_found});
      lists[1].push_back({url, figure.server_errors});
      lists[2].push_back({url, figure.time_taken_ms});
    }
    day->top_not_found = Top(std::move(lists[0]));
    day->top_server_errors = Top(std::move(lists[1]));
    day->top_time_taken = Top(std::move(lists[2]));
  }
  return days;
}

}  // namespace velnor::statistics
