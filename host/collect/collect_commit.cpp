// The commit of a collect run and its end.
#include "host/collect/collect_commit.h"

#include <iostream>

#include "dbsupport/error_log.h"
#include "host/collect/collect_clock.h"
#include "host/collect/collect_ledger.h"
#include "host/common/command_support.h"
#include "ledger/ledger_store.h"
#include "platform/automation/error_state.h"
#include "statistics/statistics_store.h"

namespace velnor::host {
namespace {

// The note for components that had to count record by record.
std::string CountedRecordByRecordNote(const RunSummary& summary) {
  std::string names;
  for (const std::string& name : summary.counted_record_by_record) {
    names += (names.empty() ? "" : ", ") + name;
  }
  return "note: counted record by record, which is slow: " + names +
         " (its tblGeneral lacks a column, or holds counts that are not "
         "whole numbers from 1 up)";
}

}  // namespace

RunCommit CommitRun(ado::Session& session, const JoinedSchemas& schemas,
                    int64_t run_id, const CollectedGroups& collected,
                    const RunLedger* recorder,
                    RunStatisticsObserver* statistics,
                    const ledger::LedgerContents& before, bool central) {
  const bool cancelled = collected.summary.cancel_confirmed;
  const std::string& ledger_schema = schemas.ledger;
  try {
    if (!ledger_schema.empty()) {
      ledger::LedgerStore store(session, ledger_schema);
      store.EndRun(
          run_id, UtcStamp(CollectNow()),
          cancelled ? ledger::Outcome::kCancelled : ledger::Outcome::kCompleted,
          recorder ? recorder->Records() : collected.summary.records);
      if (recorder) {
        CheckNothingCountedMeanwhile(
            store, before,
            recorder->Write(store, run_id, collected.reached, !cancelled),
            central);
      }
    }
    if (statistics && !schemas.statistics.empty()) {
      statistics::StatisticsStore(session, schemas.statistics)
          .Write(statistics->Rows(run_id));
    }
    session.Commit();
  } catch (const ado::CommitOutcomeUnknown& error) {
    WriteErrorLog(error.number(), error.description(), "velnor collect",
                  "Commit");
    return {RunCommit::Kept::kUnknown, error.description()};
  } catch (const automation::AutomationError& error) {
    WriteErrorLog(error.number(), error.description(), "velnor collect",
                  "Commit");
    session.Rollback();
    return {RunCommit::Kept::kNothing, error.description()};
  }
  return {};
}

// The summary's line about the ledger, when the run left days to go on
// with or counted days again; empty otherwise.
std::string LedgerNote(const CollectOptions& options, const PlannedRun& run,
                       int64_t run_id, const CollectedGroups& collected) {
  if (options.raw || run_id == 0) return "";
  const std::string run_text = "ledger: run " + std::to_string(run_id);
  if (collected.summary.cancel_confirmed && options.recount) {
    // A recount reads every file from its start, so going on where it
    // stopped is not what a next recount does.
    return run_text +
           " was cancelled: what it counted again so far stays in the "
           "databases beside the earlier counts; a run without --recount "
           "counts nothing more of the days counted whole before it (it "
           "passes over their records), and another --recount counts them "
           "again from their start (restore the databases first, as for this "
           "run); days it began that were not counted before are counted in "
           "part, and the next run goes on where it stopped";
  }
  if (collected.summary.cancel_confirmed) {
    return run_text +
           " was cancelled: the days it began are counted in part, and the "
           "next run of them goes on where it stopped";
  }
  bool today = false;
  for (const SiteWindow& window : run.windows)
    today |= window.last >= run.today;
  if (today) {
    return run_text + " counted today (" + ledger::DayText(run.today) +
           ") as far as its log is written; the next run goes on from there";
  }
  if (options.recount) {
    return run_text + " counted its days again, as --recount asked";
  }
  return "";
}

int FinishRun(const CollectOptions& options, const CollectOutcome& outcome,
              forms::StreamingGrid* grid, std::ostream& listing) {
  bool written = true;
  if (grid) {
    grid->Finish();
    listing.flush();
    written = static_cast<bool>(listing);
  }
  if (!outcome.run.counted_record_by_record.empty()) {
    std::cerr << CountedRecordByRecordNote(outcome.run) << "\n";
  }
  PrintCollectSummary(outcome, std::cerr);
  if (!written) {
    Usage("the listing could not be written whole to " +
              (options.output.empty() ? std::string("standard output")
                                      : Shown(options.output)),
          "check the free space and the output's destination, then run "
          "again");
  }
  if (outcome.run.cancel_confirmed) return kExitCancelled;
  const bool logged = outcome.errors.written + outcome.errors.lost > 0;
  return logged || !written ? kExitLoggedErrors : kExitCompleted;
}

}  // namespace velnor::host
