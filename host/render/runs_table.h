// The runs of a collection ledger as the text report and `velnor runs`
// show them: one row per run with its window, sites, outcome and records,
// in aligned columns.
#ifndef VELNOR_HOST_RENDER_RUNS_TABLE_H_
#define VELNOR_HOST_RENDER_RUNS_TABLE_H_

#include <string>
#include <vector>

#include "host/render/json_layout.h"
#include "ledger/ledger_store.h"

namespace velnor::host {

// "completed", "cancelled", "failed, nothing counted", "interrupted,
// nothing counted", or "running" for a run without an end that `running`
// says is going on now.
std::string OutcomeShown(const ledger::RunRow& run, bool running);

// "2024-06-03 to 2024-06-05"; " (today in part)" added for --partial-day.
std::string WindowShown(const ledger::RunRow& run);

// The header and a row per run: run, [server, service,] started and ended
// (UTC), outcome, window, sites, records, mode. With `servers` the server
// and service columns are shown. `running` is the run_id of a run going on
// now, or 0. The ledger's texts come as clean UTF-8 without control
// characters, fit for a terminal.
std::vector<std::vector<std::string>> RunRows(
    const std::vector<ledger::RunRow>& runs, bool servers, int64_t running);

// One run as a JSON object: {"run": 3, "server": "SRV1",
// "service": "web", "started": "2024-06-12T02:30:01Z", "ended": ... | null,
// "outcome": "completed" (or "running", see RunRows), "mode": "count",
// "partial_day": false, "first_day": "2024-06-11", "last_day":
// "2024-06-11", "sites": ["1", "2"], "records": 1650}.
Json RunJson(const ledger::RunRow& run, bool running);

// `rows` (cells of clean text) as lines of columns two blanks apart, each
// line starting with `indent`, trailing blanks dropped.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows,
                           const std::string& indent);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_RUNS_TABLE_H_
