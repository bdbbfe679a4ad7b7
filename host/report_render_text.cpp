// The terminal shape of a report: per site, one aligned table per view with
// a bar per count. Bars use eighth blocks so that small differences show.
#include <algorithm>
#include <vector>

#include "host/report_render.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
namespace {

constexpr size_t kBarWidth = 40;  // columns of the longest bar
constexpr size_t kMaxLabelWidth = 60;
constexpr std::string_view kFullBlock = "\u2588";
// Index n holds the block n/8 wide.
constexpr std::string_view kPartialBlocks[] = {
    "", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589"};

// Terminal columns of clean text, counting one per character.
size_t Width(std::string_view text) { return CharCount(text); }

std::string Label(std::string_view raw) { return CutText(raw, kMaxLabelWidth); }

// A bar for `value` where `largest` fills kBarWidth columns; any non-zero
// value shows at least an eighth.
std::string Bar(int64_t value, int64_t largest) {
  if (value <= 0 || largest <= 0) return "";
  auto eighths = static_cast<int64_t>(
      (static_cast<long double>(value) * kBarWidth * 8) / largest + 0.5L);
  eighths = std::max<int64_t>(eighths, 1);
  std::string bar;
  for (int64_t i = 0; i < eighths / 8; ++i) bar += kFullBlock;
  return bar += kPartialBlocks[eighths % 8];
}

struct TableRow {
  std::vector<std::string> cells;  // clean text
  int64_t hits = 0;
  bool has_bar = true;  // a sum row has none and does not scale the bars
};

// Appends an indented table: the cells (numbers right-aligned, where
// `right_aligned` says so), the count right-aligned, then the bar.
void Table(std::string& out, const std::vector<TableRow>& rows,
           const std::vector<bool>& right_aligned) {
  std::vector<size_t> widths(right_aligned.size(), 0);
  size_t hits_width = 1;
  int64_t largest = 0;
  for (const TableRow& row : rows) {
    for (size_t i = 0; i < row.cells.size(); ++i) {
      widths[i] = std::max(widths[i], Width(row.cells[i]));
    }
    hits_width = std::max(hits_width, std::to_string(row.hits).size());
    if (row.has_bar) largest = std::max(largest, row.hits);
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
            (row.has_bar ? Bar(row.hits, largest) : "");
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
}

void Section(std::string& out, std::string_view title) {
  out += "\n" + std::string(title) + "\n";
}

void BucketTable(std::string& out, const std::vector<Bucket>& buckets) {
  std::vector<TableRow> rows;
  for (const Bucket& bucket : buckets) {
    rows.push_back({{Label(bucket.label)}, bucket.hits});
  }
  Table(out, rows, {false});
}

void HourTable(std::string& out, const SiteReport& site) {
  std::vector<TableRow> rows;
  for (size_t hour = 0; hour < site.hours.size(); ++hour) {
    std::string label = (hour < 10 ? "0" : "") + std::to_string(hour) + ":00";
    rows.push_back({{label}, site.hours[hour]});
  }
  Table(out, rows, {false});
}

void StatusTable(std::string& out, const SiteReport& site) {
  if (site.statuses.empty()) {
    out += "  No status codes recorded.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (const StatusCount& status : site.statuses) {
    rows.push_back(
        {{std::to_string(status.code), Label(status.label)}, status.hits});
  }
  Table(out, rows, {true, false});
}

void UrlTable(std::string& out, const SiteReport& site) {
  if (site.top_urls.empty()) {
    out += "  No URLs recorded.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (size_t i = 0; i < site.top_urls.size(); ++i) {
    rows.push_back({{std::to_string(i + 1) + ".", Label(site.top_urls[i].url)},
                    site.top_urls[i].hits});
  }
  Table(out, rows, {true, false});
}

void RunTable(std::string& out, const SiteReport& site) {
  if (site.runs.empty()) {
    out += "  No runs recorded.\n";
    return;
  }
  std::vector<TableRow> rows;
  for (size_t i = 0; i < site.runs.size(); ++i) {
    rows.push_back({{"Run " + std::to_string(i + 1)}, site.runs[i]});
  }
  rows.push_back({{"Total"}, site.runs_total, false});
  Table(out, rows, {false});
}

void SiteText(std::string& out, const SiteReport& site) {
  std::string heading = "Site " + Label(site.identifier);
  if (!site.name.empty()) heading += ": " + Label(site.name);
  out += "\n" + heading + "\n" + std::string(Width(heading), '=') + "\n";
  Section(out, "Hits by day of week");
  BucketTable(out, site.weekdays);
  Section(out, "Hits by month");
  BucketTable(out, site.months);
  Section(out, "Hits by hour");
  HourTable(out, site);
  Section(out, "Hits by status");
  StatusTable(out, site);
  Section(out, "Top URLs");
  UrlTable(out, site);
  Section(out, "Past runs");
  RunTable(out, site);
}

}  // namespace

std::string RenderText(const Report& report) {
  std::string service = report.is_ftp ? "FTP" : "web";
  std::string out = "Usage report for server " + Label(report.server) + ", " +
                    service + " service\n";
  if (report.sites.empty()) {
    return out + "\nNo hits recorded yet.\n";
  }
  for (const SiteReport& site : report.sites) SiteText(out, site);
  return out;
}

}  // namespace velnor::host
