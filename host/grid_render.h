// Renders the raw listing row by row, as the run completes the rows: as CSV
// (RFC 4180), TSV or JSON straight to the output, or as an aligned table
// that honours the column widths and merged name columns the run sets at
// its end, which therefore keeps its rows in a temporary file (not in
// memory) until then.
#ifndef VELNOR_HOST_GRID_RENDER_H_
#define VELNOR_HOST_GRID_RENDER_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/date_cell.h"

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

// What the table needs of the finished grid.
struct GridLayout {
  std::vector<float> col_widths;  // twips; not positive: the default
  std::vector<bool> merge_cols;
  int32_t fixed_rows = 1;
};

// Writes the rows of one listing; the first row is the header. Table: each
// column as wide as its width in characters (a longer cell is cut with
// "…"), a merged column shows a value once for a run of equal cells, the
// last column is never cut. CSV: CRLF line ends, fields quoted when they
// hold a comma, quote or line end. TSV: one line a row, tab, newline,
// carriage return and backslash written as \t \n \r \\. JSON: an array of
// objects keyed by the header texts, strings throughout. Every format
// writes valid UTF-8 (bytes that are not become U+FFFD); the table also
// replaces control characters. The Date column's cells are written as
// GridText::time says; its header, like every key, stays as it is.
class GridWriter {
 public:
  virtual ~GridWriter() = default;
  virtual void Row(const std::vector<std::string>& cells) = 0;
  // After the last row; writes what is left. The output stream tells
  // whether everything was written.
  virtual void End(const GridLayout& layout) = 0;
};

// A writer of `format` with `text` to `out`, which must outlive it. Raises
// automation::AutomationError when the table's temporary file cannot be
// made.
std::unique_ptr<GridWriter> MakeGridWriter(GridFormat format,
                                           const GridText& text,
                                           std::ostream& out);

}  // namespace velnor::host

#endif  // VELNOR_HOST_GRID_RENDER_H_
