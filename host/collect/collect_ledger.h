// The ledger around a collect run, apart from the run's own session: made
// when the folder has none yet, read before the run (under the run lock, so
// nothing changes it meanwhile), and the run's start committed on its own
// before the run begins, so that a run killed at any moment still shows in
// it, as interrupted, having counted nothing.
#ifndef VELNOR_HOST_COLLECT_COLLECT_LEDGER_H_
#define VELNOR_HOST_COLLECT_COLLECT_LEDGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/ledger_store.h"
#include "reportdb/report_location.h"

namespace velnor::host {

// Each call names the ledger by its `location` (the engine that reaches
// it) and its `path` there (ReportLocation::LedgerPath).

// Reads the ledger of `server`'s service, which exists, whole into
// `contents` (a missing ledger is an empty one, made when the run starts).
// -1 when it was read; else, after the message, the exit status: a ledger
// one of whose tables another tool renamed or dropped refuses the run as
// a usage mistake does, any other failure as a run that could not count.
int ReadLedgerBeforeRun(const reportdb::ReportLocation& location,
                        const std::string& server, bool is_ftp,
                        int lock_wait_ms, ledger::LedgerContents& contents);

// Makes the ledger of `server`'s service, found missing (another run may
// have made it since). Prints the usage mistake and returns false when it
// cannot be made.
bool MakeLedger(const reportdb::ReportLocation& location,
                const std::string& server, bool is_ftp);
// The same for the statistics database beside it.
bool MakeStatistics(const reportdb::ReportLocation& location,
                    const std::string& server, bool is_ftp);

// Commits `run` (its run_id chosen here, one past the largest) as started,
// in the ledger `ledger_schema` of the run's `session` before the run's
// own transaction begins (Session::CommitApart), and returns its run_id;
// first, when `ledger_start` is given, that row (as a run that ended when
// it started), its run_id the one before. Raises
// automation::AutomationError naming the ledger when that fails.
int64_t RecordRunStart(ado::Session& session, const std::string& ledger_schema,
                       ledger::RunRow run,
                       const ledger::RunRow* ledger_start = nullptr);

// The ledger's rows `ledger_start` opens a ledger with on report
// databases of `server` that held counts: the days before `first_day` were
// counted without it.
ledger::RunRow LedgerStartRow(const std::string& server, bool is_ftp,
                              ledger::Day first_day,
                              const std::string& started);

// Marks the run `run_id` as failed (its commit failed: it counted
// nothing), as far as the ledger can still be written; failures are
// dropped, the run then shows as interrupted.
// In the run's `session`, whose own transaction has ended.
void RecordRunFailed(ado::Session& session, const std::string& ledger_schema,
                     int64_t run_id, const std::string& ended);

// Raises automation::AutomationError when a run that had not committed
// when `before` was read has committed hits of a site and day that `days`
// (the rows of the run now committing) count too: two runs counted the
// same records, which only a bypassed run lock lets happen. To be called in
// the committing run's session after its rows are written and before its
// commit, so that no other run can commit to the ledger in between.
// `central`: the ledger is a PostgreSQL store's, whose run lock is an
// advisory lock rather than a lock file, which the message names.
void CheckNothingCountedMeanwhile(ledger::LedgerStore& store,
                                  const ledger::LedgerContents& before,
                                  const std::vector<ledger::DayRow>& days,
                                  bool central);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_LEDGER_H_
