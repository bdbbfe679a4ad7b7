// Grid writers. The delimited ones append to a buffer that goes to the
// stream in large pieces; a field of plain printable ASCII, the usual case,
// is copied as it is.
#include "host/render/grid_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/render/json_layout.h"
#include "host/render/text_format.h"
#include "platform/automation/error_state.h"

namespace velnor::host {
namespace {

using forms::GridLayout;
using forms::GridWriter;

constexpr size_t kFlushBytes = size_t{64} * 1024;

// Appends `text` to `buffer` when it is all printable ASCII other than
// `special1` and `special2` and returns true; otherwise leaves `buffer` as
// it was and returns false. The check is one pass the compiler can
// vectorise.
bool AppendPlain(std::string& buffer, std::string_view text, char special1,
                 char special2) {
  unsigned char unusual = 0;
  for (char c : text) {
    unusual |= static_cast<unsigned char>((c < 0x20) | (c > 0x7E) |
                                          (c == special1) | (c == special2));
  }
  if (unusual != 0) return false;
  buffer.append(text);
  return true;
}

class BufferedWriter : public GridWriter {
 protected:
  explicit BufferedWriter(std::ostream& out) : out_(out) {}
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }
  void FlushIfFull() {
    if (buffer_.size() >= kFlushBytes) Flush();
  }

  std::ostream& out_;
  std::string buffer_;
};

class DelimitedWriter : public BufferedWriter {
 public:
  DelimitedWriter(std::ostream& out, bool csv)
      : BufferedWriter(out), csv_(csv) {}

  void Row(const std::vector<std::string>& cells) override {
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) buffer_ += csv_ ? ',' : '\t';
      if (csv_) {
        if (!AppendPlain(buffer_, cells[c], ',', '"')) {
          buffer_ += CsvField(cells[c]);
        }
      } else {
        AppendTsv(cells[c]);
      }
    }
    buffer_ += csv_ ? "\r\n" : "\n";
    FlushIfFull();
  }

  void End(const GridLayout&) override { Flush(); }

 private:
  void AppendTsv(const std::string& text) {
    if (AppendPlain(buffer_, text, '\\', '\\')) return;
    buffer_ += TsvField(text);
  }

  bool csv_;
};

// The array's frame is written here, a row at a time, so that a listing of
// any length streams; each row's texts are escaped by the JSON library,
// except those plain ASCII that needs no escape.
class JsonWriter : public BufferedWriter {
 public:
  explicit JsonWriter(std::ostream& out) : BufferedWriter(out) {}

  void Row(const std::vector<std::string>& cells) override {
    if (!header_taken_) {
      header_taken_ = true;
      for (const std::string& key : cells) {
        keys_.push_back(LaidOut(JsonText(key), 0));
      }
      buffer_ += '[';
      return;
    }
    buffer_ += rows_++ > 0 ? ",\n  {" : "\n  {";
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) buffer_ += ", ";
      buffer_ += c < keys_.size() ? keys_[c] : "\"\"";
      buffer_ += ": ";
      buffer_ += '"';
      if (AppendPlain(buffer_, cells[c], '"', '\\')) {
        buffer_ += '"';
      } else {
        buffer_.pop_back();
        buffer_ += LaidOut(JsonText(cells[c]), 0);
      }
    }
    buffer_ += '}';
    FlushIfFull();
  }

  void End(const GridLayout&) override {
    if (!header_taken_) buffer_ += '[';
    buffer_ += rows_ > 0 ? "\n]\n" : "]\n";
    Flush();
  }

 private:
  bool header_taken_ = false;
  std::vector<std::string> keys_;
  int64_t rows_ = 0;
};

// The folder of temporary files: TMPDIR, or /tmp when it is unset or
// empty.
std::string TemporaryFolder() {
  const char* set = std::getenv("TMPDIR");
  return set != nullptr && *set != '\0' ? set : "/tmp";
}

// A file in `folder` that has no name, open for reading and writing; -1,
// with errno set, when none can be made. O_TMPFILE never makes a name, so
// nothing is left behind and no link planted at a name is followed; a file
// system that refuses it gets a new name (O_EXCL, which follows no link)
// that is removed at once.
int OpenUnnamedFile(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  std::string name = folder + "/velnor-table-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

// The table's rows wait in an unnamed temporary file, each cell as its
// length and bytes, until End knows the column widths. A row the file could
// not take, or give back, marks the output stream failed: the table is not
// whole.
class TableWriter : public GridWriter {
 public:
  TableWriter(std::ostream& out, bool ascii) : out_(out), ascii_(ascii) {
    const std::string folder = TemporaryFolder();
    const int fd = OpenUnnamedFile(folder);
    spool_ = fd >= 0 ? ::fdopen(fd, "w+") : nullptr;
    if (spool_ == nullptr) {
      const std::string reason = std::strerror(errno);
      if (fd >= 0) ::close(fd);
      automation::Raise(75, "cannot make a temporary file for the table in " +
                                folder + ": " + reason);
    }
  }
  ~TableWriter() override { std::fclose(spool_); }
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  void Row(const std::vector<std::string>& cells) override {
    WriteCount(cells.size());
    for (const std::string& cell : cells) {
      WriteCount(cell.size());
      spooled_ &=
          std::fwrite(cell.data(), 1, cell.size(), spool_) == cell.size();
    }
  }

  void End(const GridLayout& layout) override {
    if (!spooled_ || std::fflush(spool_) != 0) {
      out_.setstate(std::ios::badbit);
      return;
    }
    std::rewind(spool_);
    std::vector<size_t> widths;
    for (float twips : layout.col_widths) {
      size_t chars =
          twips > 0 ? static_cast<size_t>(twips / kTwipsPerChar) : 10;
      widths.push_back(std::max<size_t>(chars, 3));
    }
    std::vector<std::string> previous, row;
    for (int32_t r = 0; ReadRow(row); ++r) {
      out_ << Line(row, previous, r, widths, layout) << '\n';
      if (r + 1 == layout.fixed_rows) out_ << Rule(widths) << '\n';
      previous.swap(row);
    }
    if (std::ferror(spool_) != 0) out_.setstate(std::ios::badbit);
  }

 private:
  void WriteCount(size_t count) {
    uint64_t value = count;
    spooled_ &= std::fwrite(&value, sizeof value, 1, spool_) == 1;
  }
  bool ReadCount(size_t& count) {
    uint64_t value = 0;
    if (std::fread(&value, sizeof value, 1, spool_) != 1) return false;
    count = static_cast<size_t>(value);
    return true;
  }
  bool ReadRow(std::vector<std::string>& row) {
    size_t cells = 0;
    if (!ReadCount(cells)) return false;
    row.resize(cells);
    for (std::string& cell : row) {
      size_t length = 0;
      if (!ReadCount(length)) return false;
      cell.resize(length);
      if (std::fread(cell.data(), 1, length, spool_) != length) return false;
    }
    return true;
  }

  // `text` cut to `width` columns and padded with blanks to it.
  std::string Fit(std::string_view text, size_t width) const {
    return PadToWidth(CutText(text, width, ascii_ ? "..." : "\u2026"), width);
  }

  std::string Line(const std::vector<std::string>& row,
                   const std::vector<std::string>& previous, int32_t r,
                   const std::vector<size_t>& widths,
                   const GridLayout& layout) const {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      std::string_view cell = row[c];
      // A merged column shows a run of equal values once; the fixed rows
      // never merge with the rows below them.
      if (r > layout.fixed_rows && c < layout.merge_cols.size() &&
          layout.merge_cols[c] && c < previous.size() && cell == previous[c]) {
        cell = {};
      }
      if (c > 0) line += ' ';
      // Nothing follows the last column, so its text is never cut.
      const size_t width = c < widths.size() ? widths[c] : 10;
      line += c + 1 == row.size() ? CleanUtf8(cell, true) : Fit(cell, width);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }

  std::string Rule(const std::vector<size_t>& widths) const {
    std::string rule;
    for (size_t c = 0; c < widths.size(); ++c) {
      if (c > 0) rule += ' ';
      for (size_t i = 0; i < widths[c]; ++i) rule += ascii_ ? "-" : "─";
    }
    return rule;
  }

  std::ostream& out_;
  const bool ascii_;
  std::FILE* spool_ = nullptr;
  bool spooled_ = true;  // every row went whole into `spool_`
};

// Writes the Date column's cells as ISO 8601 before `next` writes the row;
// the header row, which tells which column that is, passes unchanged.
class IsoDateWriter : public GridWriter {
 public:
  explicit IsoDateWriter(std::unique_ptr<GridWriter> next)
      : next_(std::move(next)) {}

  void Row(const std::vector<std::string>& cells) override {
    if (!header_seen_) {
      header_seen_ = true;
      auto date = std::find(cells.begin(), cells.end(), "Date");
      if (date != cells.end()) date_col_ = date - cells.begin();
      next_->Row(cells);
      return;
    }
    if (date_col_ < 0 || static_cast<size_t>(date_col_) >= cells.size()) {
      next_->Row(cells);
      return;
    }
    row_ = cells;  // keeps the strings' buffers from row to row
    std::string& cell = row_[static_cast<size_t>(date_col_)];
    cell = FormatDateCell(cell, TimeFormat::kIso);
    next_->Row(row_);
  }

  void End(const GridLayout& layout) override { next_->End(layout); }

 private:
  std::unique_ptr<GridWriter> next_;
  bool header_seen_ = false;
  std::ptrdiff_t date_col_ = -1;
  std::vector<std::string> row_;
};

}  // namespace

bool ParseGridFormat(const std::string& text, GridFormat& format) {
  if (text == "table")
    format = GridFormat::kTable;
  else if (text == "csv")
    format = GridFormat::kCsv;
  else if (text == "tsv")
    format = GridFormat::kTsv;
  else if (text == "json")
    format = GridFormat::kJson;
  else
    return false;
  return true;
}

std::unique_ptr<GridWriter> MakeGridWriter(GridFormat format,
                                           const GridText& text,
                                           std::ostream& out) {
  std::unique_ptr<GridWriter> writer;
  switch (format) {
    case GridFormat::kTable:
      writer = std::make_unique<TableWriter>(out, text.ascii);
      break;
    case GridFormat::kCsv:
      writer = std::make_unique<DelimitedWriter>(out, true);
      break;
    case GridFormat::kTsv:
      writer = std::make_unique<DelimitedWriter>(out, false);
      break;
    case GridFormat::kJson:
      writer = std::make_unique<JsonWriter>(out);
      break;
  }
  if (text.time == TimeFormat::kIso) {
    writer = std::make_unique<IsoDateWriter>(std::move(writer));
  }
  return writer;
}

}  // namespace velnor::host
