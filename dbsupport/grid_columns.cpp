// Column widths of the raw-data grid.
#include "dbsupport/grid_columns.h"

#include "platform/automation/error_state.h"
#include "platform/forms/grid.h"

namespace velnor {

void SizeGridColumns(const automation::ObjectRef& grid_object) {
  using automation::ResumeNext;
  auto grid = std::dynamic_pointer_cast<forms::Grid>(grid_object);
  if (!grid) return;
  int32_t cols = 0;
  ResumeNext([&] { cols = grid->Cols(); });
  if (cols <= 0) return;
  // 330 units go to the grid's frame; the share is not rounded.
  float width = 0;
  ResumeNext([&] {
    width =
        static_cast<float>((static_cast<double>(grid->Width()) - 330.0) / cols);
  });
  if (width < 1000) width = 1000;
  for (int32_t i = 0; i <= cols - 1; ++i) {
    ResumeNext([&] { grid->SetColWidth(i, width); });
  }
  automation::Err().Clear();
}

}  // namespace velnor
