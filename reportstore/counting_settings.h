// How a run counts: in memory, and with how much of it, or record by
// record.
#ifndef VELNOR_REPORTSTORE_COUNTING_SETTINGS_H_
#define VELNOR_REPORTSTORE_COUNTING_SETTINGS_H_

#include <cstddef>

namespace velnor {

struct CountingSettings {
  // Whether a database that can be counted in memory is (false: every
  // record is written as it is counted, the reference the faster way is
  // checked against).
  bool in_memory = true;
  // The memory the counts may take before they are written and counting
  // starts again.
  size_t memory_limit = size_t{256} << 20;
};

}  // namespace velnor

#endif  // VELNOR_REPORTSTORE_COUNTING_SETTINGS_H_
