// Raw mode: the host's grid gets a header row at the start of the run, one
// row per record of the date window, and its finishing steps at the end.
#include "collector/collection_run.h"
#include "dbsupport/db_support.h"
#include "dbsupport/grid_columns.h"

namespace velnor {
namespace {

using automation::Variant;

constexpr std::array<const char*, 7> kHeaders = {
    "Server Name", "Site Name", "Client IP", "Method",
    "Page URL",    "Status",    "Date"};

// The grid the run drives; a missing or foreign object fails each call the
// way a late-bound call on it would.
forms::Grid& GridOf(const std::shared_ptr<forms::Grid>& grid,
                    const automation::ObjectRef& object) {
  if (!grid) {
    automation::Raise(object ? automation::kErrMemberNotSupported
                             : automation::kErrObjectNotSet);
  }
  return *grid;
}

}  // namespace

void CollectionRun::SetUpGrid() {
  grid_ = std::dynamic_pointer_cast<forms::Grid>(state_.mobjGrd);
  auto grid = [&]() -> forms::Grid& { return GridOf(grid_, state_.mobjGrd); };
  step_([&] { grid().Clear(); });
  step_([&] { grid().SetRows(1); });
  step_([&] { grid().SetCols(7); });
  for (int32_t c = 0; c < 7; ++c) {
    step_([&] { grid().SetTextMatrix(0, c, kHeaders[c]); });
  }
}

void CollectionRun::AddGridRow(const Site& site) {
  auto grid = [&]() -> forms::Grid& { return GridOf(grid_, state_.mobjGrd); };
  step_([&] { grid().AddItem(""); });
  const int32_t r = ++grid_row_counter_;
  step_([&] { grid().SetTextMatrix(r, 0, state_.mstrServerName); });
  step_([&] { grid().SetTextMatrix(r, 1, site.name); });
  step_([&] {
    grid().SetTextMatrix(r, 2, NullToDefault(reader_->ClientIp(), ""));
  });
  step_([&] {
    grid().SetTextMatrix(r, 3, NullToDefault(reader_->Method(), ""));
  });
  step_([&] {
    grid().SetTextMatrix(r, 4, NullToDefault(reader_->URIStem(), ""));
  });
  step_([&] {
    grid().SetTextMatrix(
        r, 5, NullToDefault(reader_->ProtocolStatus(), Variant(int16_t{0})));
  });
  step_([&] {
    grid().SetTextMatrix(r, 6, NullToDefault(reader_->DateTime(), ""));
  });
}

void CollectionRun::FinishGrid() {
  auto grid = [&]() -> forms::Grid& { return GridOf(grid_, state_.mobjGrd); };
  step_([&] { SizeGridColumns(state_.mobjGrd); });
  step_([&] { grid().SetFixedRows(1); });
  step_([&] { grid().SetFixedCols(0); });
  step_([&] { grid().SetMergeCol(0, true); });
  step_([&] { grid().SetMergeCol(1, true); });
}

}  // namespace velnor
