// The overview of a whole fleet: one line per server and service of a
// folder or central store, as text, CSV, JSON or an HTML page that links
// to each server's own page.
#ifndef VELNOR_HOST_RENDER_OVERVIEW_RENDER_H_
#define VELNOR_HOST_RENDER_OVERVIEW_RENDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/render/report_days.h"
#include "host/render/report_render.h"
#include "ledger/ledger_store.h"
#include "reportdb/report_reader.h"

namespace velnor::host {

// One server and service in the overview.
struct OverviewLine {
  std::string server;
  bool is_ftp = false;
  // Why its databases could not be read; the figures below are then
  // unknown and not shown.
  std::string problem;
  bool has_ledger = false;
  // Days the ledger holds counted for any site (within the day limit), and
  // the first and last of them; 0 and no days without a ledger.
  int64_t days = 0;
  ledger::Day first_day = 0;
  ledger::Day last_day = 0;
  // Hits, and of them those with a 4xx or 5xx status (the client's and the
  // server's errors for web, the transient and permanent negative replies
  // for FTP). Without a day limit they are the status tables' (every hit
  // ever counted); with one, the ledger's of the days within it, since the
  // status tables keep no days. Nothing when the set could not be read, or
  // under a limit without a ledger: an all-time figure beside the days of
  // a window would read as the window's.
  std::optional<int64_t> hits;
  std::optional<int64_t> errors;
  // Bytes sent (sc-bytes) and received (cs-bytes) on the days within the
  // limit, from the statistics database; nothing without one, or when no
  // log of those days carried the field.
  std::optional<int64_t> bytes_sent;
  std::optional<int64_t> bytes_received;
  std::optional<ledger::RunRow> last_run;  // the ledger's latest run
  // Whether that run, which has no end, holds its run lock: it is going on
  // now, not interrupted.
  bool last_run_going = false;
};

// The line of `report` with its days limited to `days`.
OverviewLine SummarizeReport(const reportdb::Report& report,
                             const DayLimit& days);

// The file name of a server's own page beside the overview page:
// "SRV1-web.html" or "SRV1-ftp.html".
std::string ServerPageName(const std::string& server, bool is_ftp);

// `where` (the folder or URL) in a heading, then aligned columns: server,
// service, days, first and last day, hits, errors, bytes sent and
// received, the last run's start (UTC) and outcome. Unknown figures show as
// "-"; a set that could not be read has its problem on the line's end.
std::string RenderOverviewText(const std::vector<OverviewLine>& lines,
                               const std::string& where,
                               const RenderOptions& options);

// RFC 4180 with a header: Server,Service,Days,First Day,Last Day,Hits,
// Errors,Bytes Sent,Bytes Received,Last Run,Last Run Started,Last Run
// Ended,Last Run Outcome,Problem.
// Fields without a value are empty.
std::string RenderOverviewCsv(const std::vector<OverviewLine>& lines);

// {"servers": [{"server": "SRV1", "service": "web", "days": 3 | null,
//   "first_day": "2024-06-03" | null, "last_day": ... | null,
//   "hits": 1650 | null, "errors": 12 | null,
//   "bytes_sent": 5120000 | null, "bytes_received": 81000 | null,
//   "last_run": {run as `velnor runs` writes it} | null,
//   "problem": null | "..."}, ...]}
// "days" and the days are null without a ledger, the figures null when
// the set could not be read, the hits and errors null when they are not
// known (a day limit without a ledger), the bytes null when they are not
// known.
std::string RenderOverviewJson(const std::vector<OverviewLine>& lines);

// One page in the style of the server pages, a table of the lines whose
// server names link to ServerPageName() beside it (none for a set that
// could not be read).
std::string RenderOverviewHtml(const std::vector<OverviewLine>& lines,
                               const std::string& where,
                               const RenderOptions& options);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_OVERVIEW_RENDER_H_
