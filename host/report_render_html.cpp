// The page shape of a report: one HTML file with its style sheet and its
// charts (SVG) inline, so that it can be mailed or archived and opened
// offline. Charts are drawn here rather than by a script so that the page
// shows the same in any browser, printed or with scripts off.
#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "host/report_render.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;
using reportdb::kTopUrlCount;
namespace {

// The two axes of a chart: the vertical one at `left` from `top` down to
// `base`, the horizontal one along `base` to `right`.
std::string AxisLines(double left, double top, double base, double right) {
  return fmt::format(
      "<line class=\"axis\" x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2:.1f}\"/>"
      "<line class=\"axis\" x1=\"{0}\" y1=\"{2:.1f}\" x2=\"{3}\" "
      "y2=\"{2:.1f}\"/>\n",
      left, top, base, right);
}

constexpr std::string_view kStyle = R"(
body{margin:0;background:#f3f5f8;color:#1c2733;
 font-family:system-ui,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
header{background:#1f3a5f;color:#fff;padding:22px 40px}
header h1{margin:0;font-size:26px;font-weight:600}
header p{margin:6px 0 0;opacity:.85}
main{max-width:1120px;margin:0 auto;padding:8px 40px 40px}
nav{margin:18px 0 0;font-size:14px}
nav a{color:#1f5fa8;margin-right:14px}
section.site{background:#fff;border-radius:10px;padding:22px 28px;margin:22px 0;
 box-shadow:0 1px 4px rgba(20,40,70,.12)}
section.site h2{margin:0 0 14px;font-size:22px;color:#1f3a5f;
 border-bottom:2px solid #dfe6ee;padding-bottom:8px}
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
svg .axis-title{font-size:12px;fill:#56657a}
svg .grid{stroke:#e4e9ef}
svg .axis{stroke:#8896a8}
svg .bar{fill:#3b82c4}
.empty{color:#6b7788;font-style:italic}
table.runs{border-collapse:collapse;font-size:14px;min-width:260px}
table.runs th,table.runs td{padding:4px 14px;border-bottom:1px solid #e4e9ef;
 text-align:right}
table.runs th:first-child,table.runs td:first-child{text-align:left}
table.runs tfoot td{font-weight:700;border-top:2px solid #8896a8}
)";

std::string Escape(std::string_view raw) {
  std::string text = CleanUtf8(raw, true);
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// 1234567 as "1,234,567".
std::string Grouped(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
    digits.insert(static_cast<size_t>(i), ",");
  }
  return (value < 0 ? "-" : "") + digits;
}

// The top of a hit axis and its tick step: a step of 1, 2 or 5 times a
// power of ten giving at most five intervals, never below 1 (hits are whole).
struct Axis {
  int64_t top;
  int64_t step;
};

Axis HitAxis(int64_t largest) {
  largest = std::max<int64_t>(largest, 1);
  int64_t step = 1;
  for (int64_t power = 1;; power *= 10) {
    for (int64_t factor : {1, 2, 5}) {
      step = factor * power;
      if (largest <= 5 * step)
        return {(largest + step - 1) / step * step, step};
    }
  }
}

struct Bar {
  std::string label;  // under or beside the bar
  std::string title;  // the full text, shown on hover
  int64_t hits;
};

int64_t Largest(const std::vector<Bar>& bars) {
  int64_t largest = 0;
  for (const Bar& bar : bars) largest = std::max(largest, bar.hits);
  return largest;
}

// Vertical bars with the hit axis on the left and the buckets below.
std::string ColumnChart(const std::vector<Bar>& bars, std::string_view x_title,
                        double width) {
  const double kHeight = 250, kRight = 10, kTop = 22, kBottom = 46;
  Axis axis = HitAxis(Largest(bars));
  // Room for the widest tick label (about 6.5 units a character at the
  // chart's font size) and the rotated axis title.
  const double kLeft = 30 + 6.5 * static_cast<double>(Grouped(axis.top).size());
  double plot_w = width - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  double base = kTop + plot_h;
  std::string svg = fmt::format(
      "<svg viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"Hits by {}\">\n",
      width, kHeight, Escape(x_title));
  for (int64_t tick = 0; tick <= axis.top; tick += axis.step) {
    double y = base - plot_h * static_cast<double>(tick) / axis.top;
    svg += fmt::format(
        "<line class=\"grid\" x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\"/>"
        "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>\n",
        kLeft, y, width - kRight, y, kLeft - 6, y + 4, Grouped(tick));
  }
  double slot = plot_w / static_cast<double>(bars.size());
  for (size_t i = 0; i < bars.size(); ++i) {
    double h = plot_h * static_cast<double>(bars[i].hits) / axis.top;
    double center = kLeft + slot * (static_cast<double>(i) + 0.5);
    svg += fmt::format(
        "<rect class=\"bar\" x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" "
        "height=\"{:.1f}\"><title>{}: {} hits</title></rect>"
        "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\" "
        "text-anchor=\"middle\">{}</text>"
        "<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>\n",
        center - slot * 0.35, base - h, slot * 0.7, h, bars[i].title,
        Grouped(bars[i].hits), center, base - h - 4, Grouped(bars[i].hits),
        center, base + 15, bars[i].label);
  }
  svg += AxisLines(kLeft, kTop, base, width - kRight);
  svg += fmt::format(
      "<text class=\"axis-title\" x=\"{:.1f}\" y=\"{}\" "
      "text-anchor=\"middle\">{}</text>"
      "<text class=\"axis-title\" transform=\"rotate(-90)\" x=\"{:.1f}\" "
      "y=\"14\" text-anchor=\"middle\">Hits</text>\n</svg>\n",
      kLeft + plot_w / 2, kHeight - 8, Escape(x_title), -(kTop + plot_h / 2));
  return svg;
}

// Horizontal bars, one row per item with its label on the left, the hit
// axis below.
std::string RowChart(const std::vector<Bar>& bars, std::string_view y_title) {
  const double kWidth = 1040, kLeft = 300, kRight = 70, kTop = 8, kRow = 26,
               kBottom = 42;
  double plot_w = kWidth - kLeft - kRight;
  double plot_h = kRow * static_cast<double>(bars.size());
  double base = kTop + plot_h;
  double height = base + kBottom;
  Axis axis = HitAxis(Largest(bars));
  std::string svg = fmt::format(
      "<svg viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"Hits by {}\">\n",
      kWidth, height, Escape(y_title));
  for (int64_t tick = 0; tick <= axis.top; tick += axis.step) {
    double x = kLeft + plot_w * static_cast<double>(tick) / axis.top;
    svg += fmt::format(
        "<line class=\"grid\" x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" "
        "y2=\"{2:.1f}\"/><text x=\"{0:.1f}\" y=\"{3:.1f}\" "
        "text-anchor=\"middle\">{4}</text>\n",
        x, kTop, base, base + 15, Grouped(tick));
  }
  for (size_t i = 0; i < bars.size(); ++i) {
    double w = plot_w * static_cast<double>(bars[i].hits) / axis.top;
    double top = kTop + kRow * static_cast<double>(i);
    svg += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{}<title>{}"
        "</title></text><rect class=\"bar\" x=\"{}\" y=\"{:.1f}\" "
        "width=\"{:.1f}\" height=\"{:.1f}\"><title>{}: {} hits</title></rect>"
        "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\">{}</text>\n",
        kLeft - 8, top + kRow / 2 + 4, bars[i].label, bars[i].title, kLeft,
        top + 4, w, kRow - 8, bars[i].title, Grouped(bars[i].hits),
        kLeft + w + 6, top + kRow / 2 + 4, Grouped(bars[i].hits));
  }
  svg += AxisLines(kLeft, kTop, base, kWidth - kRight);
  svg += fmt::format(
      "<text class=\"axis-title\" x=\"{:.1f}\" y=\"{:.1f}\" "
      "text-anchor=\"middle\">Hits</text>\n</svg>\n",
      kLeft + plot_w / 2, height - 6);
  return svg;
}

std::string Figure(std::string_view caption, const std::string& chart) {
  return fmt::format("<figure><figcaption>{}</figcaption>\n{}</figure>\n",
                     caption, chart);
}

// The first `n` characters of clean text.
std::string FirstChars(const std::string& clean, size_t n) {
  size_t kept = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    bool starts_char = (static_cast<unsigned char>(clean[i]) & 0xC0) != 0x80;
    if (starts_char && kept++ == n) return clean.substr(0, i);
  }
  return clean;
}

std::vector<Bar> BucketBars(const std::vector<Bucket>& buckets) {
  std::vector<Bar> bars;
  for (const Bucket& bucket : buckets) {
    // Three letters fit under a bar: "Sun", "Jan".
    std::string label = FirstChars(CleanUtf8(bucket.label, true), 3);
    bars.push_back({Escape(label), Escape(bucket.label), bucket.hits});
  }
  return bars;
}

std::string HourChart(const SiteReport& site) {
  std::vector<Bar> bars;
  for (size_t hour = 0; hour < site.hours.size(); ++hour) {
    std::string label = std::to_string(hour);
    bars.push_back({label, label + ":00", site.hours[hour]});
  }
  return ColumnChart(bars, "Hour of the day", 1040);
}

std::string StatusChart(const SiteReport& site) {
  if (site.statuses.empty()) {
    return "<p class=\"empty\">No status codes recorded.</p>\n";
  }
  std::vector<Bar> bars;
  for (const StatusCount& status : site.statuses) {
    // "Others" groups several codes: the code tells them apart.
    std::string label = status.label;
    if (label.find(std::to_string(status.code)) == std::string::npos) {
      label += " (" + std::to_string(status.code) + ")";
    }
    bars.push_back({Escape(CutText(label, 44)), Escape(label), status.hits});
  }
  return RowChart(bars, "Status");
}

std::string UrlChart(const SiteReport& site) {
  if (site.top_urls.empty())
    return "<p class=\"empty\">No URLs recorded.</p>\n";
  std::vector<Bar> bars;
  for (const UrlCount& url : site.top_urls) {
    bars.push_back({Escape(CutText(url.url, 44)), Escape(url.url), url.hits});
  }
  return RowChart(bars, "URL");
}

std::string RunTable(const SiteReport& site) {
  if (site.runs.empty()) return "<p class=\"empty\">No runs recorded.</p>\n";
  std::string html =
      "<table class=\"runs\"><thead><tr><th>Run</th><th>Hits</th></tr>"
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

std::string Card(std::string_view value, std::string_view what) {
  return fmt::format("<div class=\"card\"><b>{}</b><span>{}</span></div>",
                     value, what);
}

template <class Items, class HitsOf>
size_t Busiest(const Items& items, HitsOf hits_of) {
  size_t best = 0;
  for (size_t i = 1; i < items.size(); ++i) {
    if (hits_of(items[i]) > hits_of(items[best])) best = i;
  }
  return best;
}

std::string Cards(const SiteReport& site) {
  auto bucket_hits = [](const Bucket& bucket) { return bucket.hits; };
  const Bucket& day = site.weekdays[Busiest(site.weekdays, bucket_hits)];
  size_t hour = Busiest(site.hours, [](int64_t hits) { return hits; });
  const char* kNone = "&ndash;";
  return "<div class=\"cards\">" +
         Card(Grouped(site.runs_total), "hits in past runs") +
         Card(Grouped(static_cast<int64_t>(site.runs.size())), "runs") +
         Card(day.hits > 0 ? Escape(day.label) : kNone, "busiest day") +
         Card(site.hours[hour] > 0 ? std::to_string(hour) + ":00" : kNone,
              "busiest hour") +
         "</div>\n";
}

std::string SiteHtml(const SiteReport& site, size_t index) {
  std::string name = site.name.empty() ? "" : Escape(site.name);
  return fmt::format(
             "<section class=\"site\" id=\"site-{}\">\n<h2><span class=\"id\">"
             "Site {}</span>{}</h2>\n",
             index, Escape(site.identifier), name) +
         Cards(site) + "<div class=\"pair\">\n" +
         Figure("Hits by day of week",
                ColumnChart(BucketBars(site.weekdays), "Day of week", 520)) +
         Figure("Hits by month",
                ColumnChart(BucketBars(site.months), "Month", 520)) +
         "</div>\n" + Figure("Hits by hour", HourChart(site)) +
         Figure("Hits by status", StatusChart(site)) +
         Figure(fmt::format("Top {} URLs", kTopUrlCount), UrlChart(site)) +
         Figure("Past runs", RunTable(site)) + "</section>\n";
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

}  // namespace

std::string RenderHtml(const Report& report) {
  std::string server = Escape(report.server);
  std::string service = report.is_ftp ? "FTP" : "Web";
  std::string html = fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, "
      "initial-scale=1\">\n<title>Usage report: {} ({})</title>\n"
      "<style>{}</style>\n</head>\n<body>\n<header><h1>Usage report</h1>"
      "<p>Server {} &middot; {} service &middot; {} site{}</p></header>\n"
      "<main>\n",
      server, service, kStyle, server, service, report.sites.size(),
      report.sites.size() == 1 ? "" : "s");
  html += Navigation(report);
  if (report.sites.empty()) {
    html += "<p class=\"empty\">No hits recorded yet.</p>\n";
  }
  for (size_t i = 0; i < report.sites.size(); ++i) {
    html += SiteHtml(report.sites[i], i);
  }
  return html + "</main>\n</body>\n</html>\n";
}

}  // namespace velnor::host
