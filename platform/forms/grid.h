// The grid control a host passes to a raw-mode run: the members the run
// drives, by the names the run calls. Any object that implements them
// serves; the velnor command has one that renders as a table or CSV.
#ifndef VELNOR_PLATFORM_FORMS_GRID_H_
#define VELNOR_PLATFORM_FORMS_GRID_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation/object.h"
#include "platform/automation/variant.h"

namespace velnor::forms {

class Grid : public automation::Object {
 public:
  // Removes every cell's text (the row and column counts stay).
  virtual void Clear() = 0;
  virtual int32_t Rows() const = 0;
  virtual void SetRows(int32_t rows) = 0;
  virtual int32_t Cols() const = 0;
  virtual void SetCols(int32_t cols) = 0;
  // Cell text; a cell outside the grid raises 381 "Subscript out of range".
  virtual std::string TextMatrix(int32_t row, int32_t col) const = 0;
  // Stores the value shown as text (numbers as digits, dates in the default
  // date-time form).
  virtual void SetTextMatrix(int32_t row, int32_t col,
                             const automation::Variant& value) = 0;
  // Appends a row whose first cell holds `item`.
  virtual void AddItem(std::string_view item) = 0;
  virtual void SetFixedRows(int32_t rows) = 0;
  virtual void SetFixedCols(int32_t cols) = 0;
  virtual void SetMergeCol(int32_t col, bool merge) = 0;
  // Width of the control in its own unit.
  virtual float Width() const = 0;
  virtual void SetColWidth(int32_t col, float width) = 0;
  virtual float ColWidth(int32_t col) const = 0;
};

}  // namespace velnor::forms

#endif  // VELNOR_PLATFORM_FORMS_GRID_H_
