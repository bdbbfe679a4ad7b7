// The ledger around a collect run, apart from the run's own session: made
// when the folder has none yet, read before the run (under the run lock, so
// nothing changes it meanwhile), and the run's start committed on its own
// before the run begins, so that a run killed at any moment still shows in
// it, as interrupted, having counted nothing.
#ifndef VELNOR_HOST_COLLECT_LEDGER_H_
#define VELNOR_HOST_COLLECT_LEDGER_H_

#include <cstdint>
#include <string>

#include "ledger/ledger_store.h"

namespace velnor::host {

// Reads the ledger `path` whole into `contents`; a missing ledger reads as
// an empty one (MakeLedger makes it once the run's checks have passed).
// Prints the usage mistake and returns false when it cannot be read.
// Makes the ledger `path` when it is missing; nothing for "" (a central
// store). Prints the usage mistake and returns false when it cannot be
// made.
bool MakeLedger(const std::string& path);

bool ReadLedgerBeforeRun(const std::string& path, int lock_wait_ms,
                         ledger::LedgerContents& contents);

// Commits `run` (its run_id chosen here, one past the largest) as started
// and returns its run_id. Raises automation::AutomationError naming the
// ledger when that fails.
int64_t RecordRunStart(const std::string& path, int lock_wait_ms,
                       ledger::RunRow run);

// Marks the run `run_id` as failed (its commit failed: it counted
// nothing), as far as the ledger can still be written; failures are
// dropped, the run then shows as interrupted.
void RecordRunFailed(const std::string& path, int lock_wait_ms, int64_t run_id,
                     const std::string& ended);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_LEDGER_H_
