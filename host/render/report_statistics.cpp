// The statistics' figures as the report shapes show them.
#include "host/render/report_statistics.h"

#include <fmt/format.h>

namespace velnor::host {
namespace {

std::optional<std::string> Value(const std::optional<statistics::Figure>& f) {
  if (!f) return std::nullopt;
  return std::to_string(f->value);
}

}  // namespace

std::vector<const statistics::DayFigures*> ShownStatistics(
    const reportdb::SiteReport& site, const DayLimit& limit) {
  std::vector<const statistics::DayFigures*> shown;
  for (const statistics::DayFigures& day : site.statistics) {
    if (limit.Reaches(day.day, day.day)) shown.push_back(&day);
  }
  return shown;
}

std::string MeanText(double mean) { return fmt::format("{:.2f}", mean); }

std::vector<DayFigure> FiguresOf(const statistics::DayFigures& day,
                                 bool is_ftp) {
  static constexpr std::string_view kClassKeys[] = {
      "hits_1xx", "hits_2xx", "hits_3xx", "hits_4xx", "hits_5xx"};
  static constexpr std::string_view kClassLabels[] = {"1xx", "2xx", "3xx",
                                                      "4xx", "5xx"};
  std::vector<DayFigure> figures;
  for (size_t i = 0; i < day.hits_by_class.size(); ++i) {
    figures.push_back(
        {kClassKeys[i], kClassLabels[i], std::to_string(day.hits_by_class[i])});
  }
  figures.push_back({"bytes_sent", "Sent", Value(day.bytes_sent)});
  figures.push_back({"bytes_received", "Received", Value(day.bytes_received)});
  figures.push_back({"visitors", "Visitors", Value(day.visitors)});
  if (is_ftp) figures.push_back({"sessions", "Sessions", Value(day.sessions)});
  const std::optional<statistics::TimeTaken>& time = day.time_taken;
  auto ms = [&](int64_t statistics::TimeTaken::*member) {
    return time ? std::optional(std::to_string((*time).*member)) : std::nullopt;
  };
  figures.push_back({"p50", "p50 ms", ms(&statistics::TimeTaken::p50)});
  figures.push_back({"p95", "p95 ms", ms(&statistics::TimeTaken::p95)});
  figures.push_back({"p99", "p99 ms", ms(&statistics::TimeTaken::p99)});
  figures.push_back(
      {"mean", "Mean ms",
       time ? std::optional(MeanText(time->mean)) : std::nullopt});
  return figures;
}

std::vector<TopList> TopLists(const statistics::DayFigures& day) {
  return {{"top_404", "404s", "hits", &day.top_not_found},
          {"top_5xx", "5xx", "hits", &day.top_server_errors},
          {"top_time_taken", "Time taken (ms)", "ms", &day.top_time_taken}};
}

}  // namespace velnor::host
