// The statements that write a whole report's counts at once: the run's
// keys are staged in a temporary table (one row per key as the database
// tells keys apart), then one UPDATE raises the stored rows of staged keys
// and one INSERT appends the others in the order they were first counted.
// The texts are Jet SQL that every engine takes ("temp." is the session's
// own schema of temporary tables, which is never pointed at a database).
#ifndef VELNOR_REPORTSTORE_SET_SQL_H_
#define VELNOR_REPORTSTORE_SET_SQL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::set_sql {

// Staged rows go in this many to a statement.
inline constexpr size_t kRowsPerInsert = 100;

// `folded`, for each statement that takes it: the report stores each row's
// folded key (reportdb::kFoldedKeyColumn) and the staging table gets the
// run's, filled by the writer (reportdb::FoldedKey), so that the statements
// that raise stored rows match keys by it.

// The staging columns of `table` (0 day of week, 1 month, 2 hour,
// 3 status), in their order: seq, server, identifier,
// site, url, bucket, hits, then sort (not for hours), label (status) and,
// with `folded`, folded.
size_t StagedColumns(size_t table, bool folded);

// The staging table of `table` ("temp." and its name) and the names of its
// columns, in StagedColumns's order.
std::string StagingTable(size_t table);
std::vector<std::string> StagedColumnNames(size_t table, bool folded);
// The staging columns (indexes into StagedColumnNames) that the statements
// raising stored rows read: seq, identifier, url, bucket and hits, or with
// `folded` seq, folded, bucket and hits. A staging row that holds only
// these (the others NULL) serves them as a full one.
std::vector<size_t> RaisingColumns(size_t table, bool folded);

// Makes the staging table of `table` when the session has none yet, its
// columns typed as the report's (so that they compare as its columns do).
std::string CreateStaging(size_t table, std::string_view site_column,
                          bool folded);
// The row identity, count, identifier, URL and bucket of each row of the
// report that can hold a key (MatchStoredRows): its identifier and URL are
// texts, its bucket a text (day of week, month) or a number (hour, status
// code).
std::string StoredKeys(size_t table);
// Sets the count of the row with the row identity of the second marker to
// the first.
std::string SetCountOfRow();
// Raises every stored row of a staged key to the first stored row's count
// (in rowid order) plus the staged hits, returning the seq of each staged
// key it raised (once per stored row), for an engine that takes RETURNING.
std::string UpdateStoredReturning(size_t table, bool folded);
// Raises every stored row of a staged key by the staged hits, returning the
// seq of each staged key it raised (once per stored row). That is
// UpdateStoredReturning's outcome exactly when no staged key has several
// stored rows, which a seq returned twice tells otherwise.
std::string RaiseEachStoredReturning(size_t table, bool folded);
// A column of a new row: its name in the report (without brackets) and the
// staging column it is given (an index into StagedColumnNames).
struct NewRowColumn {
  std::string report;
  size_t staged;
};
// The columns of a new row of `table`, in the order of the record-by-record
// new row.
std::vector<NewRowColumn> NewRowColumns(size_t table,
                                        std::string_view site_column);
// Appends `rows` new rows to the report, each with NewRowColumns's values
// in their order, for a report that holds none of their keys.
std::string InsertRows(size_t table, std::string_view site_column, size_t rows);
// Empties the staging table.
std::string ClearStaging(size_t table);
// One row when the report holds any row, none when it is empty.
std::string AnyRow();

}  // namespace velnor::set_sql

#endif  // VELNOR_REPORTSTORE_SET_SQL_H_
