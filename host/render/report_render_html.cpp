// The page shape of a report: one HTML file with its style sheet and its
// charts (SVG) inline, so that it can be mailed or archived and opened
// offline. Charts are drawn here rather than by a script so that the page
// shows the same in any browser, printed or with scripts off.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/render/overview_render.h"
#include "host/render/report_contents.h"
#include "host/render/report_days.h"
#include "host/render/report_highlights.h"
#include "host/render/report_render.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"
#include "reportdb/status_labels.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::kTopUrlCount;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;
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

// Clean text cut to `columns` columns for a table cell; when cut, the
// whole text is the title a browser shows on hover.
std::string CutCell(std::string_view raw, size_t columns) {
  std::string cut = CutText(raw, columns);
  if (cut == CleanUtf8(raw, true)) return Escape(cut);
  return fmt::format("<span title=\"{}\">{}</span>", Escape(raw), Escape(cut));
}

// The reason phrase HTTP gives a status code (RFC 9110 and the codes IIS
// and common servers send); empty for a code it does not name. Shown
// beside the codes the label list counts as "Others".
std::string_view ReasonPhrase(int64_t code) {
  static constexpr std::pair<int64_t, std::string_view> kPhrases[] = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {102, "Processing"},
      {103, "Early Hints"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {203, "Non-Authoritative Information"},
      {204, "No Content"},
      {205, "Reset Content"},
      {206, "Partial Content"},
      {207, "Multi-Status"},
      {208, "Already Reported"},
      {226, "IM Used"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Content Too Large"},
      {414, "URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {421, "Misdirected Request"},
      {422, "Unprocessable Content"},
      {423, "Locked"},
      {424, "Failed Dependency"},
      {425, "Too Early"},
      {426, "Upgrade Required"},
      {428, "Precondition Required"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {451, "Unavailable For Legal Reasons"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
      {506, "Variant Also Negotiates"},
      {507, "Insufficient Storage"},
      {508, "Loop Detected"},
      {511, "Network Authentication Required"}};
  for (const auto& [known, phrase] : kPhrases) {
    if (known == code) return phrase;
  }
  return "";
}

// 1234567 as "1,234,567". Written front to back: GCC 12 takes inserts
// into a string for overlapping copies (-Wrestrict) in optimised builds.
std::string Grouped(int64_t value) {
  std::string digits = std::to_string(value);
  size_t sign = value < 0 ? 1 : 0;
  std::string grouped = digits.substr(0, sign);
  for (size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// A count in at most four characters: 950, 1.2k, 209k, 3.4M, 12G.
std::string Abbreviated(int64_t value) {
  if (value < 1000) return std::to_string(value);
  constexpr const char* kUnits[] = {"k", "M", "G", "T", "P", "E"};
  auto scaled = static_cast<double>(value);
  for (const char* unit : kUnits) {
    scaled /= 1000;
    // Rounded as shown; 999.6k shows as 1M, not as 1000k.
    double shown =
        scaled < 9.95 ? std::round(scaled * 10) / 10 : std::round(scaled);
    if (shown < 1000) {
      std::string text = fmt::format("{:g}", shown);
      return text + unit;
    }
  }
  return fmt::format("{:g}E", scaled);
}

// Widths of text in chart units, a little over the average of system
// fonts, so that what is judged to fit does fit.
constexpr double kCharWidth = 6.5;       // 11-unit text
constexpr double kValueCharWidth = 6.0;  // 10-unit values

double TextWidth(std::string_view text, double char_width) {
  return char_width * static_cast<double>(CharCount(text));
}

// `value` grouped when that fits in `room` chart units, else abbreviated.
std::string Fitted(int64_t value, double room, double char_width) {
  std::string grouped = Grouped(value);
  if (TextWidth(grouped, char_width) <= room) return grouped;
  return Abbreviated(value);
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
  std::string label;  // under or beside the bar, escaped markup; may be empty
  std::string title;  // the full text, shown on hover, escaped
  int64_t hits;
  std::string_view css_class = "bar";
};

int64_t Largest(const std::vector<Bar>& bars) {
  int64_t largest = 0;
  for (const Bar& bar : bars) largest = std::max(largest, bar.hits);
  return largest;
}

// Where a chart goes: its width in chart units and the class that shows it
// in wide or narrow windows (empty: both).
struct Frame {
  double width;
  std::string_view css_class;
};

std::string SvgStart(const Frame& frame, double height,
                     std::string_view title) {
  std::string css_class = frame.css_class.empty()
                              ? ""
                              : fmt::format(" class=\"{}\"", frame.css_class);
  return fmt::format(
      "<svg{} viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"Hits by {}\">\n",
      css_class, frame.width, height, Escape(title));
}

// Vertical bars with the hit axis on the left and the buckets below. Values
// above the bars are abbreviated (209k) when the full number would reach
// into the next bar's, and left to the bars' titles with `values` off.
std::string ColumnChart(const std::vector<Bar>& bars, std::string_view x_title,
                        const Frame& frame, bool values = true) {
  const double kHeight = 250, kRight = 10, kTop = 22, kBottom = 46;
  const double width = frame.width;
  Axis axis = HitAxis(Largest(bars));
  // Room for the widest tick label and the rotated axis title.
  const double kLeft = 30 + TextWidth(Grouped(axis.top), kCharWidth);
  double plot_w = width - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  double base = kTop + plot_h;
  std::string svg = SvgStart(frame, kHeight, x_title);
  for (int64_t tick = 0; tick <= axis.top; tick += axis.step) {
    double y = base - plot_h * static_cast<double>(tick) /
                          static_cast<double>(axis.top);
    svg += fmt::format(
        "<line class=\"grid\" x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\"/>"
        "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>\n",
        kLeft, y, width - kRight, y, kLeft - 6, y + 4, Grouped(tick));
  }
  double slot = plot_w / static_cast<double>(bars.size());
  bool abbreviate = false;
  for (const Bar& bar : bars) {
    abbreviate |=
        Fitted(bar.hits, slot * 0.9, kValueCharWidth) != Grouped(bar.hits);
  }
  for (size_t i = 0; i < bars.size(); ++i) {
    double h = plot_h * static_cast<double>(bars[i].hits) /
               static_cast<double>(axis.top);
    double center = kLeft + slot * (static_cast<double>(i) + 0.5);
    std::string value =
        abbreviate ? Abbreviated(bars[i].hits) : Grouped(bars[i].hits);
    svg += fmt::format(
        "<rect class=\"{}\" x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" "
        "height=\"{:.1f}\"><title>{}: {} hits</title></rect>",
        bars[i].css_class, center - slot * 0.35, base - h, slot * 0.7, h,
        bars[i].title, Grouped(bars[i].hits));
    if (values) {
      svg += fmt::format(
          "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\" "
          "text-anchor=\"middle\">{}</text>",
          center, base - h - 4, value);
    }
    if (!bars[i].label.empty()) {
      svg += fmt::format(
          "<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>",
          center, base + 15, bars[i].label);
    }
    svg += "\n";
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

// Horizontal bars, one row per item with its label in the `label_width`
// units on the left, the hit axis below.
std::string RowChart(const std::vector<Bar>& bars, std::string_view y_title,
                     const Frame& frame, double label_width) {
  const double kRight = 60, kTop = 8, kRow = 26, kBottom = 42;
  const double width = frame.width, left = label_width + 10;
  double plot_w = width - left - kRight;
  double plot_h = kRow * static_cast<double>(bars.size());
  double base = kTop + plot_h;
  double height = base + kBottom;
  Axis axis = HitAxis(Largest(bars));
  std::string svg = SvgStart(frame, height, y_title);
  double tick_room = plot_w * static_cast<double>(axis.step) /
                     static_cast<double>(axis.top) * 0.85;
  for (int64_t tick = 0; tick <= axis.top; tick += axis.step) {
    double x = left + plot_w * static_cast<double>(tick) /
                          static_cast<double>(axis.top);
    svg += fmt::format(
        "<line class=\"grid\" x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" "
        "y2=\"{2:.1f}\"/><text x=\"{0:.1f}\" y=\"{3:.1f}\" "
        "text-anchor=\"middle\">{4}</text>\n",
        x, kTop, base, base + 15, Fitted(tick, tick_room, kCharWidth));
  }
  for (size_t i = 0; i < bars.size(); ++i) {
    double w = plot_w * static_cast<double>(bars[i].hits) /
               static_cast<double>(axis.top);
    double top = kTop + kRow * static_cast<double>(i);
    svg += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{}<title>{}"
        "</title></text><rect class=\"bar\" x=\"{}\" y=\"{:.1f}\" "
        "width=\"{:.1f}\" height=\"{:.1f}\"><title>{}: {} hits</title></rect>"
        "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\">{}</text>\n",
        left - 8, top + kRow / 2 + 4, bars[i].label, bars[i].title, left,
        top + 4, w, kRow - 8, bars[i].title, Grouped(bars[i].hits),
        left + w + 6, top + kRow / 2 + 4,
        Fitted(bars[i].hits, width - (left + w + 8), kValueCharWidth));
  }
  svg += AxisLines(left, kTop, base, width - kRight);
  svg += fmt::format(
      "<text class=\"axis-title\" x=\"{:.1f}\" y=\"{:.1f}\" "
      "text-anchor=\"middle\">Hits</text>\n</svg>\n",
      left + plot_w / 2, height - 6);
  return svg;
}

// The chart widths: wide charts fill a desktop page, narrow ones a phone
// held upright; a pair of small charts shares the desktop's width.
constexpr Frame kWide{1040, "wide"};
constexpr Frame kNarrow{400, "narrow"};
constexpr Frame kSmall{400, ""};
// Label widths of row charts and the characters that fit in them.
constexpr double kWideLabelWidth = 290, kNarrowLabelWidth = 150;
constexpr size_t kWideLabelChars = 44, kNarrowLabelChars = 22;

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

// Wide: 24 columns. Narrow: 24 rows, as 24 columns leave no room for
// their values on a phone.
std::string HourChart(const SiteReport& site) {
  std::vector<Bar> columns, rows;
  for (size_t hour = 0; hour < site.hours.size(); ++hour) {
    std::string label = fmt::format("{:02}:00", hour);
    columns.push_back({std::to_string(hour), label, site.hours[hour]});
    rows.push_back({label, label, site.hours[hour]});
  }
  return ColumnChart(columns, "Hour of the day", kWide) +
         RowChart(rows, "Hour of the day", kNarrow, 40);
}

// A row chart for a wide and one for a narrow window of `entries`, each
// labelled by `label_of(entry, max_chars)`.
template <class Entries, class LabelOf>
std::string RowCharts(const Entries& entries, std::string_view title,
                      LabelOf label_of) {
  std::vector<Bar> wide, narrow;
  for (const auto& entry : entries) {
    wide.push_back(label_of(entry, kWideLabelChars));
    narrow.push_back(label_of(entry, kNarrowLabelChars));
  }
  return RowChart(wide, title, kWide, kWideLabelWidth) +
         RowChart(narrow, title, kNarrow, kNarrowLabelWidth);
}

// One row per status code: the code, then the label as stored, since
// several codes may share the label "Others"; for web, such a code has its
// reason phrase beside it ("Others: Found").
std::string StatusChart(const SiteReport& site, bool is_ftp) {
  if (site.statuses.empty()) {
    return "<p class=\"empty\">No status codes recorded.</p>\n";
  }
  return RowCharts(
      site.statuses, "Status",
      [is_ftp](const StatusCount& status, size_t max_chars) {
        std::string code = std::to_string(status.code);
        std::string text = status.label;
        if (!is_ftp && status.label == reportdb::kOtherStatusLabel &&
            !ReasonPhrase(status.code).empty()) {
          text += ": " + std::string(ReasonPhrase(status.code));
        }
        std::string label = CutText(text, max_chars - code.size() - 1);
        return Bar{fmt::format("<tspan class=\"code\">{}</tspan> {}", code,
                               Escape(label)),
                   Escape(code + " " + text), status.hits};
      });
}

// URLs or FTP entries; an empty entry shows as "-", as the log writes it.
std::string EntryChart(const std::vector<UrlCount>& entries,
                       std::string_view title, std::string_view none) {
  if (entries.empty()) {
    return fmt::format("<p class=\"empty\">{}</p>\n", none);
  }
  return RowCharts(entries, title, [](const UrlCount& url, size_t max_chars) {
    std::string text = url.url.empty() ? "-" : url.url;
    return Bar{Escape(CutText(text, max_chars)), Escape(text), url.hits};
  });
}

// A series longer than this many days is drawn a bar per week: a bar per
// day of more than a quarter would be a few pixels wide on a desktop page
// and less than one on a phone.
constexpr size_t kLongSeriesDays = 92;

// A day as an axis labels it: "06-30", or "2024-06-30" on an axis whose
// days cross from one year into another, which would else be ambiguous.
std::string AxisDay(ledger::Day day, bool with_year) {
  std::string text = ledger::DayText(day);
  return with_year ? text : text.substr(5);
}

bool CrossesYear(ledger::Day first, ledger::Day last) {
  return ledger::DayText(first).substr(0, 4) !=
         ledger::DayText(last).substr(0, 4);
}

// Bars of a dated series with a label under every few bars, as many as
// fit; values show when there is room for them.
std::string DatedChart(std::vector<Bar> bars,
                       const std::vector<std::string>& labels,
                       std::string_view x_title, const Frame& frame,
                       bool with_year) {
  // A label and a gap: "06-30" or "2024-06-30".
  const double label_width = with_year ? 72 : 40;
  const double slot = (frame.width - 80) / static_cast<double>(bars.size());
  const size_t every =
      std::max<size_t>(1, static_cast<size_t>(std::ceil(label_width / slot)));
  for (size_t i = 0; i < bars.size(); i += every) bars[i].label = labels[i];
  return ColumnChart(bars, x_title, frame, slot >= 6.0 * kValueCharWidth);
}

// The ledger's daily series: a bar per day, weekends darker, days counted
// in part lighter; every bar's title has its day and hits.
std::string DayChart(const std::vector<reportdb::DayCount>& days,
                     const Frame& frame) {
  const bool with_year = CrossesYear(days.front().day, days.back().day);
  std::vector<Bar> bars;
  std::vector<std::string> labels;
  for (const reportdb::DayCount& day : days) {
    std::string text = ledger::DayText(day.day);
    std::string marks = DayMarks(day);
    labels.push_back(AxisDay(day.day, with_year));
    bars.push_back({"",
                    Escape(text + " " + WeekdayShortName(day.day) +
                           (marks.empty() ? "" : " (" + marks + ")")),
                    day.hits,
                    !day.complete
                        ? (IsWeekend(day.day) ? "bar weekend part" : "bar part")
                        : (IsWeekend(day.day) ? "bar weekend" : "bar")});
  }
  return DatedChart(std::move(bars), labels, "Day (log time: UTC)", frame,
                    with_year);
}

// The same series a bar per week, labelled by its Monday; a week not
// counted whole on all seven days is lighter.
std::string WeekChart(const std::vector<reportdb::DayCount>& days,
                      const Frame& frame) {
  const std::vector<WeekCount> weeks = Weeks(days);
  const bool with_year =
      CrossesYear(weeks.front().monday, weeks.back().monday + 6);
  std::vector<Bar> bars;
  std::vector<std::string> labels;
  for (const WeekCount& week : weeks) {
    labels.push_back(AxisDay(week.monday, with_year));
    bars.push_back({"",
                    Escape("week of " + ledger::DayText(week.monday) +
                           (week.complete ? "" : " (in part)")),
                    week.hits, week.complete ? "bar" : "bar part"});
  }
  return DatedChart(std::move(bars), labels, "Week from Monday (log time: UTC)",
                    frame, with_year);
}

// The figure of the dated series: by day, or by week for a long one.
std::string DaysFigure(const Report& report, const SiteReport& site,
                       const DayLimit& limit) {
  const std::string caption = fmt::format("Hits by day ({})", kLogTimeNote);
  if (!report.has_ledger) {
    return Figure(caption,
                  "<p class=\"empty\">No dates: there is no collection "
                  "ledger beside the databases.</p>\n");
  }
  std::vector<reportdb::DayCount> days = ShownDays(site, limit);
  if (days.empty()) {
    return Figure(caption, "<p class=\"empty\">No days in the ledger.</p>\n");
  }
  if (days.size() > kLongSeriesDays) {
    return Figure(
        fmt::format("Hits by week ({} days; {})", days.size(), kLogTimeNote),
        "<p class=\"legend\"><i></i>every day counted whole<i "
        "class=\"part\"></i>some days missing or counted in part</p>\n" +
            WeekChart(days, kWide) + WeekChart(days, kNarrow));
  }
  return Figure(caption,
                "<p class=\"legend\"><i></i>weekday<i class=\"weekend\"></i>"
                "weekend<i class=\"part\"></i>counted in part so far</p>\n" +
                    DayChart(days, kWide) + DayChart(days, kNarrow));
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
             ColumnChart(BucketBars(site.weekdays), "Day of week", kSmall)) +
      Figure(fmt::format("Hits by month ({})", kNoYearNote),
             ColumnChart(BucketBars(site.months), "Month", kSmall)) +
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

std::string OverviewRow(const OverviewLine& line) {
  const bool read = line.problem.empty();
  const bool days = read && line.has_ledger && line.days > 0;
  const std::string server = Escape(line.server);
  std::string html = fmt::format(
      "<tr><td>{}</td><td>{}</td>",
      read ? fmt::format("<a href=\"{}\">{}</a>",
                         Escape(ServerPageName(line.server, line.is_ftp)),
                         server)
           : server,
      line.is_ftp ? "FTP" : "web");
  auto cell = [&](bool known, const std::string& text) {
    html += fmt::format("<td>{}</td>", known ? text : "&ndash;");
  };
  cell(read && line.has_ledger, Grouped(line.days));
  cell(days, ledger::DaysText(line.first_day, line.last_day));
  cell(read, Grouped(line.hits));
  cell(read, Grouped(line.errors));
  cell(line.bytes_sent.has_value(), Grouped(line.bytes_sent.value_or(0)));
  cell(line.bytes_received.has_value(),
       Grouped(line.bytes_received.value_or(0)));
  const ledger::RunRow* run = line.last_run ? &*line.last_run : nullptr;
  cell(run != nullptr, run ? Escape(ShownUtc(run->started).substr(0, 19)) : "");
  cell(run != nullptr || !read,
       read ? (run ? Escape(OutcomeShown(*run, false)) : "")
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
