// The commit of a collect run: its ledger rows and counts kept together or
// not at all, and what the run says when it ends.
#ifndef VELNOR_HOST_COLLECT_COLLECT_COMMIT_H_
#define VELNOR_HOST_COLLECT_COLLECT_COMMIT_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "host/collect/collect_execute.h"
#include "host/collect/collect_summary.h"

namespace velnor::host {

// How a run's commit ended.
struct RunCommit {
  enum class Kept { kAll, kNothing, kUnknown };
  Kept kept = Kept::kAll;
  // Why nothing was stored, or why it cannot be told whether all was;
  // empty when all was.
  std::string reason;
};

// Writes the run's end and its ledger rows into the run's session, checks
// them against what other runs committed meanwhile (`before`: the ledger
// the run was planned on) and commits it.
// The run's statistics, when it keeps them, go into the schema
// `schemas.statistics` of the same session. `central`: the session's
// databases are a PostgreSQL store's.
RunCommit CommitRun(ado::Session& session, const JoinedSchemas& schemas,
                    int64_t run_id, const CollectedGroups& collected,
                    const RunLedger* recorder,
                    RunStatisticsObserver* statistics,
                    const ledger::LedgerContents& before, bool central);

// The summary's line about the ledger, when the run left days to go on
// with or counted days again; empty otherwise.
std::string LedgerNote(const CollectOptions& options, const PlannedRun& run,
                       int64_t run_id, const CollectedGroups& collected);

// Finishes the listing, prints the summary and its notes, and returns the
// run's exit status: cancelled, errors logged (or a listing not written
// whole), or completed.
int FinishRun(const CollectOptions& options, const CollectOutcome& outcome,
              forms::StreamingGrid* grid, std::ostream& listing);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_COMMIT_H_
