// The status labels of the status report: per service a fixed list of
// well-known codes with their labels, in report order, and "Others" for
// every other code. A label's position in its list is its sort field.
#ifndef VELNOR_REPORTDB_STATUS_LABELS_H_
#define VELNOR_REPORTDB_STATUS_LABELS_H_

#include <cstdint>
#include <string_view>

namespace velnor::reportdb {

inline constexpr std::string_view kOtherStatusLabel = "Others";
inline constexpr int32_t kOtherStatusSort = 100;

struct StatusLabel {
  std::string_view label;
  int32_t sort = kOtherStatusSort;
};

// The label and sort position of `status` in the list that `site_column`
// ("FTP Site Name" or "Web Site Name") selects; "Others" (100) for a code
// outside the list or for any other column name.
StatusLabel StatusLabelOf(std::string_view site_column, int32_t status);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_STATUS_LABELS_H_
