// The grid a host hands to a raw-mode run: it takes the run's grid calls as
// any grid does, but passes each row to a GridWriter as soon as the row is
// complete (when the next AddItem comes, or at Finish) and keeps only the
// row being filled. A listing of any length therefore costs the memory of
// one row.
#ifndef VELNOR_PLATFORM_FORMS_STREAMING_GRID_H_
#define VELNOR_PLATFORM_FORMS_STREAMING_GRID_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/grid.h"

namespace velnor::forms {

// The layout the run gave the grid, known once it is finished.
struct GridLayout {
  std::vector<float> col_widths;  // twips; not positive: the default
  std::vector<bool> merge_cols;
  int32_t fixed_rows = 1;
  int32_t fixed_cols = 1;
};

// Where a StreamingGrid's rows go: the first row is the header.
class GridWriter {
 public:
  virtual ~GridWriter() = default;
  virtual void Row(const std::vector<std::string>& cells) = 0;
  // After the last row.
  virtual void End(const GridLayout& layout) = 0;
};

// Rows already passed to the writer are gone: reading or writing a cell of
// one raises 381 "Subscript out of range", as a cell outside the grid
// does, and so does shrinking the grid below them (30009).
class StreamingGrid : public forms::Grid {
 public:
  // A grid `width` twips wide, with the grid control's default of 2 rows
  // and 2 columns, writing to `writer`.
  StreamingGrid(float width, std::unique_ptr<GridWriter> writer);

  void Clear() override;
  int32_t Rows() const override { return written_ + kept(); }
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

  // Passes the rows still held to the writer and ends the listing. Call
  // once, after the run.
  void Finish();

 private:
  int32_t kept() const { return static_cast<int32_t>(rows_.size()); }
  std::string& Cell(int32_t row, int32_t col);
  void CheckCol(int32_t col) const;

  float width_;
  int32_t cols_ = 0;
  int32_t written_ = 0;                         // rows passed to the writer
  std::vector<std::vector<std::string>> rows_;  // rows written_ onwards
  GridLayout layout_;
  std::unique_ptr<GridWriter> writer_;
};

}  // namespace velnor::forms

#endif  // VELNOR_PLATFORM_FORMS_STREAMING_GRID_H_
