// The four shapes of a `velnor report`: text tables for the terminal, CSV
// and JSON for other programs, and one self-contained HTML page with bar
// charts. Each renders a whole Report into a string; none fails.
//
// Texts from the databases (site names, URLs, labels) may hold any bytes:
// every renderer writes valid UTF-8, replacing invalid sequences by U+FFFD,
// and the text and HTML shapes also replace control characters, so that a
// log line cannot move the terminal's cursor or break the page.
#ifndef VELNOR_HOST_RENDER_REPORT_RENDER_H_
#define VELNOR_HOST_RENDER_REPORT_RENDER_H_

#include <ctime>
#include <string>
#include <string_view>

#include "host/render/report_days.h"
#include "host/render/text_format.h"
#include "reportdb/report_reader.h"

namespace velnor::host {

// What the text and page shapes show besides the counts.
struct RenderOptions {
  std::time_t made = 0;  // when the report was made, shown in local time
  // Text only: bars, rules and the cut mark in ASCII, for a terminal whose
  // locale is not UTF-8.
  bool ascii = false;
  // The days of the daily series and the ledger's runs shown.
  DayLimit days;
};

// A heading with the time made and what the databases hold, the ledger's
// runs, then aligned tables, one block per site (the daily series first),
// each count with a bar scaled to the largest count of its table: block
// characters in eighths, or "#" per column with `options.ascii`. Texts longer
// than 60 characters are cut, ending in "…"
// ("..." in ASCII).
std::string RenderText(const reportdb::Report& report,
                       const RenderOptions& options);

// RFC 4180 (CRLF line ends, fields quoted when needed), one row per count:
//   Identifier,Site Name,Section,Key,Label,Hits
// Section is weekday (Key = Sort Field, Label = day name), month (likewise),
// hour (Key = hour 0-23, Label empty), status (Key = status code, Label =
// status label), url (Key = rank from 1, Label = URL), command (FTP only:
// the entries without a path, Key = rank from 1, Label = the entry), run
// (Key = run number from 1, oldest first, Label empty), runs-total (Key
// and Label empty) and day (the ledger's daily series within `days`: Key =
// YYYY-MM-DD, Label = the weekday's name, then " (weekend)" on Saturday and
// Sunday and " (in part)" for a day counted so far only), and from the
// statistics database, for the days within `days`: statistic (Key =
// YYYY-MM-DD, Label = the figure's name: hits_1xx .. hits_5xx, bytes_sent,
// bytes_received, visitors, sessions (FTP), p50, p95, p99 and mean of the
// time taken in ms; Hits = the figure, the mean with two decimals; a
// figure whose field the logs did not carry that day has no row), top_404,
// top_5xx and top_time_taken (Key = YYYY-MM-DD, Label = the URL, Hits =
// its 404s, 5xx or total ms; at most 10 a day, largest first).
std::string RenderCsv(const reportdb::Report& report,
                      const DayLimit& days = {});

// One JSON object, indented by two spaces:
//   {"server": "SRV1", "service": "web" | "ftp", "sites": [
//     {"identifier": "1", "name": "Default Web Site",
//      "weekdays": [{"number": 1, "name": "Sunday", "hits": 3}, ...],
//      "months": [{"number": 1, "name": "January", "hits": 0}, ...],
//      "hours": [24 numbers, index = hour],
//      "statuses": [{"code": 404, "label": "Not Found (404)", "sort": 4,
//                    "hits": 2}, ...],
//      "top_urls": [{"url": "/", "hits": 10}, ...],
//      "commands_without_path": [{"url": "anonymous", "hits": 3}, ...],
//      "runs": [5, 7], "runs_total": 12,
//      "days": [{"day": "2024-06-08", "weekday": "Saturday",
//                "weekend": true, "complete": true, "hits": 12,
//                "hits_2xx": 9, "hits_3xx": 1, "hits_4xx": 2,
//                "hits_5xx": 0}, ...]}, ...],
//    "ledger": null | {"runs": [{"run": 3, "started": "2024-06-12T02:30:01Z",
//      "ended": "..." | null, "outcome": "completed", "mode": "count",
//      "partial_day": false, "first_day": "2024-06-11",
//      "last_day": "2024-06-11", "sites": ["1", "2"], "records": 1650},
//      ...]}}
// "commands_without_path" appears in FTP reports only. "days" and the
// ledger's runs are those within `days`; "ledger" is null when the folder
// has no collection ledger. Lists keep the order of the Report.
std::string RenderJson(const reportdb::Report& report,
                       const DayLimit& days = {});

// A complete HTML page with inline CSS and inline SVG charts, and no
// reference to any other file or address, so it opens offline. The wide
// charts come twice, drawn for a wide and for a narrow window, and the
// style sheet shows the one that fits, so that no label overlaps another
// and none shrinks past reading on a phone. The style sheet has a dark
// form (prefers-color-scheme) and a print form; a small inline script
// sorts the tables by a clicked header, and the page reads the same
// without it. A daily series of more than a quarter is drawn by week;
// an axis whose days cross a year labels them with it. Cut texts have
// the whole text on hover; status codes the label list calls "Others"
// have their HTTP reason phrase beside them (web).
std::string RenderHtml(const reportdb::Report& report,
                       const RenderOptions& options);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_REPORT_RENDER_H_
