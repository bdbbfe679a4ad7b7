// The overview's lines and their text, CSV and JSON shapes; the page is
// drawn with the server pages' style in report_render_html.cpp.
#include "host/render/overview_render.h"

#include <set>

#include "host/render/json_layout.h"
#include "host/render/report_contents.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

bool IsError(int64_t code) { return code >= 400 && code <= 599; }

std::string OrDash(bool known, const std::string& text) {
  return known ? text : "-";
}

Json CountJson(const std::optional<int64_t>& count) {
  return count ? Json(*count) : Json(nullptr);
}

// Adds `figure`, when the logs carried it, to `sum`.
void AddBytes(const std::optional<statistics::Figure>& figure,
              std::optional<int64_t>& sum) {
  if (figure) sum = sum.value_or(0) + figure->value;
}

// The hits of `site`'s status tables, to `line`'s.
void AddStatuses(const reportdb::SiteReport& site, OverviewLine& line) {
  for (const reportdb::StatusCount& status : site.statuses) {
    *line.hits += status.hits;
    if (IsError(status.code)) *line.errors += status.hits;
  }
}

// The hits the ledger counted on `day`, to `line`'s.
void AddDay(const reportdb::DayCount& day, OverviewLine& line) {
  *line.hits += day.hits;
  *line.errors += day.hits_by_class[2] + day.hits_by_class[3];  // 4xx, 5xx
}

std::string CountText(const std::optional<int64_t>& count) {
  return count ? std::to_string(*count) : "-";
}

// The cells of a line: days, first day, last day, hits, errors, bytes
// sent and received, last run's start and outcome.
std::vector<std::string> Cells(const OverviewLine& line) {
  const bool read = line.problem.empty();
  const bool days = read && line.has_ledger && line.days > 0;
  const ledger::RunRow* run = line.last_run ? &*line.last_run : nullptr;
  return {
      CleanUtf8(line.server, true),
      line.is_ftp ? "ftp" : "web",
      OrDash(read && line.has_ledger, std::to_string(line.days)),
      OrDash(days, ledger::DayText(line.first_day)),
      OrDash(days, ledger::DayText(line.last_day)),
      CountText(line.hits),
      CountText(line.errors),
      CountText(line.bytes_sent),
      CountText(line.bytes_received),
      OrDash(run != nullptr,
             run ? CleanUtf8(ShownUtc(run->started).substr(0, 19), true) : ""),
      OrDash(run != nullptr,
             run ? OutcomeShown(*run, line.last_run_going) : "")};
}

}  // namespace

OverviewLine SummarizeReport(const reportdb::Report& report,
                             const DayLimit& days) {
  OverviewLine line;
  line.server = report.server;
  line.is_ftp = report.is_ftp;
  // A ledger that records no run yet (init-db makes one with the
  // databases) knows no day, as none does.
  line.has_ledger = report.has_ledger && !report.runs.empty();
  const bool limited = days.from || days.to;
  if (!limited || line.has_ledger) {
    line.hits = 0;
    line.errors = 0;
  }
  std::set<ledger::Day> counted;
  for (const reportdb::SiteReport& site : report.sites) {
    if (!limited) AddStatuses(site, line);
    for (const reportdb::DayCount& day : ShownDays(site, days)) {
      counted.insert(day.day);
      if (limited) AddDay(day, line);
    }
    for (const statistics::DayFigures* day : ShownStatistics(site, days)) {
      AddBytes(day->bytes_sent, line.bytes_sent);
      AddBytes(day->bytes_received, line.bytes_received);
    }
  }
  line.days = static_cast<int64_t>(counted.size());
  if (!counted.empty()) {
    line.first_day = *counted.begin();
    line.last_day = *counted.rbegin();
  }
  if (!report.runs.empty()) line.last_run = report.runs.back();
  return line;
}

std::string ServerPageName(const std::string& server, bool is_ftp) {
  return server + (is_ftp ? "-ftp.html" : "-web.html");
}

std::string RenderOverviewText(const std::vector<OverviewLine>& lines,
                               const std::string& where,
                               const RenderOptions& options) {
  std::string text = "Report databases in " + CleanUtf8(where, true) + "\n";
  text += "Made " + MadeStamp(options.made) + "\n\n";
  if (lines.empty()) return text + "No report databases.\n";
  std::vector<std::vector<std::string>> rows = {
      {"server", "service", "days", "first day", "last day", "hits", "errors",
       "bytes sent", "bytes received", "last run (UTC)", "outcome"}};
  for (const OverviewLine& line : lines) {
    rows.push_back(Cells(line));
    if (!line.problem.empty()) {
      rows.back().push_back("cannot be read: " + CleanUtf8(line.problem, true));
    }
  }
  return text + AlignedColumns(rows, "");
}

std::string RenderOverviewCsv(const std::vector<OverviewLine>& lines) {
  std::string out =
      "Server,Service,Days,First Day,Last Day,Hits,Errors,Bytes Sent,Bytes "
      "Received,Last Run,Last Run Started,Last Run Ended,Last Run "
      "Outcome,Problem\r\n";
  for (const OverviewLine& line : lines) {
    std::vector<std::string> cells = Cells(line);
    // A figure the line lacks is an empty field; the server and service
    // are names, shown as they are whatever they spell.
    for (size_t i = 2; i < cells.size(); ++i) {
      if (cells[i] == "-") cells[i].clear();
    }
    const ledger::RunRow* run = line.last_run ? &*line.last_run : nullptr;
    std::vector<std::string> fields = {cells[0],
                                       cells[1],
                                       cells[2],
                                       cells[3],
                                       cells[4],
                                       cells[5],
                                       cells[6],
                                       cells[7],
                                       cells[8],
                                       run ? std::to_string(run->run_id) : "",
                                       run ? run->started : "",
                                       run ? run->ended : "",
                                       cells[10],
                                       line.problem};
    // Appended piece by piece: GCC 12 takes "," + field for overlapping
    // copies (-Wrestrict) in optimised builds.
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) out += ',';
      out += CsvField(fields[i]);
    }
    out += "\r\n";
  }
  return out;
}

std::string RenderOverviewJson(const std::vector<OverviewLine>& lines) {
  Json servers = Json::array();
  for (const OverviewLine& line : lines) {
    const bool read = line.problem.empty();
    const bool days = read && line.has_ledger && line.days > 0;
    Json json = {{"server", JsonText(line.server)},
                 {"service", line.is_ftp ? "ftp" : "web"}};
    json["days"] = read && line.has_ledger ? Json(line.days) : Json(nullptr);
    json["first_day"] =
        days ? Json(ledger::DayText(line.first_day)) : Json(nullptr);
    json["last_day"] =
        days ? Json(ledger::DayText(line.last_day)) : Json(nullptr);
    json["hits"] = CountJson(line.hits);
    json["errors"] = CountJson(line.errors);
    json["bytes_sent"] = CountJson(line.bytes_sent);
    json["bytes_received"] = CountJson(line.bytes_received);
    json["last_run"] = line.last_run
                           ? RunJson(*line.last_run, line.last_run_going)
                           : Json(nullptr);
    json["problem"] = JsonTextOrNull(line.problem);
    servers.push_back(std::move(json));
  }
  // One server a line, its last run inside it.
  return LaidOut(Json{{"servers", servers}}, 2) + "\n";
}

}  // namespace velnor::host
