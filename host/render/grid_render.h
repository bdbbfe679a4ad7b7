// Renders the raw listing row by row, as the run completes the rows: as CSV
// (RFC 4180), TSV or JSON straight to the output, or as an aligned table
// that honours the column widths and merged name columns the run sets at
// its end, which therefore keeps its rows in a temporary file (not in
// memory) until then.
#ifndef VELNOR_HOST_RENDER_GRID_RENDER_H_
#define VELNOR_HOST_RENDER_GRID_RENDER_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/render/date_cell.h"
#include "platform/forms/streaming_grid.h"

namespace velnor::host {

// Twips in one character cell of the terminal: the grid's width is the
// terminal's columns times this, and a column of w twips shows
// w / kTwipsPerChar characters.
inline constexpr float kTwipsPerChar = 120;

enum class GridFormat { kTable, kCsv, kTsv, kJson };

// Parses "table", "csv", "tsv" or "json"; false for anything else.
bool ParseGridFormat(const std::string& text, GridFormat& format);

// How cells are written beyond the format.
struct GridText {
  TimeFormat time = TimeFormat::kGrid;  // of the column headed "Date"
  bool ascii = false;  // table: "-" rule and "..." cut mark, not "─" and "…"
};

// A writer of `format` with `text` to `out`, which must outlive it, for the
// rows of one listing. Table: each
// column as wide as its width in characters (a longer cell is cut with
// "…"), a merged column shows a value once for a run of equal cells, the
// last column is never cut. CSV: CRLF line ends, fields quoted when they
// hold a comma, quote or line end (CsvField). TSV: one line a row, each
// field escaped as TsvField says. JSON: an array of objects keyed by the
// header texts, strings throughout. Every format writes valid UTF-8 without
// NUL bytes (bytes that are not UTF-8, and NUL, become U+FFFD); the table
// and CSV replace the control characters a terminal acts on too, TSV and
// JSON write them as escapes. The Date column's cells are written as
// GridText::time says; its header, like every key, stays as it is. End writes
// what is left; the output stream tells whether everything was written. The
// table's temporary file is made here, without a name, in TMPDIR (/tmp when
// that is unset or empty): when it cannot be, this raises
// automation::AutomationError whose description names the folder and why.
std::unique_ptr<forms::GridWriter> MakeGridWriter(GridFormat format,
                                                  const GridText& text,
                                                  std::ostream& out);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_GRID_RENDER_H_
