// FlexGrid: a grid control held whole in memory, for raw-mode runs whose
// rows are read afterwards (the raw-mode tests and the collector benchmark;
// the velnor command streams its rows through host/streaming_grid.h
// instead). Cells hold text; a value is stored as the text the grid shows
// for it.
#ifndef VELNOR_TESTING_FLEX_GRID_H_
#define VELNOR_TESTING_FLEX_GRID_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/forms/grid.h"

namespace velnor::testing {

class FlexGrid : public forms::Grid {
 public:
  // A grid `width` twips wide (the velnor command counts 120 to a character
  // cell of its terminal, host/grid_render.h), with the control's default of
  // 2 rows and 2 columns.
  explicit FlexGrid(float width);

  void Clear() override;
  int32_t Rows() const override { return static_cast<int32_t>(cells_.size()); }
  void SetRows(int32_t rows) override;
  int32_t Cols() const override { return cols_; }
  void SetCols(int32_t cols) override;
  std::string TextMatrix(int32_t row, int32_t col) const override;
  void SetTextMatrix(int32_t row, int32_t col,
                     const automation::Variant& value) override;
  void AddItem(std::string_view item) override;
  void SetFixedRows(int32_t rows) override;
  void SetFixedCols(int32_t cols) override;
  void SetMergeCol(int32_t col, bool merge) override;
  float Width() const override { return width_; }
  void SetColWidth(int32_t col, float width) override;
  float ColWidth(int32_t col) const override;

  int32_t FixedRows() const { return fixed_rows_; }
  int32_t FixedCols() const { return fixed_cols_; }
  bool MergeCol(int32_t col) const;

 private:
  void CheckCell(int32_t row, int32_t col) const;
  void CheckCol(int32_t col) const;

  float width_;
  int32_t cols_ = 0;
  int32_t fixed_rows_ = 1;
  int32_t fixed_cols_ = 1;
  std::vector<std::vector<std::string>> cells_;
  std::vector<float> col_widths_;  // negative: the default width
  std::vector<bool> merge_cols_;
};

}  // namespace velnor::testing

#endif  // VELNOR_TESTING_FLEX_GRID_H_
