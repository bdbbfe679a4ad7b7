// The statements that count hits into the report tables, as constant texts
// with "?" markers: per report, the look-up and update of one key's count
// and the new row of a key. Shared by record-by-record counting and the
// writing of counts made in memory, so that both touch the same rows.
#ifndef VELNOR_REPORTSTORE_TABLE_SQL_H_
#define VELNOR_REPORTSTORE_TABLE_SQL_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace velnor::table_sql {

// The reports a record is counted into, in order, with what their rows
// need. The report kind is the text record-by-record counting passes.
struct TableSql {
  const char* kind;
  const char* lookup;       // values: identifier, URL, bucket
  const char* update;       // values: count, identifier, URL, bucket
  const char* insert_head;  // up to the site column's name
  const char* insert_tail;  // the columns after it, and the markers
};

inline constexpr std::array<TableSql, 4> kTables = {{
    {"Day of Week",
     "select [No of Hits] from tblGeneral where [Identifier]=? And URL = ? "
     "And [Day of week] = ?",
     "Update tblgeneral set [No of Hits]= ? where [Identifier]=? And URL=? "
     "And [Day of week] = ?",
     "insert into tblGeneral ([Server name], [Identifier], [",
     "], URL, [No of Hits], [Sort Field], [Day of week]) values "
     "(?, ?, ?, ?, ?, ?, ?)"},
    {"Month",
     "select [No of Hits] from tblGeneral where [Identifier]=? And URL = ? "
     "And [Months] = ?",
     "Update tblgeneral set [No of Hits]= ? where [Identifier]=? And URL=? "
     "And [Months] = ?",
     "insert into tblGeneral ([Server name], [Identifier], [",
     "], URL, [No of Hits], [Sort Field], [Months]) values "
     "(?, ?, ?, ?, ?, ?, ?)"},
    {"Hour",
     "select [No of Hits] from tblGeneral where [Identifier]=? And URL = ? "
     "And Hours = ?",
     "Update tblgeneral set [No of Hits]= ? where [Identifier]=? And URL=? "
     "And Hours = ?",
     "insert into tblGeneral ([Server name], [Identifier], [",
     "], URL, [No of Hits], Hours) values (?, ?, ?, ?, ?, ?)"},
    {"",
     "select [No of Hits] from tblGeneral where [Identifier]=? And URL = ? "
     "And [Status code] = ?",
     "Update tblgeneral set [No of Hits]= ? where [Identifier]=? And URL = ? "
     "And [Status code] = ?",
     "insert into tblGeneral ([Server name], [Identifier], [",
     "], [Sort Field], URL, Status, [Status code], [No of Hits]) values "
     "(?, ?, ?, ?, ?, ?, ?, ?)"},
}};
inline constexpr size_t kStatusTable = 3;

// A report kind's look-up and update without a bucket condition, for a
// kind record-by-record counting does not know.
inline constexpr const char* kPlainLookup =
    "select [No of Hits] from tblGeneral where [Identifier]=? And URL = ?";
inline constexpr const char* kPlainUpdate =
    "Update tblgeneral set [No of Hits]= ? where [Identifier]=? And URL=?";

// The table of a report kind; kTables.size() for a kind without a bucket.
inline size_t TableOfKind(std::string_view kind) {
  for (size_t i = 0; i < kStatusTable; ++i) {
    if (kind == kTables[i].kind) return i;
  }
  return kTables.size();
}

// Finds a count that is not a whole number from 1 to the 32-bit maximum.
inline constexpr const char* kOddCounts =
    "select [No of Hits] from tblGeneral where typeof([No of Hits]) <> "
    "'integer' Or [No of Hits] <= 0 Or [No of Hits] > 2147483647";

// The new row of `table` for a database whose site column is
// `site_column`; values in the order of insert_head and insert_tail.
inline std::string InsertSql(size_t table, std::string_view site_column) {
  return std::string(kTables[table].insert_head) + std::string(site_column) +
         kTables[table].insert_tail;
}

}  // namespace velnor::table_sql

#endif  // VELNOR_REPORTSTORE_TABLE_SQL_H_
