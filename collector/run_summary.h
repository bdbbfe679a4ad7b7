// RunSummary: what a collection run did, for a host's summary.
#ifndef VELNOR_COLLECTOR_RUN_SUMMARY_H_
#define VELNOR_COLLECTOR_RUN_SUMMARY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace velnor {

// What the last run did, for a host's summary. Not part of the automation
// interface.
struct RunSummary {
  int32_t sites = 0;    // sites started
  int64_t records = 0;  // records counted or listed
  bool cancel_confirmed = false;
  // The most sites read and counted at once (each on a worker); 1 when
  // they were read one after another.
  int32_t sites_at_once = 1;
  // Why the run's changes were not kept, when the run committed them itself
  // (no session of the host's) and that failed; empty otherwise.
  std::string commit_failure;
  // The report databases counted record by record, slowly, because their
  // tables lack a column or hold counts that are not positive whole
  // numbers ("WebLogHitsByMonth", ...); empty when all were counted in
  // memory, and in raw mode.
  std::vector<std::string> counted_record_by_record;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_RUN_SUMMARY_H_
