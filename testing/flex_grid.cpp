// The in-memory grid. Out-of-range rows and columns fail with the grid
// control's own errors: 381 for a cell, 30009 for a row or column count
// below the fixed ones.
#include "testing/flex_grid.h"

#include "platform/automation/error_state.h"

namespace velnor::testing {
namespace {

constexpr int32_t kErrBadSubscript = 381;
constexpr int32_t kErrInvalidCount = 30009;
constexpr float kDefaultColWidth = -1;

}  // namespace

FlexGrid::FlexGrid(float width) : width_(width) {
  SetCols(2);
  SetRows(2);
}

void FlexGrid::Clear() {
  for (auto& row : cells_) {
    for (auto& cell : row) cell.clear();
  }
}

void FlexGrid::SetRows(int32_t rows) {
  if (rows < 0) automation::Raise(kErrInvalidCount, "Invalid Row value");
  cells_.resize(static_cast<size_t>(rows),
                std::vector<std::string>(static_cast<size_t>(cols_)));
}

void FlexGrid::SetCols(int32_t cols) {
  if (cols < 0) automation::Raise(kErrInvalidCount, "Invalid Col value");
  cols_ = cols;
  for (auto& row : cells_) row.resize(static_cast<size_t>(cols));
  col_widths_.resize(static_cast<size_t>(cols), kDefaultColWidth);
  merge_cols_.resize(static_cast<size_t>(cols), false);
}

void FlexGrid::CheckCell(int32_t row, int32_t col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) {
    automation::Raise(kErrBadSubscript, "Subscript out of range");
  }
}

void FlexGrid::CheckCol(int32_t col) const {
  if (col < 0 || col >= cols_) {
    automation::Raise(kErrBadSubscript, "Subscript out of range");
  }
}

std::string FlexGrid::TextMatrix(int32_t row, int32_t col) const {
  CheckCell(row, col);
  return cells_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void FlexGrid::SetTextMatrix(int32_t row, int32_t col,
                             const automation::Variant& value) {
  CheckCell(row, col);
  cells_[static_cast<size_t>(row)][static_cast<size_t>(col)] =
      automation::CStr(value);
}

void FlexGrid::AddItem(std::string_view item) {
  cells_.emplace_back(static_cast<size_t>(cols_));
  if (cols_ > 0) cells_.back()[0] = item;
}

void FlexGrid::SetFixedRows(int32_t rows) {
  if (rows < 0 || rows > Rows()) {
    automation::Raise(kErrInvalidCount, "Invalid FixedRows value");
  }
  fixed_rows_ = rows;
}

void FlexGrid::SetFixedCols(int32_t cols) {
  if (cols < 0 || cols > cols_) {
    automation::Raise(kErrInvalidCount, "Invalid FixedCols value");
  }
  fixed_cols_ = cols;
}

void FlexGrid::SetMergeCol(int32_t col, bool merge) {
  CheckCol(col);
  merge_cols_[static_cast<size_t>(col)] = merge;
}

bool FlexGrid::MergeCol(int32_t col) const {
  CheckCol(col);
  return merge_cols_[static_cast<size_t>(col)];
}

void FlexGrid::SetColWidth(int32_t col, float width) {
  CheckCol(col);
  col_widths_[static_cast<size_t>(col)] = width;
}

float FlexGrid::ColWidth(int32_t col) const {
  CheckCol(col);
  return col_widths_[static_cast<size_t>(col)];
}

}  // namespace velnor::testing
