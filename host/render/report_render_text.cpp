// The terminal shape of a report: a heading, then per site one aligned
// table per view with a bar per count. Bars use eighth blocks so that small
// differences show; a terminal without UTF-8 gets "#" bars instead, since
// it would show the blocks as garbage.
#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "host/render/report_contents.h"
#include "host/render/report_days.h"
#include "host/render/report_highlights.h"
#include "host/render/report_render.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;
namespace {

constexpr size_t kBarWidth = 40;  // columns of the longest bar
constexpr size_t kMaxLabelWidth = 60;
constexpr std::string_view kFullBlock = "\u2588";
constexpr std::string_view kLightShade = "\u2591";
// Index n holds the block n/8 wide.
constexpr std::string_view kPartialBlocks[] = {
    "", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589"};

// |hits|; INT64_MIN's, which no int64_t holds, taken as INT64_MAX.
int64_t Magnitude(int64_t hits) {
  return hits >= 0 ? hits
                   : -std::max(hits, -std::numeric_limits<int64_t>::max());
}

// Terminal columns of clean text.
size_t Width(std::string_view text) { return DisplayWidth(text); }

// Writes one report; `ascii_` chooses the characters of bars and cut marks.
class TextWriter {
 public:
  explicit TextWriter(const RenderOptions& options) : ascii_(options.ascii) {}

  std::string Label(std::string_view raw) const {
    return CutText(raw, kMaxLabelWidth, ascii_ ? "..." : "\u2026");
  }

  // A bar for `value` where a count of `largest` (a magnitude) fills
  // kBarWidth columns; any non-zero value shows at least an eighth (a whole
  // "#" in ASCII). A negative count, which only a store another tool wrote
  // holds, is as long as its magnitude in whole columns of light shade ("-"
  // in ASCII): neither taken for no hits nor for hits.
  std::string Bar(int64_t value, int64_t largest) const {
    if (value == 0 || largest <= 0) return "";
    auto eighths = static_cast<int64_t>(
        (static_cast<long double>(Magnitude(value)) * kBarWidth * 8) / largest +
        0.5L);
    eighths = std::max<int64_t>(eighths, 1);
    if (value < 0) {
      const auto columns =
          static_cast<size_t>(std::max<int64_t>((eighths + 4) / 8, 1));
      if (ascii_) return std::string(columns, '-');
      std::string bar;
      for (size_t i = 0; i < columns; ++i) bar += kLightShade;
      return bar;
    }
    if (ascii_) {
      return std::string(
          static_cast<size_t>(std::max<int64_t>((eighths + 4) / 8, 1)), '#');
    }
    std::string bar;
    for (int64_t i = 0; i < eighths / 8; ++i) bar += kFullBlock;
    return bar += kPartialBlocks[eighths % 8];
  }

 private:
  bool ascii_;
};

struct TableRow {
  std::vector<std::string> cells;  // clean text
  int64_t hits = 0;
  bool has_bar = true;  // a sum row has none and does not scale the bars
};

// Appends an indented table: the cells (numbers right-aligned, where
// `right_aligned` says so), the count right-aligned, then the bar.
void Table(std::string& out, const TextWriter& writer,
           const std::vector<TableRow>& rows,
           const std::vector<bool>& right_aligned) {
  std::vector<size_t> widths(right_aligned.size(), 0);
  size_t hits_width = 1;
  int64_t largest = 0;
  for (const TableRow& row : rows) {
    for (size_t i = 0; i < row.cells.size(); ++i) {
      widths[i] = std::max(widths[i], Width(row.cells[i]));
    }
    hits_width = std::max(hits_width, std::to_string(row.hits).size());
    if (row.has_bar) largest = std::max(largest, Magnitude(row.hits));
  }
  for (const TableRow& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.cells.size(); ++i) {
      std::string pad(widths[i] - Width(row.cells[i]), ' ');
      line +=
          "  " + (right_aligned[i] ? pad + row.cells[i] : row.cells[i] + pad);
    }
    std::string hits = std::to_string(row.hits);
    line += "  " + std::string(hits_width - hits.size(), ' ') + hits + "  " +
            (row.has_bar ? writer.Bar(row.hits, largest) : "");
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
}

void Section(std::string& out, std::string_view title) {
  out += '\n';
  out += title;
  out += '\n';
}

void BucketTable(std::string& out, const TextWriter& writer,
                 const std::vector<Bucket>& buckets) {
  std::vector<TableRow> rows;
  for (const Bucket& bucket : buckets) {
    rows.push_back({{writer.Label(bucket.label)}, bucket.hits});
  }
  Table(out, writer, rows, {false});
}

void HourTable(std::string& out, const TextWriter& writer,
               const SiteReport& site) {
  std::vector<TableRow> rows;
  for (size_t hour = 0; hour < site.hours.size(); ++hour) {
    rows.push_back({{fmt::format("{:02}:00", hour)}, site.hours[hour]});
  }
  Table(out, writer, rows, {false});
}

// One row per status code, the code beside the label as stored: several
// codes may share the label "Others".
void StatusTable(std::string& out, const TextWriter& writer,
                 const SiteReport& site) {
  if (site.statuses.empty()) {
    out += "  No status codes recorded.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (const StatusCount& status : site.statuses) {
    rows.push_back({{std::to_string(status.code), writer.Label(status.label)},
                    status.hits});
  }
  Table(out, writer, rows, {true, false});
}

// A ranked list; an empty entry shows as "-", as the log writes it.
void RankTable(std::string& out, const TextWriter& writer,
               const std::vector<UrlCount>& entries, std::string_view none) {
  if (entries.empty()) {
    out += "  " + std::string(none) + "\n";
    return;
  }
  std::vector<TableRow> rows;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& entry = entries[i].url;
    rows.push_back({{std::to_string(i + 1) + ".",
                     entry.empty() ? "-" : writer.Label(entry)},
                    entries[i].hits});
  }
  Table(out, writer, rows, {true, false});
}

void RunTable(std::string& out, const TextWriter& writer,
              const SiteReport& site) {
  if (site.runs.empty()) {
    out += "  No runs recorded.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (size_t i = 0; i < site.runs.size(); ++i) {
    rows.push_back({{"Run " + std::to_string(i + 1)}, site.runs[i]});
  }
  rows.push_back({{"Total"}, site.runs_total, false});
  Table(out, writer, rows, {false});
}

// The ledger's daily series: one row per day with its weekday and marks.
void DayTable(std::string& out, const TextWriter& writer, const Report& report,
              const SiteReport& site, const DayLimit& limit) {
  if (!report.has_ledger) {
    out += "  No dates: there is no collection ledger beside the databases.\n";
    return;
  }
  std::vector<reportdb::DayCount> days = ShownDays(site, limit);
  if (days.empty()) {
    out += "  No days in the ledger.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (const reportdb::DayCount& day : days) {
    rows.push_back(
        {{ledger::DayText(day.day), WeekdayShortName(day.day), DayMarks(day)},
         day.hits});
  }
  Table(out, writer, rows, {false, false, false});
}

// The statistics beyond the counts: a row of figures per day ("-" where
// the logs did not carry the field), then each day's top URLs.
void StatisticsTable(std::string& out, const TextWriter& writer,
                     const Report& report, const SiteReport& site,
                     const DayLimit& limit) {
  const std::vector<const statistics::DayFigures*> days =
      ShownStatistics(site, limit);
  if (days.empty()) {
    out += "  No days in the statistics.\n";
    return;
  }
  std::vector<std::vector<std::string>> rows(1, {"Day"});
  for (const DayFigure& figure : FiguresOf(*days.front(), report.is_ftp)) {
    rows[0].emplace_back(figure.label);
  }
  std::vector<std::vector<std::string>> tops;
  for (const statistics::DayFigures* day : days) {
    std::vector<std::string>& row =
        rows.emplace_back(1, ledger::DayText(day->day));
    for (const DayFigure& figure : FiguresOf(*day, report.is_ftp)) {
      row.push_back(figure.value.value_or("-"));
    }
    for (const TopList& list : TopLists(*day)) {
      for (const statistics::UrlValue& url : *list.urls) {
        tops.push_back({ledger::DayText(day->day), std::string(list.label),
                        std::to_string(url.value),
                        writer.Label(CleanUtf8(url.url, true))});
      }
    }
  }
  out += AlignedColumns(rows, "  ");
  if (tops.empty()) return;
  out += "\n  Top URLs of each day by 404s, 5xx and time taken\n";
  out += AlignedColumns(tops, "    ");
}

void Highlights(std::string& out, const SiteReport& site) {
  out += "  Busiest day:   " + DescribeBusiest(BusiestDays(site)) + "\n";
  Busiest hours = BusiestHours(site);
  std::string hour = DescribeBusiest(hours);
  if (!hours.names.empty()) {
    hour.insert(hour.size() - 1, std::string("; ") + kLogTimeNote);
  }
  out += "  Busiest hour:  " + hour + "\n";
}

void SiteText(std::string& out, const TextWriter& writer, const Report& report,
              const SiteReport& site, const DayLimit& limit) {
  const bool is_ftp = report.is_ftp;
  std::string heading = "Site " + writer.Label(site.identifier);
  if (!site.name.empty()) heading += ": " + writer.Label(site.name);
  out += "\n" + heading + "\n" + std::string(Width(heading), '=') + "\n";
  Highlights(out, site);
  Section(out, std::string("Hits by day (") + kLogTimeNote + ")");
  DayTable(out, writer, report, site, limit);
  Section(out, std::string("Hits by day of week (") + kNoYearNote + ")");
  BucketTable(out, writer, site.weekdays);
  Section(out, std::string("Hits by month (") + kNoYearNote + ")");
  BucketTable(out, writer, site.months);
  Section(out, std::string("Hits by hour (") + kLogTimeNote + "; " +
                   kNoYearNote + ")");
  HourTable(out, writer, site);
  Section(out, "Hits by status");
  StatusTable(out, writer, site);
  Section(out, is_ftp ? "Top paths" : "Top URLs");
  RankTable(out, writer, site.top_urls,
            is_ftp ? "No paths recorded." : "No URLs recorded.");
  if (is_ftp) {
    Section(out, "Commands without a path");
    RankTable(out, writer, site.commands_without_path, "None recorded.");
  }
  // Without a statistics database (collected with --no-statistics, or
  // before there were statistics) the report is what it always was.
  if (report.has_statistics) {
    Section(out, std::string("Statistics by day (") + kLogTimeNote +
                     "; bytes, visitors, time taken)");
    StatisticsTable(out, writer, report, site, limit);
  }
  Section(out, "Past runs");
  RunTable(out, writer, site);
}

void Heading(std::string& out, const TextWriter& writer, const Report& report,
             const RenderOptions& options) {
  out += "Usage report for server " + writer.Label(report.server) + ", " +
         (report.is_ftp ? "FTP" : "web") + " service\n";
  out += "Made " + MadeStamp(options.made) + "\n\nThe databases hold\n";
  std::vector<ContentsEntry> contents = DatabaseContents(report);
  size_t width = 0;
  for (const ContentsEntry& entry : contents) {
    width = std::max(width, Width(CleanUtf8(entry.what, true)));
  }
  for (const ContentsEntry& entry : contents) {
    std::string what = CleanUtf8(entry.what, true) + ":";
    out += "  " + what + std::string(width + 3 - Width(what), ' ') +
           CleanUtf8(entry.value, true) + "\n";
  }
  std::vector<ledger::RunRow> runs = ShownRuns(report, options.days);
  if (runs.empty()) return;
  out +=
      "\nRuns in the ledger\n" + AlignedColumns(RunRows(runs, false, 0), "  ");
}

}  // namespace

std::string RenderText(const Report& report, const RenderOptions& options) {
  TextWriter writer(options);
  std::string out;
  Heading(out, writer, report, options);
  if (report.sites.empty()) {
    return out + "\nNo hits recorded yet.\n";
  }
  for (const SiteReport& site : report.sites) {
    SiteText(out, writer, report, site, options.days);
  }
  return out;
}

}  // namespace velnor::host
