// SizeGridColumns: spreads a grid's width evenly over its columns, with a
// smallest column width.
#ifndef VELNOR_DBSUPPORT_GRID_COLUMNS_H_
#define VELNOR_DBSUPPORT_GRID_COLUMNS_H_

#include "platform/automation/object.h"

namespace velnor {

// Gives every column of the grid `grid_object` (a forms::Grid) the width
// (Width - 330) / Cols, at least 1000, as a single-precision number in the
// grid's own unit. Does nothing when Cols is not positive; ignores every
// failure (a missing grid included).
void SizeGridColumns(const automation::ObjectRef& grid_object);

}  // namespace velnor

#endif  // VELNOR_DBSUPPORT_GRID_COLUMNS_H_
