// Grid renderers.
#include "host/grid_render.h"

#include <algorithm>
#include <cstdio>

namespace velnor::host {
namespace {

// Length in characters of UTF-8 text (continuation bytes do not count).
size_t DisplayLength(std::string_view text) {
  return static_cast<size_t>(std::count_if(
      text.begin(), text.end(),
      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `width` characters of `text`, "…" in place of the last one
// when the text is longer.
std::string Fit(std::string_view text, size_t width) {
  if (DisplayLength(text) <= width) {
    return std::string(text) +
           std::string(width - DisplayLength(text), ' ');
  }
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < text.size() && chars + 1 < width; ++i) {
    out += text[i];
    if (i + 1 == text.size() ||
        (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80) {
      ++chars;
    }
  }
  return out + (width > 0 ? "…" : "");
}

void RenderTable(const forms::FlexGrid& grid, std::ostream& out) {
  std::vector<size_t> widths;
  for (int32_t c = 0; c < grid.Cols(); ++c) {
    float twips = grid.ColWidth(c);
    size_t chars = twips > 0 ? static_cast<size_t>(twips / kTwipsPerChar) : 10;
    widths.push_back(std::max<size_t>(chars, 3));
  }
  for (int32_t r = 0; r < grid.Rows(); ++r) {
    std::string line;
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      std::string cell = grid.TextMatrix(r, c);
      // A merged column shows a run of equal values once; the fixed rows
      // never merge with the rows below them.
      if (r > grid.FixedRows() && grid.MergeCol(c) &&
          cell == grid.TextMatrix(r - 1, c)) {
        cell.clear();
      }
      if (c > 0) line += ' ';
      // Nothing follows the last column, so its text is never cut.
      line += c + 1 == grid.Cols() ? cell
                                   : Fit(cell, widths[static_cast<size_t>(c)]);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
    if (r + 1 == grid.FixedRows()) {
      std::string rule;
      for (size_t c = 0; c < widths.size(); ++c) {
        if (c > 0) rule += ' ';
        for (size_t i = 0; i < widths[c]; ++i) rule += "─";
      }
      out << rule << '\n';
    }
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string TsvField(const std::string& text) {
  std::string out;
  for (char c : text) {
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

void RenderDelimited(const forms::FlexGrid& grid, bool csv, std::ostream& out) {
  for (int32_t r = 0; r < grid.Rows(); ++r) {
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      if (c > 0) out << (csv ? ',' : '\t');
      std::string cell = grid.TextMatrix(r, c);
      out << (csv ? CsvField(cell) : TsvField(cell));
    }
    out << (csv ? "\r\n" : "\n");
  }
}

void RenderJson(const forms::FlexGrid& grid, std::ostream& out) {
  out << "[";
  for (int32_t r = 1; r < grid.Rows(); ++r) {
    out << (r > 1 ? ",\n  {" : "\n  {");
    for (int32_t c = 0; c < grid.Cols(); ++c) {
      if (c > 0) out << ", ";
      out << '"' << JsonEscape(grid.TextMatrix(0, c)) << "\": \""
          << JsonEscape(grid.TextMatrix(r, c)) << '"';
    }
    out << "}";
  }
  out << (grid.Rows() > 1 ? "\n]\n" : "]\n");
}

// Length of the valid UTF-8 sequence at the start of `s`, 0 if invalid.
size_t Utf8SequenceLength(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || length > s.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong three- and four-byte forms, surrogates and code points past
  // U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) ||
      (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F)) {
    return 0;
  }
  return length;
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

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    size_t length = Utf8SequenceLength(text);
    if (length == 0) {
      out += "\\ufffd";
      text.remove_prefix(1);
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[0]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

void RenderGrid(const forms::FlexGrid& grid, GridFormat format,
                std::ostream& out) {
  switch (format) {
    case GridFormat::kTable: RenderTable(grid, out); break;
    case GridFormat::kCsv: RenderDelimited(grid, true, out); break;
    case GridFormat::kTsv: RenderDelimited(grid, false, out); break;
    case GridFormat::kJson: RenderJson(grid, out); break;
  }
}

}  // namespace velnor::host
