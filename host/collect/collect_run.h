// A whole collect run: plan (checks, run lock, each site's days), execute
// (the component once per window, in one session) and commit (counts and
// ledger rows together), then the summary.
#ifndef VELNOR_HOST_COLLECT_COLLECT_RUN_H_
#define VELNOR_HOST_COLLECT_COLLECT_RUN_H_

#include "host/collect/collect_options.h"

namespace velnor::host {

// Runs the collection `options` ask for; returns the exit status
// (kExitCompleted, kExitLoggedErrors, kExitUsage or kExitCancelled).
int RunCollect(const CollectOptions& options);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_RUN_H_
