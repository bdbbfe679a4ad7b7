// The page shape of a report: one HTML file with its style sheet, its
// script and its charts (SVG, drawn by html_charts) inline, so that it can be
// mailed or archived and opened offline, and shows the same in any browser,
// printed or with scripts off.
#include <fmt/format.h>

#include <string_view>
#include <vector>

#include "host/render/html_charts.h"
#include "host/render/overview_render.h"
#include "host/render/report_contents.h"
#include "host/render/report_days.h"
#include "host/render/report_highlights.h"
#include "host/render/report_render.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"

namespace velnor::host {

using html::BucketChart;
using html::DaysFigure;
using html::EntryChart;
using html::Escape;
using html::Figure;
using html::FirstChars;
using html::Grouped;
using html::HourChart;
using html::StatusChart;
using reportdb::kTopUrlCount;
using reportdb::Report;
using reportdb::SiteReport;
namespace {

constexpr std::string_view kStyle = R"(
body{margin:0;background:#f3f5f8;color:#1c2733;
 font-family:system-ui,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
header{background:#1f3a5f;color:#fff;padding:22px 40px}
header h1{margin:0;font-size:26px;font-weight:600}
header p{margin:6px 0 0;opacity:.85}
main{max-width:1120px;margin:0 auto;padding:8px 40px 40px}
nav{margin:18px 0 0;font-size:14px}
nav a{color:#1f5fa8;margin-right:14px}
section{background:#fff;border-radius:10px;padding:22px 28px;margin:22px 0;
 box-shadow:0 1px 4px rgba(20,40,70,.12)}
section h2{margin:0 0 14px;font-size:22px;color:#1f3a5f;
 border-bottom:2px solid #dfe6ee;padding-bottom:8px}
section.contents h2{font-size:18px}
dl{display:grid;grid-template-columns:max-content 1fr;gap:6px 18px;margin:0;
 font-size:14px}
dt{font-weight:600;color:#56657a}
dd{margin:0}
.id{display:inline-block;background:#1f3a5f;color:#fff;border-radius:6px;
 padding:1px 9px;margin-right:10px;font-size:16px;vertical-align:2px}
.cards{display:flex;gap:14px;margin-bottom:18px;flex-wrap:wrap}
.card{background:#f0f4f9;border-radius:8px;padding:10px 16px;min-width:150px}
.card b{display:block;font-size:22px;color:#1f3a5f}
.card span{font-size:13px;color:#56657a}
.pair{display:grid;grid-template-columns:1fr 1fr;gap:22px}
figure{margin:0 0 20px}
figcaption{font-weight:600;font-size:15px;margin:0 0 4px}
svg{display:block;width:100%;height:auto}
svg text{font-size:11px;fill:#3a4859}
svg .value{font-size:10px;fill:#1c2733}
svg .code{font-weight:700}
svg .axis-title{font-size:12px;fill:#56657a}
svg .grid{stroke:#e4e9ef}
svg .axis{stroke:#8896a8}
svg .bar{fill:#3b82c4}
svg .bar.weekend{fill:#1f3a5f}
svg .bar.part{fill-opacity:.45}
.legend{font-size:13px;color:#56657a;margin:2px 0 6px}
.legend i{display:inline-block;width:11px;height:11px;margin:0 4px 0 10px;
 vertical-align:-1px;background:#3b82c4}
.legend i.weekend{background:#1f3a5f}
.legend i.part{opacity:.45}
.scroll{overflow-x:auto}
svg.narrow{display:none}
.empty{color:#6b7788;font-style:italic}
table.runs{border-collapse:collapse;font-size:14px;min-width:260px}
table.runs th,table.runs td{padding:4px 14px;border-bottom:1px solid #e4e9ef;
 text-align:right}
table.runs th:first-child,table.runs td:first-child{text-align:left}
table.runs tfoot td{font-weight:700;border-top:2px solid #8896a8}
table.sortable th{cursor:pointer;user-select:none}
table.sortable th[aria-sort=ascending]::after{content:" \25B2";font-size:10px}
table.sortable th[aria-sort=descending]::after{content:" \25BC";font-size:10px}
table.statistics{border-collapse:collapse;font-size:13px}
table.statistics th,table.statistics td{padding:3px 10px;text-align:right;
 border-bottom:1px solid #e4e9ef;white-space:nowrap}
table.statistics th:first-child,table.statistics td:first-child,
table.top td:last-child{text-align:left}
@media (max-width:999px){
 header{padding:16px 14px}
 main{padding:4px 6px 24px}
 section{padding:14px 10px;margin:14px 0}
 .pair{grid-template-columns:1fr}
 figure{max-width:600px}
 svg.wide{display:none}
 svg.narrow{display:block}
}
@media (prefers-color-scheme:dark){
 body{background:#11161d;color:#d9e0e9}
 header{background:#0c2340}
 a,nav a{color:#8cbcf0}
 section{background:#1a212b;box-shadow:0 1px 4px rgba(0,0,0,.5)}
 section h2{color:#a9cdf3;border-bottom-color:#2d3846}
 dt,.card span,.legend,svg .axis-title{color:#9eacbd;fill:#9eacbd}
 .id{background:#2c5282}
 .card{background:#232c38}
 .card b{color:#a9cdf3}
 svg text{fill:#c5cedb}
 svg .value{fill:#e8edf3}
 svg .grid{stroke:#2d3846}
 svg .axis{stroke:#71819a}
 svg .bar,.legend i{fill:#4c97dc;background:#4c97dc}
 svg .bar.weekend,.legend i.weekend{fill:#a9cdf3;background:#a9cdf3}
 .empty{color:#8d9aab}
 table.runs th,table.runs td,table.statistics th,table.statistics td{
  border-bottom-color:#2d3846}
 table.runs tfoot td{border-top-color:#71819a}
}
@media print{
 body{background:#fff;color:#000}
 header{background:none;color:#000;padding:0 0 6px;border-bottom:2px solid #000}
 nav{display:none}
 main{max-width:none;padding:0}
 section{box-shadow:none;border:1px solid #bbb;border-radius:0;
  break-inside:avoid-page}
 figure,table{break-inside:avoid}
 svg.wide{display:block}
 svg.narrow{display:none}
 .scroll{overflow:visible}
 table.sortable th::after{content:none}
}
)";

// Sorts a table whose class is "sortable" by the column whose header is
// clicked (again: the other way). Cells holding a number (digit groups
// allowed) sort as numbers before those holding text; the rest of the
// page does not need the script.
constexpr std::string_view kSortScript = R"(
document.querySelectorAll('table.sortable th').forEach(function (th) {
  th.tabIndex = 0;
  function sort() {
    var table = th.closest('table'), body = table.tBodies[0];
    var column = th.cellIndex;
    var order = th.getAttribute('aria-sort') === 'ascending' ? -1 : 1;
    function key(row) {
      var cell = row.cells[column], text = cell ? cell.textContent.trim() : '';
      return /^-?[0-9][0-9,]*(\.[0-9]+)?$/.test(text)
          ? parseFloat(text.replace(/,/g, '')) : text;
    }
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a), y = key(b);
      if (typeof x !== typeof y) return typeof x === 'number' ? -1 : 1;
      return (x < y ? -1 : x > y ? 1 : 0) * order;
    });
    rows.forEach(function (row) { body.appendChild(row); });
    table.querySelectorAll('th').forEach(function (h) {
      h.removeAttribute('aria-sort');
    });
    th.setAttribute('aria-sort', order > 0 ? 'ascending' : 'descending');
  }
  th.addEventListener('click', sort);
  th.addEventListener('keydown', function (e) {
    if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); sort(); }
  });
});
)";

// Clean text cut to `columns` columns for a table cell; when cut, the
// whole text is the title a browser shows on hover.
std::string CutCell(std::string_view raw, size_t columns) {
  std::string cut = CutText(raw, columns);
  if (cut == CleanUtf8(raw, true)) return Escape(cut);
  return fmt::format("<span title=\"{}\">{}</span>", Escape(raw), Escape(cut));
}

std::string RunTable(const SiteReport& site) {
  if (site.runs.empty()) return "<p class=\"empty\">No runs recorded.</p>\n";
  std::string html =
      "<table class=\"runs sortable\"><thead><tr><th>Run</th><th>Hits</th>"
      "</tr>"
      "</thead><tbody>\n";
  for (size_t i = 0; i < site.runs.size(); ++i) {
    html += fmt::format("<tr><td>{}</td><td>{}</td></tr>\n", i + 1,
                        Grouped(site.runs[i]));
  }
  return html + fmt::format(
                    "</tbody><tfoot><tr><td>Total</td><td>{}</td></tr>"
                    "</tfoot></table>\n",
                    Grouped(site.runs_total));
}

// The statistics beyond the counts: a row of figures per day ("-" where
// the logs did not carry the field), then each day's top URLs, a long URL
// cut with the whole of it on hover.
constexpr size_t kStatisticsUrlChars = 60;

std::string StatisticsTables(const Report& report, const SiteReport& site,
                             const DayLimit& limit) {
  const std::vector<const statistics::DayFigures*> days =
      ShownStatistics(site, limit);
  if (days.empty()) {
    return "<p class=\"empty\">No days in the statistics.</p>\n";
  }
  std::string html =
      "<div class=\"scroll\"><table class=\"statistics sortable\"><thead><tr>"
      "<th>Day</th>";
  for (const DayFigure& figure : FiguresOf(*days.front(), report.is_ftp)) {
    html += fmt::format("<th>{}</th>", Escape(figure.label));
  }
  html += "</tr></thead><tbody>\n";
  std::string tops;
  for (const statistics::DayFigures* day : days) {
    const std::string text = ledger::DayText(day->day);
    html += fmt::format("<tr><td>{}</td>", text);
    for (const DayFigure& figure : FiguresOf(*day, report.is_ftp)) {
      html += fmt::format("<td>{}</td>", Escape(figure.value.value_or("-")));
    }
    html += "</tr>\n";
    for (const TopList& list : TopLists(*day)) {
      for (const statistics::UrlValue& url : *list.urls) {
        tops += fmt::format(
            "<tr><td>{}</td><td>{}</td><td>{}</td>"
            "<td title=\"{}\">{}</td></tr>\n",
            text, Escape(list.label), url.value, Escape(url.url),
            Escape(CutText(url.url, kStatisticsUrlChars)));
      }
    }
  }
  html += "</tbody></table></div>\n";
  if (tops.empty()) return html;
  return html +
         "<p class=\"legend\">Top URLs of each day by 404s, 5xx and time "
         "taken</p>\n<div class=\"scroll\"><table class=\"statistics top "
         "sortable\"><thead><tr><th>Day</th><th>By</th><th>Value</th><th>URL</"
         "th>"
         "</tr></thead><tbody>\n" +
         tops + "</tbody></table></div>\n";
}

std::string Card(std::string_view value, std::string_view what) {
  return fmt::format("<div class=\"card\"><b>{}</b><span>{}</span></div>",
                     value, what);
}

// A card naming the busiest buckets, `short_name` shortening each when
// there is a tie so that the card stays narrow.
template <class ShortName>
std::string BusiestCard(const Busiest& busiest, std::string_view what,
                        ShortName short_name, std::string_view note) {
  if (busiest.names.empty()) return Card("&ndash;", what);
  std::vector<std::string> names;
  for (const std::string& name : busiest.names) {
    names.push_back(busiest.tie() ? short_name(name) : name);
  }
  std::string caption =
      busiest.tie()
          ? fmt::format("{}: a tie, {} hits each", what, Grouped(busiest.hits))
          : fmt::format("{}, {} hits", what, Grouped(busiest.hits));
  if (!note.empty()) caption += fmt::format(" ({})", note);
  return Card(Escape(JoinNames(names)), caption);
}

std::string Cards(const SiteReport& site) {
  auto day_short = [](const std::string& day) {
    return FirstChars(CleanUtf8(day, true), 3);
  };
  auto hour_short = [](const std::string& hour) { return hour; };
  return "<div class=\"cards\">" +
         Card(Grouped(site.runs_total), "hits in past runs") +
         Card(Grouped(static_cast<int64_t>(site.runs.size())), "runs") +
         BusiestCard(BusiestDays(site), "busiest day", day_short, "") +
         BusiestCard(BusiestHours(site), "busiest hour", hour_short,
                     kLogTimeNote) +
         "</div>\n";
}

std::string SiteHtml(const Report& report, const SiteReport& site, size_t index,
                     const DayLimit& limit) {
  const bool is_ftp = report.is_ftp;
  std::string name = site.name.empty() ? "" : Escape(site.name);
  std::string html =
      fmt::format(
          "<section class=\"site\" id=\"site-{}\">\n<h2><span class=\"id\">"
          "Site {}</span>{}</h2>\n",
          index, Escape(site.identifier), name) +
      Cards(site) + DaysFigure(report, site, limit) + "<div class=\"pair\">\n" +
      Figure(fmt::format("Hits by day of week ({})", kNoYearNote),
             BucketChart(site.weekdays, "Day of week")) +
      Figure(fmt::format("Hits by month ({})", kNoYearNote),
             BucketChart(site.months, "Month")) +
      "</div>\n" +
      Figure(fmt::format("Hits by hour ({}; {})", kLogTimeNote, kNoYearNote),
             HourChart(site)) +
      Figure("Hits by status", StatusChart(site, is_ftp));
  if (is_ftp) {
    html += Figure(fmt::format("Top {} paths", kTopUrlCount),
                   EntryChart(site.top_urls, "Path", "No paths recorded.")) +
            Figure("Commands without a path",
                   EntryChart(site.commands_without_path, "Command argument",
                              "None recorded."));
  } else {
    html += Figure(fmt::format("Top {} URLs", kTopUrlCount),
                   EntryChart(site.top_urls, "URL", "No URLs recorded."));
  }
  // Without a statistics database the page is what it always was.
  if (report.has_statistics) {
    html += Figure(fmt::format("Statistics by day ({}; bytes, visitors, time "
                               "taken)",
                               kLogTimeNote),
                   StatisticsTables(report, site, limit));
  }
  return html + Figure("Past runs", RunTable(site)) + "</section>\n";
}

std::string Navigation(const Report& report) {
  if (report.sites.size() < 2) return "";
  std::string nav = "<nav>Sites:";
  for (size_t i = 0; i < report.sites.size(); ++i) {
    nav += fmt::format(" <a href=\"#site-{}\">{}</a>", i,
                       Escape(report.sites[i].identifier));
  }
  return nav + "</nav>\n";
}

std::string Contents(const Report& report, const DayLimit& limit) {
  std::string html =
      "<section class=\"contents\"><h2>The databases hold</h2><dl>\n";
  for (const ContentsEntry& entry : DatabaseContents(report)) {
    html += fmt::format("<dt>{}</dt><dd>{}</dd>\n", Escape(entry.what),
                        Escape(entry.value));
  }
  html += "</dl></section>\n";
  std::vector<ledger::RunRow> runs = ShownRuns(report, limit);
  if (runs.empty()) return html;
  html +=
      "<section class=\"contents\"><h2>Runs in the ledger</h2>"
      "<div class=\"scroll\"><table class=\"runs sortable\">\n";
  std::vector<std::vector<std::string>> rows = RunRows(runs, false, 0);
  for (size_t i = 0; i < rows.size(); ++i) {
    const char* cell = i == 0 ? "th" : "td";
    html += i == 0 ? "<thead><tr>" : "<tr>";
    for (const std::string& text : rows[i]) {
      html += fmt::format("<{0}>{1}</{0}>", cell, CutCell(text, 40));
    }
    html += i == 0 ? "</tr></thead><tbody>\n" : "</tr>\n";
  }
  return html + "</tbody></table></div></section>\n";
}

// The page up to its <main>: head, style sheet and the header with the
// title, `facts` (markup) and when it was made.
std::string PageStart(const std::string& title, const std::string& facts,
                      const RenderOptions& options) {
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, "
      "initial-scale=1\">\n<title>{}</title>\n"
      "<style>{}</style>\n</head>\n<body>\n<header><h1>Usage report</h1>"
      "{}<p>Made {}</p></header>\n<main>\n",
      title, kStyle, facts, Escape(MadeStamp(options.made)));
}

// The rest of the page after its sections, with the script that sorts
// its tables.
std::string PageEnd() {
  return fmt::format("</main>\n<script>{}</script>\n</body>\n</html>\n",
                     kSortScript);
}

// The link to the page named `name` beside this one. Every byte outside
// the unreserved set is percent-encoded and the link starts with "./", so a
// server name (a file name in the folder) can neither give the link a
// scheme (javascript:) nor end its path with '#', '?' or '%'.
std::string PageLink(std::string_view name) {
  std::string link = "./";
  for (char c : name) {
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                            c == '_' || c == '~';
    if (unreserved) {
      link += c;
    } else {
      link += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    }
  }
  return link;
}

std::string OverviewRow(const OverviewLine& line) {
  const bool read = line.problem.empty();
  const bool days = read && line.has_ledger && line.days > 0;
  const std::string server = Escape(line.server);
  std::string html = fmt::format(
      "<tr><td>{}</td><td>{}</td>",
      read ? fmt::format("<a href=\"{}\">{}</a>",
                         PageLink(ServerPageName(line.server, line.is_ftp)),
                         server)
           : server,
      line.is_ftp ? "FTP" : "web");
  auto cell = [&](bool known, const std::string& text) {
    html += fmt::format("<td>{}</td>", known ? text : "&ndash;");
  };
  cell(read && line.has_ledger, Grouped(line.days));
  cell(days, ledger::DaysText(line.first_day, line.last_day));
  cell(line.hits.has_value(), Grouped(line.hits.value_or(0)));
  cell(line.errors.has_value(), Grouped(line.errors.value_or(0)));
  cell(line.bytes_sent.has_value(), Grouped(line.bytes_sent.value_or(0)));
  cell(line.bytes_received.has_value(),
       Grouped(line.bytes_received.value_or(0)));
  const ledger::RunRow* run = line.last_run ? &*line.last_run : nullptr;
  cell(run != nullptr, run ? Escape(ShownUtc(run->started).substr(0, 19)) : "");
  cell(run != nullptr || !read,
       read ? (run ? Escape(OutcomeShown(*run, line.last_run_going)) : "")
            : CutCell("cannot be read: " + line.problem, 60));
  return html + "</tr>\n";
}

}  // namespace

std::string RenderOverviewHtml(const std::vector<OverviewLine>& lines,
                               const std::string& where,
                               const RenderOptions& options) {
  std::string html = PageStart(
      "Usage report: overview",
      fmt::format("<p>{} &middot; {} server{} and service{}</p>", Escape(where),
                  lines.size(), lines.size() == 1 ? "" : "s",
                  lines.size() == 1 ? "" : "s"),
      options);
  html += "<section class=\"contents\"><h2>Servers</h2>\n";
  if (lines.empty()) {
    html += "<p class=\"empty\">No report databases.</p>\n";
  } else {
    html +=
        "<div class=\"scroll\"><table class=\"runs sortable\"><thead><tr>"
        "<th>Server</th><th>Service</th><th>Days</th><th>Collected</th>"
        "<th>Hits</th><th>Errors (4xx, 5xx)</th><th>Bytes sent</th>"
        "<th>Bytes received</th><th>Last run (UTC)</th>"
        "<th>Outcome</th></tr></thead><tbody>\n";
    for (const OverviewLine& line : lines) html += OverviewRow(line);
    html += "</tbody></table></div>\n";
  }
  return html + "</section>\n" + PageEnd();
}

std::string RenderHtml(const Report& report, const RenderOptions& options) {
  std::string server = Escape(report.server);
  std::string service = report.is_ftp ? "FTP" : "Web";
  std::string html = PageStart(
      fmt::format("Usage report: {} ({})", server, service),
      fmt::format("<p>Server {} &middot; {} service &middot; {} site{}</p>",
                  server, service, report.sites.size(),
                  report.sites.size() == 1 ? "" : "s"),
      options);
  html += Navigation(report) + Contents(report, options.days);
  if (report.sites.empty()) {
    html += "<p class=\"empty\">No hits recorded yet.</p>\n";
  }
  for (size_t i = 0; i < report.sites.size(); ++i) {
    html += SiteHtml(report, report.sites[i], i, options.days);
  }
  return html + PageEnd();
}

}  // namespace velnor::host
