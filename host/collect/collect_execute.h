// The execution of a planned collect run: its databases joined to one
// session, the registry looked at, the listing's grid, the run's start in
// the ledger, and the component called once per window.
#ifndef VELNOR_HOST_COLLECT_COLLECT_EXECUTE_H_
#define VELNOR_HOST_COLLECT_COLLECT_EXECUTE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "host/collect/collect_plan.h"
#include "host/collect/log_folders.h"
#include "host/collect/run_ledger.h"
#include "host/collect/run_statistics.h"
#include "ledger/counted_days.h"
#include "platform/ado/session.h"
#include "platform/forms/forms.h"
#include "platform/forms/streaming_grid.h"

namespace velnor::host {

// The schemas of a run's session that the host's own statements use.
struct JoinedSchemas {
  std::string hour;        // the hits-by-hour database: the log-file registry
  std::string ledger;      // the collection ledger
  std::string statistics;  // the statistics; empty when the run keeps none
};

// Joins the report databases the run will open, then the ledger, to
// `session` before any statement runs, so that the registry work before the
// run, the run itself and its ledger rows are one transaction. Nothing,
// after the message, when one cannot be used (locked, read-only, not a
// database).
std::optional<JoinedSchemas> JoinDatabases(ado::Session& session,
                                           const CollectOptions& options,
                                           const PlannedRun& run);

// Files the run will skip because they are not registered; registered now
// for sites that have registrations when --register-new-files asks. The
// sites that keep files of their window unread go to `unread_sites`.
std::vector<std::string> CheckRegistry(const CollectOptions& options,
                                       const PlannedRun& run,
                                       const std::vector<SiteFolder>& folders,
                                       ado::Session& session,
                                       const std::string& hour_schema,
                                       const ledger::CountedDays& counted,
                                       std::set<std::string>& unread_sites);

// How the run shows its progress: quiet, the headless status line, or the
// terminal window when standard input and error are a terminal.
forms::BackendPreference Progress(const CollectOptions& options);

// Each site's log folder listed once (see log_folders.h), with a note for
// each FTP site read from the folder IIS 7.5 and later write.
std::vector<SiteFolder> SurveyFolders(LogParserInterface& parser,
                                      const CollectOptions& options,
                                      PlannedRun& run);

// Commits the run's start to the ledger on its own, in `session` before
// the run's transaction begins there, so that a run killed from then on
// shows as interrupted. The run's id (0 without a ledger); nothing after
// the message when it cannot be recorded.
std::optional<int64_t> RecordStart(const CollectOptions& options,
                                   const PlannedRun& run, ado::Session& session,
                                   const std::string& ledger_schema);

// The grid of a raw listing, as wide as the terminal, streaming its rows
// to `listing` through the run's listing writer, which it takes.
std::shared_ptr<forms::StreamingGrid> MakeListingGrid(PlannedRun& run,
                                                      std::ostream& listing);

// What the component's calls of a run did together.
struct CollectedGroups {
  RunSummary summary;
  std::set<std::string> reached;  // identifiers of the sites started
};

// Runs the component once per set of sites that share a window (one call
// for a window given with --from and --to), until one is cancelled, with a
// collector set up by `settings`. The status line and the ledger watch the
// whole of it. `counted`, when given, is called once the last window's
// records are all counted, before its counts are written.
CollectedGroups CollectGroups(
    const RunSettings& settings, const CollectOptions& options,
    const PlannedRun& run, const std::vector<SiteFolder>& folders,
    const std::shared_ptr<forms::StreamingGrid>& grid, RunLedger* recorder,
    RunStatisticsObserver* statistics, const std::function<void()>& counted);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_EXECUTE_H_
