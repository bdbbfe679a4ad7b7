// The plan of a collect run, made before anything is written: the checks
// of the options, sites and files, the run lock, and each site's days
// against the collection ledger.
#ifndef VELNOR_HOST_COLLECT_COLLECT_PLAN_H_
#define VELNOR_HOST_COLLECT_COLLECT_PLAN_H_

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "host/collect/collect_options.h"
#include "host/collect/collect_window.h"
#include "host/common/command_support.h"
#include "host/render/grid_render.h"
#include "ledger/ledger_store.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"
#include "reportdb/pg_run_lock.h"
#include "reportdb/report_location.h"
#include "reportdb/run_lock.h"

namespace velnor::host {

// What the checks and the ledger made of the options.
struct PlannedRun {
  reportdb::ReportLocation location;  // --db-dir, or --db-url / VELNOR_DB_URL
  std::string server;                 // as the report databases spell it
  std::optional<double> from;         // --from, --to
  std::optional<double> to;
  std::optional<double> start_ledger;  // --start-ledger
  std::vector<std::string> sites;
  // --windows-dir, --windows-dirs, or found by --discover-sites.
  wmi::WindowsDirectories windows_directories;
  // How the shares are reached (--share-root, the SMB options), with the
  // folder aliases the survey of the log folders adds.
  unc::ShareAccess shares;
  GridFormat format = GridFormat::kTable;
  GridText text;
  std::string error_log;
  std::unique_ptr<OutputFile> output;  // with --output
  // A raw listing's writer, made with the output before the databases.
  std::unique_ptr<forms::GridWriter> listing_writer;
  std::vector<std::string> notes;  // printed after the summary line
  std::string ledger_path;
  // Whether the ledger existed when the run was checked: one that did is
  // read, one that did not is made when the run starts.
  bool ledger_found = false;
  // The statistics database the run writes; empty when it keeps none (a
  // raw listing, --no-statistics).
  std::string statistics_path;
  ledger::LedgerContents ledger;    // as it was before the run
  ledger::Day today = 0;            // in the logs' time
  std::vector<SiteWindow> windows;  // of the sites of `sites`, in order
};

// Checks the options (dates, server name and spelling, sites, the
// databases or store, the files the run writes, the error log, --output),
// sets up how the shares are reached, and fills `run`. False after the
// usage message; nothing is made or written.
bool CheckCollect(const CollectOptions& options, PlannedRun& run);

// The sites' log directories, against one that names the site's log
// folder itself (see site_log_folder.h). False after the usage message.
bool CheckLogDirectories(LogParserInterface& parser,
                         const CollectOptions& options, const PlannedRun& run);

// Once every check has passed: the --output file (its bytes kept until
// the listing begins) and a raw listing's writer (the table's temporary
// file), which can still refuse the run, first; then the ledger and the
// statistics database found missing, and the databases or schemas
// --create-db asks for. The exit status when one cannot be made (after the
// usage message; an --output file this made is removed again), -1 when the
// run goes on.
int MakeWhatTheRunWrites(const CollectOptions& options, PlannedRun& run);

// Empties the --output file as the listing begins, once the run has
// started: a run refused before then leaves a user's file as it was. False
// after the message when it cannot be emptied.
bool BeginOutput(const CollectOptions& options, PlannedRun& run);

// For a run refused before its listing began: the listing's writer and
// the --output file closed, the file removed when the run made it.
void DropOutput(PlannedRun& run);

// The run lock of the run's databases, held as long as this lives.
struct HeldRunLock {
  std::optional<reportdb::RunLock> file;       // a folder's
  std::unique_ptr<reportdb::PgRunLock> store;  // a central store's
};

// Takes the run lock beside the run's databases, waiting --wait seconds
// for another run. The exit status when it was not taken (after the
// message), -1 when it was.
int TakeRunLock(const CollectOptions& options, const PlannedRun& run,
                HeldRunLock& lock);

// Under the run lock: reads the ledger and decides each site's days (see
// collect_window.h); sites with nothing to collect are left out of the
// run (MakeWhatTheRunWrites makes a missing ledger). The exit
// status when the run must not go on (after its message; 0 when there is
// nothing to collect), -1 when it goes on.
int PlanDays(const CollectOptions& options, PlannedRun& run);

// What a run interrupted in its checks tells: nothing was collected.
inline constexpr char kCancelledBeforeTheRun[] =
    "velnor: cancelled before the run started; nothing was collected\n";

// Prints kCancelledBeforeTheRun and returns the cancelled status.
int CancelledBeforeTheRun();

// `status`, or the cancelled one when an interrupt came meanwhile: a wait
// for a database another process holds ends early then, and fails.
int Stopped(int status);

// --wait in milliseconds.
int WaitMs(const CollectOptions& options);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_PLAN_H_
