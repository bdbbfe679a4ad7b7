// The stored rows of a report that hold the run's keys, found by reading
// the report once rather than looking up each key: a nightly run finds
// most of its keys stored, and one pass over the table, in its order, costs
// a fraction of an index search per key.
#ifndef VELNOR_REPORTSTORE_STORED_ROWS_H_
#define VELNOR_REPORTSTORE_STORED_ROWS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "reportstore/key_match.h"
#include "reportstore/run_tally.h"

namespace velnor {

// A stored row that holds the key of group `seq`.
struct StoredRow {
  size_t seq;
  int64_t row;    // its row identity
  int32_t count;  // its count
};

// How a report's rows compare with the run's keys.
struct StoredKeyEquality {
  key_match::Caseless caseless;  // identifier, URL
  // For a report whose bucket column holds a name (day of week, month):
  // the name of bucket b at b - 1, and whether the column folds ASCII
  // letters. Empty for a numbered bucket (hour, status code).
  std::span<const std::string> bucket_names;
  bool bucket_caseless = false;
};

// Every pair of a group of `groups` and a stored row that the database
// takes for the same key, in no order, read from `rows`: a query (executed
// here) of each row's row identity, count, identifier, URL and bucket, that
// gives only the rows whose identifier and URL are texts and whose bucket is
// a text (named) or a number (numbered), as those are all that can equal a
// key. Raises 13 (type mismatch) for such a row whose count is not a 32-bit
// number, which counting in memory excludes.
std::vector<StoredRow> MatchStoredRows(ado::Command& rows,
                                       const std::vector<RunTally::Key>& groups,
                                       const StoredKeyEquality& equality);

}  // namespace velnor

#endif  // VELNOR_REPORTSTORE_STORED_ROWS_H_
