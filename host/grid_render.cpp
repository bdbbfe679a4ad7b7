// Grid renderers.
#include "host/grid_render.h"

#include "host/text_format.h"

#include <algorithm>
#include <cstdio>

namespace velnor::host {
namespace {

// The text of cell (`row`, `col`) as `text` asks; the header row as is.
std::string Cell(const forms::FlexGrid& grid, int32_t row, int32_t col,
                 const GridText& text) {
  std::string cell = grid.TextMatrix(row, col);
  if (row == 0 || grid.TextMatrix(0, col) != "Date") return cell;
  return FormatDateCell(cell, text.time);
}

// `text` cut to `width` characters and padded with blanks to it.
std::string Fit(std::string_view text, size_t width, bool ascii) {
  std::string fitted = CutText(text, width, ascii ? "..." : "\u2026");
  size_t length = CharCount(fitted);
  if (length < width) fitted.append(width - length, ' ');
  return fitted;
}

void RenderTable(const forms::FlexGrid& grid, const GridText& text,
                 std::ostream& out) {
  std::vector<size_t> widths;
  for (int32_t c = 0; c < grid.Cols(); ++c) {
    float twips = grid.ColWidth(c);
    size_t chars = twips > 0 ? static_cast<size_t>(twips / kTwipsPerChar) : 10;
    widths.push_back(std::max<size_t>(chars, 3));
  }
  for (int32_t r = 0; r < grid.Rows(); ++r) {
    std::string line;
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      std::string cell = Cell(grid, r, c, text);
      // A merged column shows a run of equal values once; the fixed rows
      // never merge with the rows below them.
      if (r > grid.FixedRows() && grid.MergeCol(c) &&
          cell == grid.TextMatrix(r - 1, c)) {
        cell.clear();
      }
      if (c > 0) line += ' ';
      // Nothing follows the last column, so its text is never cut.
      line += c + 1 == grid.Cols() ? CleanUtf8(cell, true)
                                   : Fit(cell, widths[static_cast<size_t>(c)],
                                         text.ascii);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
    if (r + 1 == grid.FixedRows()) {
      std::string rule;
      for (size_t c = 0; c < widths.size(); ++c) {
        if (c > 0) rule += ' ';
        for (size_t i = 0; i < widths[c]; ++i) rule += text.ascii ? "-" : "─";
      }
      out << rule << '\n';
    }
  }
}

std::string TsvField(const std::string& text) {
  std::string out;
  for (char c : CleanUtf8(text, false)) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

void RenderDelimited(const forms::FlexGrid& grid, bool csv,
                     const GridText& text, std::ostream& out) {
  for (int32_t r = 0; r < grid.Rows(); ++r) {
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      if (c > 0) out << (csv ? ',' : '\t');
      std::string cell = Cell(grid, r, c, text);
      out << (csv ? CsvField(cell) : TsvField(cell));
    }
    out << (csv ? "\r\n" : "\n");
  }
}

void RenderJson(const forms::FlexGrid& grid, const GridText& text,
                std::ostream& out) {
  out << "[";
  for (int32_t r = 1; r < grid.Rows(); ++r) {
    out << (r > 1 ? ",\n  {" : "\n  {");
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      if (c > 0) out << ", ";
      out << JsonString(grid.TextMatrix(0, c)) << ": "
          << JsonString(Cell(grid, r, c, text));
    }
    out << "}";
  }
  out << (grid.Rows() > 1 ? "\n]\n" : "]\n");
}

}  // namespace

bool ParseGridFormat(const std::string& text, GridFormat& format) {
  if (text == "table") format = GridFormat::kTable;
  else if (text == "csv") format = GridFormat::kCsv;
  else if (text == "tsv") format = GridFormat::kTsv;
  else if (text == "json") format = GridFormat::kJson;
  else return false;
  return true;
}

void RenderGrid(const forms::FlexGrid& grid, GridFormat format,
                const GridText& text, std::ostream& out) {
  switch (format) {
    case GridFormat::kTable: RenderTable(grid, text, out); break;
    case GridFormat::kCsv: RenderDelimited(grid, true, text, out); break;
    case GridFormat::kTsv: RenderDelimited(grid, false, text, out); break;
    case GridFormat::kJson: RenderJson(grid, text, out); break;
  }
}

}  // namespace velnor::host
