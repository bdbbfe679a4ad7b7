// Renders the raw-data grid after a run: as an aligned table that honours
// the column widths and merged name columns the run set, or as CSV
// (RFC 4180), TSV or JSON for other programs.
#ifndef VELNOR_HOST_GRID_RENDER_H_
#define VELNOR_HOST_GRID_RENDER_H_

#include <ostream>
#include <string>

#include "host/date_cell.h"
#include "platform/forms/flex_grid.h"

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

// Writes the grid: row 0 is the header. Table: each column as wide as its
// ColWidth in characters (a longer cell is cut with "…"), a merged column
// shows a value once for a run of equal cells. CSV: CRLF line ends, fields
// quoted when they hold a comma, quote or line end. TSV: one line a row,
// tab, newline, carriage return and backslash written as \t \n \r \\.
// JSON: an array of objects keyed by the header texts, strings throughout.
// Every format writes valid UTF-8 (bytes that are not become U+FFFD); the
// table also replaces control characters. The Date column's cells are
// written as `text.time` says; its header, like every key, stays as the
// grid has it.
void RenderGrid(const forms::FlexGrid& grid, GridFormat format,
                const GridText& text, std::ostream& out);

}  // namespace velnor::host

#endif  // VELNOR_HOST_GRID_RENDER_H_
