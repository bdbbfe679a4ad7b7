// The set statements. Comparisons name the report's column first: SQLite
// compares with the collation of the left operand (NOCASE), and the
// staging columns, made from the report's, compare alike in PostgreSQL.
#include "reportstore/set_sql.h"

#include <array>

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

std::string Staging(size_t table) {
  return "temp.velnor_counts_" + std::to_string(table);
}

// `alias`.key = `other`.key for the three key columns.
std::string KeyMatch(size_t table, const std::string& alias,
                     const std::string& other) {
  return alias + ".[Identifier] = " + other + ".identifier And " + alias +
         ".URL = " + other + ".url And " + alias + "." +
         kLayouts[table].bucket + " = " + other + ".bucket";
}

}  // namespace

size_t StagedColumns(size_t table) {
  return 7 + (kLayouts[table].sort ? 1 : 0) + (kLayouts[table].label ? 1 : 0);
}

std::string CreateStaging(size_t table, std::string_view site_column) {
  const Layout& layout = kLayouts[table];
  std::string sql = "CREATE TEMP TABLE IF NOT EXISTS velnor_counts_" +
                    std::to_string(table) +
                    " AS SELECT 0 AS seq, [Server name] AS server, "
                    "[Identifier] AS identifier, [" +
                    std::string(site_column) + "] AS site, URL AS url, " +
                    layout.bucket + " AS bucket, [No of Hits] AS hits";
  if (layout.sort) sql += std::string(", ") + layout.sort + " AS sort";
  if (layout.label) sql += std::string(", ") + layout.label + " AS label";
  return sql + " FROM tblGeneral WHERE 1 = 0";
}

std::string StageRows(size_t table, size_t rows) {
  const Layout& layout = kLayouts[table];
  std::string sql = "INSERT INTO " + Staging(table) +
                    " (seq, server, identifier, site, url, bucket, hits";
  if (layout.sort) sql += ", sort";
  if (layout.label) sql += ", label";
  sql += ") VALUES ";
  std::string markers = "(?";
  for (size_t i = 1; i < StagedColumns(table); ++i) markers += ", ?";
  markers += ")";
  for (size_t row = 0; row < rows; ++row) {
    if (row > 0) sql += ", ";
    sql += markers;
  }
  return sql;
}

namespace {

// The count of the first stored row of the staged key `c`, or null.
std::string FirstStored(size_t table) {
  return "(SELECT f.[No of Hits] FROM tblGeneral AS f WHERE " +
         KeyMatch(table, "f", "c") + " ORDER BY f.rowid LIMIT 1)";
}

}  // namespace

std::string FirstPastMaximum(size_t table) {
  return "SELECT c.seq FROM " + Staging(table) +
         " AS c WHERE c.hits > 2147483647 - COALESCE(" + FirstStored(table) +
         ", 0) ORDER BY c.seq LIMIT 1";
}

std::string UpdateStored(size_t table) {
  return "UPDATE tblGeneral AS g SET [No of Hits] = s.stored + s.hits FROM "
         "(SELECT c.identifier, c.url, c.bucket, c.hits, " +
         FirstStored(table) + " AS stored FROM " + Staging(table) +
         " AS c) AS s WHERE " + KeyMatch(table, "g", "s");
}

std::string InsertNew(size_t table, std::string_view site_column) {
  const Layout& layout = kLayouts[table];
  std::string site = "[";
  site.append(site_column);
  site += ']';
  std::string columns;
  std::string values;
  // The columns in the order of the record-by-record new row.
  if (table == 3) {
    columns = "[Server name], [Identifier], " + site +
              ", [Sort Field], URL, Status, [Status code], [No of Hits]";
    values =
        "c.server, c.identifier, c.site, c.sort, c.url, c.label, "
        "c.bucket, c.hits";
  } else if (table == 2) {
    columns =
        "[Server name], [Identifier], " + site + ", URL, [No of Hits], Hours";
    values = "c.server, c.identifier, c.site, c.url, c.hits, c.bucket";
  } else {
    columns = "[Server name], [Identifier], " + site +
              ", URL, [No of Hits], [Sort Field], " + layout.bucket;
    values = "c.server, c.identifier, c.site, c.url, c.hits, c.sort, c.bucket";
  }
  return "INSERT INTO tblGeneral (" + columns + ") SELECT " + values +
         " FROM " + Staging(table) +
         " AS c WHERE NOT EXISTS (SELECT 1 FROM tblGeneral AS g WHERE " +
         KeyMatch(table, "g", "c") + ") ORDER BY c.seq";
}

std::string ClearStaging(size_t table) {
  return "DELETE FROM " + Staging(table);
}

}  // namespace velnor::set_sql
