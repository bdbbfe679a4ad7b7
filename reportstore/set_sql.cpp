// The set statements. Comparisons name the report's column first: SQLite
// compares with the collation of the left operand (NOCASE), and the
// staging columns, made from the report's, compare alike in PostgreSQL.
#include "reportstore/set_sql.h"

#include <array>

#include "reportdb/pg_schema.h"

namespace velnor::set_sql {
namespace {

// The report column each table's key and extra staging columns come from.
struct Layout {
  const char* bucket;
  const char* sort;   // nullptr: no sort column in new rows
  const char* label;  // nullptr: no label
};

constexpr std::array<Layout, 4> kLayouts = {{
    {"[Day of week]", "[Sort Field]", nullptr},
    {"[Months]", "[Sort Field]", nullptr},
    {"Hours", nullptr, nullptr},
    {"[Status code]", "[Sort Field]", "Status"},
}};

// `alias`.key = `other`.key for the three key columns, the URL first: a
// planner that sorts both sides for a merge join sorts by the terms in
// this order, and the URL tells most keys apart (the identifier is the
// same for a whole site), so each comparison of the sort ends sooner.
std::string KeyMatch(size_t table, const std::string& alias,
                     const std::string& other) {
  return alias + ".URL = " + other + ".url And " + alias +
         ".[Identifier] = " + other + ".identifier And " + alias + "." +
         kLayouts[table].bucket + " = " + other + ".bucket";
}

// The same match where the report stores each row's folded key and the
// staging table the run's: plain byte compares of texts folded once, where
// KeyMatch folds both sides' texts for every row the join reads.
std::string FoldedKeyMatch(size_t table, const std::string& alias,
                           const std::string& other) {
  return alias + "." + reportdb::kFoldedKeyColumn + " = " + other +
         ".folded And " + alias + "." + kLayouts[table].bucket + " = " + other +
         ".bucket";
}

std::string Match(size_t table, bool folded, const std::string& alias,
                  const std::string& other) {
  return folded ? FoldedKeyMatch(table, alias, other)
                : KeyMatch(table, alias, other);
}

}  // namespace

std::string StagingTable(size_t table) {
  return "temp.velnor_counts_" + std::to_string(table);
}

std::vector<std::string> StagedColumnNames(size_t table, bool folded) {
  std::vector<std::string> names = {"seq", "server", "identifier", "site",
                                    "url", "bucket", "hits"};
  if (kLayouts[table].sort) names.emplace_back("sort");
  if (kLayouts[table].label) names.emplace_back("label");
  if (folded) names.emplace_back("folded");
  return names;
}

std::vector<size_t> RaisingColumns(size_t table, bool folded) {
  if (folded) return {0, StagedColumns(table, folded) - 1, 5, 6};
  return {0, 2, 4, 5, 6};
}

size_t StagedColumns(size_t table, bool folded) {
  return 7 + (kLayouts[table].sort ? 1 : 0) + (kLayouts[table].label ? 1 : 0) +
         (folded ? 1 : 0);
}

std::string CreateStaging(size_t table, std::string_view site_column,
                          bool folded) {
  const Layout& layout = kLayouts[table];
  std::string sql = "CREATE TEMP TABLE IF NOT EXISTS velnor_counts_" +
                    std::to_string(table) +
                    " AS SELECT 0 AS seq, [Server name] AS server, "
                    "[Identifier] AS identifier, [" +
                    std::string(site_column) + "] AS site, URL AS url, " +
                    layout.bucket + " AS bucket, [No of Hits] AS hits";
  if (layout.sort) sql += std::string(", ") + layout.sort + " AS sort";
  if (layout.label) sql += std::string(", ") + layout.label + " AS label";
  if (folded) {
    sql += std::string(", ") + reportdb::kFoldedKeyColumn + " AS folded";
  }
  return sql + " FROM tblGeneral WHERE 1 = 0";
}

// Every stored row of a staged key, joined once, with the count of its
// key's first stored row beside it (a window over the key's rows); each is
// then raised through its own row identity. That costs one join of the
// staged keys with the report whatever the number of rows a key has (a
// store written by other tools may hold several), where a look-up of the
// first row per key costs an index search and a sort for every key.
std::string UpdateStoredReturning(size_t table, bool folded) {
  return "UPDATE tblGeneral AS g SET [No of Hits] = s.stored + s.hits FROM "
         "(SELECT c.seq, c.hits, f.rowid AS stored_row, "
         "first_value(f.[No of Hits]) OVER (PARTITION BY c.seq ORDER BY "
         "f.rowid) AS stored FROM " +
         StagingTable(table) + " AS c INNER JOIN tblGeneral AS f ON " +
         Match(table, folded, "f", "c") +
         ") AS s WHERE g.rowid = s.stored_row RETURNING s.seq";
}

std::string StoredKeys(size_t table) {
  const std::string bucket = kLayouts[table].bucket;
  const bool named = table <= 1;
  return "SELECT rowid, [No of Hits], [Identifier], URL, " + bucket +
         " FROM tblGeneral WHERE typeof([Identifier]) = 'text' And "
         "typeof(URL) = 'text' And typeof(" +
         bucket + ") " + (named ? "= 'text'" : "IN ('integer', 'real')");
}

std::string SetCountOfRow() {
  return "UPDATE tblGeneral SET [No of Hits] = ? WHERE rowid = ?";
}

// One hash join of the staged keys with the report, with neither the
// window's sort nor the join back on the row identity: most of what
// UpdateStoredReturning costs the server beside the writes themselves.
std::string RaiseEachStoredReturning(size_t table, bool folded) {
  return "UPDATE tblGeneral AS f SET [No of Hits] = f.[No of Hits] + c.hits "
         "FROM " +
         StagingTable(table) + " AS c WHERE " + Match(table, folded, "f", "c") +
         " RETURNING c.seq";
}

std::vector<NewRowColumn> NewRowColumns(size_t table,
                                        std::string_view site_column) {
  // Staging columns: 0 seq, 1 server, 2 identifier, 3 site, 4 url,
  // 5 bucket, 6 hits, 7 sort, 8 label.
  const std::string site(site_column);
  std::vector<NewRowColumn> columns = {
      {"Server name", 1}, {"Identifier", 2}, {site, 3}};
  if (table == 3) {
    columns.insert(columns.end(), {{"Sort Field", 7},
                                   {"URL", 4},
                                   {"Status", 8},
                                   {"Status code", 5},
                                   {"No of Hits", 6}});
  } else if (table == 2) {
    columns.insert(columns.end(),
                   {{"URL", 4}, {"No of Hits", 6}, {"Hours", 5}});
  } else {
    std::string bucket = kLayouts[table].bucket;
    columns.insert(columns.end(), {{"URL", 4},
                                   {"No of Hits", 6},
                                   {"Sort Field", 7},
                                   {bucket.substr(1, bucket.size() - 2), 5}});
  }
  return columns;
}

std::string InsertRows(size_t table, std::string_view site_column,
                       size_t rows) {
  const std::vector<NewRowColumn> columns = NewRowColumns(table, site_column);
  std::string names;
  for (const NewRowColumn& column : columns) {
    names += (names.empty() ? "[" : ", [") + column.report + "]";
  }
  std::string markers = "(?";
  for (size_t i = 1; i < columns.size(); ++i) markers += ", ?";
  markers += ")";
  std::string sql = "INSERT INTO tblGeneral (" + names + ") VALUES ";
  for (size_t row = 0; row < rows; ++row) {
    if (row > 0) sql += ", ";
    sql += markers;
  }
  return sql;
}

std::string ClearStaging(size_t table) {
  return "DELETE FROM " + StagingTable(table);
}

std::string AnyRow() { return "SELECT 1 FROM tblGeneral LIMIT 1"; }

}  // namespace velnor::set_sql
