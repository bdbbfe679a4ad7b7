// The four shapes of a `velnor report`: text tables for the terminal, CSV
// and JSON for other programs, and one self-contained HTML page with bar
// charts. Each renders a whole Report into a string; none fails.
//
// Texts from the databases (site names, URLs, labels) may hold any bytes:
// every renderer writes valid UTF-8, replacing invalid sequences by U+FFFD,
// and the text and HTML shapes also replace control characters, so that a
// log line cannot move the terminal's cursor or break the page.
#ifndef VELNOR_HOST_REPORT_RENDER_H_
#define VELNOR_HOST_REPORT_RENDER_H_

#include <string>
#include <string_view>

#include "reportdb/report_reader.h"
#include "host/text_format.h"

namespace velnor::host {

// Aligned tables, one block per site, each count with a bar of block
// characters scaled to the largest count of its table. URLs longer than
// 60 characters are cut, ending in "…".
std::string RenderText(const reportdb::Report& report);

// RFC 4180 (CRLF line ends, fields quoted when needed), one row per count:
//   Identifier,Site Name,Section,Key,Label,Hits
// Section is weekday (Key = Sort Field, Label = day name), month (likewise),
// hour (Key = hour 0-23, Label empty), status (Key = status code, Label =
// status label), url (Key = rank from 1, Label = URL), run (Key = run number
// from 1, oldest first, Label empty) and runs-total (Key and Label empty).
std::string RenderCsv(const reportdb::Report& report);

// One JSON object, indented by two spaces:
//   {"server": "SRV1", "service": "web" | "ftp", "sites": [
//     {"identifier": "1", "name": "Default Web Site",
//      "weekdays": [{"number": 1, "name": "Sunday", "hits": 3}, ...],
//      "months": [{"number": 1, "name": "January", "hits": 0}, ...],
//      "hours": [24 numbers, index = hour],
//      "statuses": [{"code": 404, "label": "Not Found (404)", "sort": 4,
//                    "hits": 2}, ...],
//      "top_urls": [{"url": "/", "hits": 10}, ...],
//      "runs": [5, 7], "runs_total": 12}, ...]}
// Lists keep the order of the Report.
std::string RenderJson(const reportdb::Report& report);

// A complete HTML page with inline CSS and inline SVG charts: no scripts
// and no reference to any other file or address, so it opens offline.
std::string RenderHtml(const reportdb::Report& report);

}  // namespace velnor::host

#endif  // VELNOR_HOST_REPORT_RENDER_H_
