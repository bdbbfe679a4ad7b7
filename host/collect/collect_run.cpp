// A collect run in its three steps: plan, execute, commit.
#include "host/collect/collect_run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "component/velnor.h"
#include "dbsupport/error_log.h"
#include "host/collect/collect_clock.h"
#include "host/collect/collect_commit.h"
#include "host/collect/collect_execute.h"
#include "host/collect/collect_ledger.h"
#include "host/collect/collect_plan.h"
#include "host/collect/run_ledger.h"
#include "host/common/command_support.h"
#include "platform/ado/pg_connection.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::host {
namespace {

// The checks the component's resolution of log directories needs, the run
// lock and each site's days; then what the run writes is made. The exit
// status when the run must not go on, -1 when it goes on.
int Plan(LogParserInterface& parser, const CollectOptions& options,
         PlannedRun& run, HeldRunLock& lock) {
  if (!CheckLogDirectories(parser, options, run)) return kExitUsage;
  if (interrupt::Interrupted()) return CancelledBeforeTheRun();
  if (int status = TakeRunLock(options, run, lock); status >= 0) {
    return status;
  }
  // Under the lock the ledger cannot change until this run commits.
  int status = PlanDays(options, run);
  // Every check has passed: only now is anything made or written.
  if (status < 0) status = MakeWhatTheRunWrites(options, run);
  if (status < 0) return -1;
  // A run refused in a new folder leaves it as it was.
  if (lock.file) lock.file->RemoveFileIfMade();
  return Stopped(status);
}

// A run refused once planned (its databases not joined, its start not
// recorded, its output not emptied) leaves what it made for itself no more
// than one refused in its planning does: an --output file and a lock file
// it made go again.
int RefusedAfterPlanning(int status, PlannedRun& run, HeldRunLock& lock) {
  DropOutput(run);
  if (lock.file) lock.file->RemoveFileIfMade();
  return Stopped(status);
}

// The ledger's listener of a counting run that records itself; none for a
// raw listing or a run without a ledger.
std::unique_ptr<RunLedger> MakeRecorder(
    const CollectOptions& options, const PlannedRun& run, int64_t run_id,
    const ledger::CountedDays& counted, const std::vector<SiteFolder>& folders,
    const std::set<std::string>& unread_sites) {
  if (options.raw || run_id == 0) return nullptr;
  auto recorder = std::make_unique<RunLedger>(counted, folders, run.windows,
                                              options.recount, CollectNow());
  // Their days are counted in part: a later run that reads the files (once
  // registered) goes on from where this one left the others.
  for (const std::string& site : unread_sites) {
    recorder->KeepsFilesUnread(site);
  }
  return recorder;
}

// The command that shows whether the run `run_id` (0: one without a
// ledger) was stored.
std::string HowToTellWhetherStored(const PlannedRun& run, int64_t run_id) {
  const std::string where =
      (run.location.IsPostgres() ? " --db-url " : " --db-dir ") +
      ShellWord(run.location.Name()) + " --server " + run.server;
  if (run_id == 0) return "see which in velnor report" + where;
  return "see which with velnor runs" + where + " (run " +
         std::to_string(run_id) + " is listed as completed when it was)";
}

// Runs a collector made with `settings` over the planned sites in `session`,
// commits, and ends the run with its summary; returns the exit status.
int CollectAndCommit(const RunSettings& settings, const CollectOptions& options,
                     PlannedRun& run, const std::vector<SiteFolder>& folders,
                     ado::Session& session, const JoinedSchemas& schemas,
                     int64_t run_id) {
  const ledger::CountedDays counted(run.ledger);
  std::set<std::string> unread_sites;
  std::vector<std::string> unread = CheckRegistry(
      options, run, folders, session, schemas.hour, counted, unread_sites);
  run.notes.insert(run.notes.end(), unread.begin(), unread.end());
  if (interrupt::Interrupted()) return CancelledBeforeTheRun();

  std::ostream& listing = run.output ? *run.output : std::cout;
  std::shared_ptr<forms::StreamingGrid> grid =
      options.raw ? MakeListingGrid(run, listing) : nullptr;
  std::unique_ptr<RunLedger> recorder =
      MakeRecorder(options, run, run_id, counted, folders, unread_sites);
  std::unique_ptr<RunStatisticsObserver> statistics;
  if (recorder && !schemas.statistics.empty()) {
    statistics =
        std::make_unique<RunStatisticsObserver>(options.ftp, recorder.get());
  }
  auto started = std::chrono::steady_clock::now();
  const CollectedGroups collected =
      CollectGroups(settings, options, run, folders, grid, recorder.get(),
                    statistics.get(), [&statistics, run_id] {
                      if (statistics) statistics->PackInBackground(run_id);
                    });
  const RunCommit commit =
      CommitRun(session, schemas, run_id, collected, recorder.get(),
                statistics.get(), run.ledger, run.location.IsPostgres());
  // A commit whose outcome is unknown may have kept the run: its ledger
  // row stays as the commit left it, rather than marked failed.
  if (commit.kept == RunCommit::Kept::kNothing && run_id != 0) {
    RecordRunFailed(session, schemas.ledger, run_id, UtcStamp(CollectNow()));
  }
  if (recorder) {
    std::vector<std::string> notes = recorder->Notes();
    run.notes.insert(run.notes.end(), notes.begin(), notes.end());
  }
  if (std::string note = LedgerNote(options, run, run_id, collected);
      !note.empty()) {
    run.notes.push_back(note);
  }
  CollectOutcome outcome{
      collected.summary,
      run.server,
      options.ftp,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count(),
      std::move(run.notes),
      ErrorLogLines(),
      run.error_log,
      options.raw};
  if (commit.kept == RunCommit::Kept::kNothing) {
    Usage("nothing of this run was stored: " + commit.reason,
          "the databases are as they were before the run; correct the cause "
          "and run the same command again");
    return kExitLoggedErrors;
  }
  if (commit.kept == RunCommit::Kept::kUnknown) {
    Usage("this run may or may not have been stored: " + commit.reason,
          "the store keeps a run whole or not at all; " +
              HowToTellWhetherStored(run, run_id) +
              " before running the same command again");
    return kExitLoggedErrors;
  }
  return FinishRun(options, outcome, grid.get(), listing);
}

}  // namespace

int RunCollect(const CollectOptions& options) {
  // The steps of a run into a store (its checks, the lock, the ledger, the
  // statistics' tables, the load) take turns on the run lock's connection
  // rather than each opening its own. Made first, so that it outlives them
  // all.
  ado::pg::ConnectionReuse reuse;
  // From here on Ctrl+C and SIGTERM stop the command the way Cancel does.
  interrupt::CatchScope catching;
  PlannedRun run;
  if (!CheckCollect(options, run)) return kExitUsage;
  RunSettings settings;
  settings.counting.in_memory = options.tally == "memory";
  settings.windows_directories = run.windows_directories;
  settings.workers =
      options.workers > 0
          ? options.workers
          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  settings.progress_window = Progress(options);
  settings.shares = run.shares;
  auto parser = CreateLogParser({}, settings);
  parser->SetErrorLogPath(run.error_log);
  HeldRunLock lock;
  if (int status = Plan(*parser, options, run, lock); status >= 0) {
    return status;
  }

  ResetErrorLogTally();
  const std::vector<SiteFolder> folders = SurveyFolders(*parser, options, run);
  // The run's collector reads through the folder aliases the survey found.
  settings.shares = run.shares;
  // The run's changes to its databases and its ledger rows are kept
  // together or not at all: the registry's, the component's and the
  // ledger's statements run in this session, committed only after the run.
  auto session =
      ado::Session::Begin(WaitMs(options), run.location.MakeEngine());
  const std::optional<JoinedSchemas> schemas =
      JoinDatabases(*session, options, run);
  if (!schemas) return RefusedAfterPlanning(kExitLoggedErrors, run, lock);
  const std::optional<int64_t> run_id =
      RecordStart(options, run, *session, schemas->ledger);
  if (!run_id) return RefusedAfterPlanning(kExitLoggedErrors, run, lock);
  if (!BeginOutput(options, run)) {
    if (*run_id != 0) {
      RecordRunFailed(*session, schemas->ledger, *run_id,
                      UtcStamp(CollectNow()));
    }
    return RefusedAfterPlanning(kExitLoggedErrors, run, lock);
  }
  return CollectAndCommit(settings, options, run, folders, *session, *schemas,
                          *run_id);
}

}  // namespace velnor::host
