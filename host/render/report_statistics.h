// What every report shape shows of the statistics beyond the counts: the
// days within the limit, and each day's figures in one order under one
// name each, so that the text, the CSV, the JSON and the page show the same
// figures the same way.
#ifndef VELNOR_HOST_RENDER_REPORT_STATISTICS_H_
#define VELNOR_HOST_RENDER_REPORT_STATISTICS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/render/report_days.h"
#include "reportdb/report_reader.h"

namespace velnor::host {

// The site's days of statistics within `limit`, by day.
std::vector<const statistics::DayFigures*> ShownStatistics(
    const reportdb::SiteReport& site, const DayLimit& limit);

// One figure of a day.
struct DayFigure {
  std::string_view key;    // its name in CSV and JSON: "bytes_sent", ...
  std::string_view label;  // its heading in text and the page: "Sent"
  // As shown ("1234", a mean as "12.50"); nothing when the logs did not
  // carry its field that day.
  std::optional<std::string> value;
};

// The figures of `day` in their order: hits per status class, bytes sent
// and received, visitors, sessions (FTP only), and the time taken's p50,
// p95, p99 and mean in milliseconds.
std::vector<DayFigure> FiguresOf(const statistics::DayFigures& day,
                                 bool is_ftp);

// The mean as every shape shows it: two decimals.
std::string MeanText(double mean);

// A day's three lists of top URLs, with their names.
struct TopList {
  std::string_view key;        // "top_404", "top_5xx", "top_time_taken"
  std::string_view label;      // "404s", "5xx", "Time taken (ms)"
  std::string_view value_key;  // the value's name in JSON: "hits", "ms"
  const std::vector<statistics::UrlValue>* urls;
};
std::vector<TopList> TopLists(const statistics::DayFigures& day);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_REPORT_STATISTICS_H_
