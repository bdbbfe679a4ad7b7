// The bar charts (SVG) of a report page, and the markup helpers they share
// with the page. Each chart is drawn twice where a phone would squeeze it:
// once for a wide window and once for a narrow one, the style sheet
// showing the one that fits.
#include "host/render/html_charts.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/render/report_days.h"
#include "host/render/report_highlights.h"
#include "host/render/text_format.h"
#include "reportdb/status_labels.h"

namespace velnor::host::html {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;

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

// The first `n` characters of clean text.
std::string FirstChars(const std::string& clean, size_t n) {
  size_t kept = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    bool starts_char = (static_cast<unsigned char>(clean[i]) & 0xC0) != 0x80;
    if (starts_char && kept++ == n) return clean.substr(0, i);
  }
  return clean;
}

std::string Figure(std::string_view caption, const std::string& chart) {
  return fmt::format("<figure><figcaption>{}</figcaption>\n{}</figure>\n",
                     caption, chart);
}

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
// The hit axis: ticks every `step` from `bottom` to `top`. `bottom` is 0
// unless a count is negative (a store another tool wrote), which then
// shows as a bar below (or left of) the zero line rather than as none.
struct Axis {
  int64_t bottom;
  int64_t top;
  int64_t step;

  // How far along an axis of `length` units `value` lies from `bottom`.
  double Along(double length, int64_t value) const {
    return length * static_cast<double>(value - bottom) /
           static_cast<double>(top - bottom);
  }
};

struct Bar {
  std::string label;  // under or beside the bar, escaped markup; may be empty
  std::string title;  // the full text, shown on hover, escaped
  int64_t hits;
  std::string_view css_class = "bar";
};

// Round ticks over the counts of `bars` and 0, about five of them.
Axis HitAxis(const std::vector<Bar>& bars) {
  int64_t largest = 0, smallest = 0;
  for (const Bar& bar : bars) {
    largest = std::max(largest, bar.hits);
    smallest = std::min(smallest, bar.hits);
  }
  const int64_t span = std::max<int64_t>(largest - smallest, 1);
  for (int64_t power = 1;; power *= 10) {
    for (int64_t factor : {1, 2, 5}) {
      const int64_t step = factor * power;
      if (span <= 5 * step) {
        return {-((step - 1 - smallest) / step * step),
                std::max<int64_t>((largest + step - 1) / step * step, step),
                step};
      }
    }
  }
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
  Axis axis = HitAxis(bars);
  // Room for the widest tick label and the rotated axis title.
  const double kLeft =
      30 + std::max(TextWidth(Grouped(axis.top), kCharWidth),
                    TextWidth(Grouped(axis.bottom), kCharWidth));
  double plot_w = width - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  double base = kTop + plot_h;
  std::string svg = SvgStart(frame, kHeight, x_title);
  for (int64_t tick = axis.bottom; tick <= axis.top; tick += axis.step) {
    double y = base - axis.Along(plot_h, tick);
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
  // Heights above the base: a bar reaches from the zero line to its count.
  const double zero = axis.Along(plot_h, 0);
  for (size_t i = 0; i < bars.size(); ++i) {
    const double h = axis.Along(plot_h, bars[i].hits);
    const double high = std::max(h, zero), low = std::min(h, zero);
    double center = kLeft + slot * (static_cast<double>(i) + 0.5);
    std::string value =
        abbreviate ? Abbreviated(bars[i].hits) : Grouped(bars[i].hits);
    svg += fmt::format(
        "<rect class=\"{}\" x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" "
        "height=\"{:.1f}\"><title>{}: {} hits</title></rect>",
        bars[i].css_class, center - slot * 0.35, base - high, slot * 0.7,
        high - low, bars[i].title, Grouped(bars[i].hits));
    if (values) {
      svg += fmt::format(
          "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\" "
          "text-anchor=\"middle\">{}</text>",
          center, base - high - 4, value);
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
  Axis axis = HitAxis(bars);
  std::string svg = SvgStart(frame, height, y_title);
  double tick_room = plot_w * static_cast<double>(axis.step) /
                     static_cast<double>(axis.top - axis.bottom) * 0.85;
  for (int64_t tick = axis.bottom; tick <= axis.top; tick += axis.step) {
    double x = left + axis.Along(plot_w, tick);
    svg += fmt::format(
        "<line class=\"grid\" x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" "
        "y2=\"{2:.1f}\"/><text x=\"{0:.1f}\" y=\"{3:.1f}\" "
        "text-anchor=\"middle\">{4}</text>\n",
        x, kTop, base, base + 15, Fitted(tick, tick_room, kCharWidth));
  }
  // Offsets from the left end: a bar reaches from the zero line to its
  // count, and its value follows the bar's right end.
  const double zero = axis.Along(plot_w, 0);
  for (size_t i = 0; i < bars.size(); ++i) {
    const double w = axis.Along(plot_w, bars[i].hits);
    const double start = std::min(w, zero), end = std::max(w, zero);
    double top = kTop + kRow * static_cast<double>(i);
    svg += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{}<title>{}"
        "</title></text><rect class=\"bar\" x=\"{}\" y=\"{:.1f}\" "
        "width=\"{:.1f}\" height=\"{:.1f}\"><title>{}: {} hits</title></rect>"
        "<text class=\"value\" x=\"{:.1f}\" y=\"{:.1f}\">{}</text>\n",
        left - 8, top + kRow / 2 + 4, bars[i].label, bars[i].title,
        left + start, top + 4, end - start, kRow - 8, bars[i].title,
        Grouped(bars[i].hits), left + end + 6, top + kRow / 2 + 4,
        Fitted(bars[i].hits, width - (left + end + 8), kValueCharWidth));
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

std::vector<Bar> BucketBars(const std::vector<Bucket>& buckets) {
  std::vector<Bar> bars;
  for (const Bucket& bucket : buckets) {
    // Three letters fit under a bar: "Sun", "Jan".
    std::string label = FirstChars(CleanUtf8(bucket.label, true), 3);
    bars.push_back({Escape(label), Escape(bucket.label), bucket.hits});
  }
  return bars;
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

}  // namespace

std::string BucketChart(const std::vector<Bucket>& buckets,
                        std::string_view x_title) {
  return ColumnChart(BucketBars(buckets), x_title, kSmall);
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

}  // namespace velnor::host::html
