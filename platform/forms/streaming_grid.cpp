// The streaming grid. Cells keep their buffers from row to row, so a
// listing allocates little once its first rows are through.
#include "platform/forms/streaming_grid.h"

#include "platform/automation/error_state.h"

namespace velnor::forms {
namespace {

constexpr int32_t kErrBadSubscript = 381;
constexpr int32_t kErrInvalidCount = 30009;
constexpr float kDefaultColWidth = -1;

}  // namespace

StreamingGrid::StreamingGrid(float width, std::unique_ptr<GridWriter> writer)
    : width_(width), writer_(std::move(writer)) {
  SetCols(2);
  SetRows(2);
}

void StreamingGrid::Clear() {
  for (auto& row : rows_) {
    for (auto& cell : row) cell.clear();
  }
}

void StreamingGrid::SetRows(int32_t rows) {
  if (rows < written_) automation::Raise(kErrInvalidCount, "Invalid Row value");
  rows_.resize(static_cast<size_t>(rows - written_));
  for (auto& row : rows_) row.resize(static_cast<size_t>(cols_));
}

void StreamingGrid::SetCols(int32_t cols) {
  if (cols < 0) automation::Raise(kErrInvalidCount, "Invalid Col value");
  cols_ = cols;
  for (auto& row : rows_) row.resize(static_cast<size_t>(cols));
  layout_.col_widths.resize(static_cast<size_t>(cols), kDefaultColWidth);
  layout_.merge_cols.resize(static_cast<size_t>(cols), false);
}

std::string& StreamingGrid::Cell(int32_t row, int32_t col) {
  if (row < written_ || row >= Rows() || col < 0 || col >= cols_) {
    automation::Raise(kErrBadSubscript, "Subscript out of range");
  }
  return rows_[static_cast<size_t>(row - written_)][static_cast<size_t>(col)];
}

void StreamingGrid::CheckCol(int32_t col) const {
  if (col < 0 || col >= cols_) {
    automation::Raise(kErrBadSubscript, "Subscript out of range");
  }
}

std::string StreamingGrid::TextMatrix(int32_t row, int32_t col) const {
  return const_cast<StreamingGrid*>(this)->Cell(row, col);
}

void StreamingGrid::SetTextMatrix(int32_t row, int32_t col,
                                  const automation::Variant& value) {
  std::string& cell = Cell(row, col);
  if (const std::string* text = value.AsString()) {
    cell.assign(*text);
  } else {
    cell = automation::CStr(value);
  }
}

void StreamingGrid::AddItem(std::string_view item) {
  // Every row before the new one is complete.
  for (const auto& row : rows_) writer_->Row(row);
  written_ += kept();
  // The new row takes over the buffers of the last one.
  if (rows_.empty()) rows_.emplace_back();
  rows_.erase(rows_.begin(), rows_.end() - 1);
  rows_[0].resize(static_cast<size_t>(cols_));
  for (std::string& cell : rows_[0]) cell.clear();
  if (cols_ > 0) rows_[0][0] = item;
}

void StreamingGrid::SetFixedRows(int32_t rows) {
  if (rows < 0 || rows > Rows()) {
    automation::Raise(kErrInvalidCount, "Invalid FixedRows value");
  }
  layout_.fixed_rows = rows;
}

void StreamingGrid::SetFixedCols(int32_t cols) {
  if (cols < 0 || cols > cols_) {
    automation::Raise(kErrInvalidCount, "Invalid FixedCols value");
  }
  layout_.fixed_cols = cols;
}

void StreamingGrid::SetMergeCol(int32_t col, bool merge) {
  CheckCol(col);
  layout_.merge_cols[static_cast<size_t>(col)] = merge;
}

void StreamingGrid::SetColWidth(int32_t col, float width) {
  CheckCol(col);
  layout_.col_widths[static_cast<size_t>(col)] = width;
}

float StreamingGrid::ColWidth(int32_t col) const {
  CheckCol(col);
  return layout_.col_widths[static_cast<size_t>(col)];
}

void StreamingGrid::Finish() {
  for (const auto& row : rows_) writer_->Row(row);
  written_ += kept();
  rows_.clear();
  writer_->End(layout_);
}

}  // namespace velnor::forms
