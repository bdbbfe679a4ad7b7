// The machine-readable shapes of a report: CSV and JSON.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "host/render/json_layout.h"
#include "host/render/report_days.h"
#include "host/render/report_render.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"
#include "host/render/text_format.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;
namespace {

class CsvWriter {
 public:
  explicit CsvWriter(std::string* out) : out_(out) {
    *out_ += "Identifier,Site Name,Section,Key,Label,Hits\r\n";
  }
  void Row(const SiteReport& site, std::string_view section,
           std::string_view key, std::string_view label, int64_t hits) {
    Row(site, section, key, label, std::to_string(hits));
  }
  void Row(const SiteReport& site, std::string_view section,
           std::string_view key, std::string_view label,
           std::string_view value) {
    *out_ += CsvField(site.identifier) + "," + CsvField(site.name) + "," +
             std::string(section) + "," + std::string(key) + "," +
             CsvField(label) + "," + std::string(value) + "\r\n";
  }

 private:
  std::string* out_;
};

template <class Items, class ItemToJson>
Json JsonList(const Items& items, ItemToJson to_json) {
  Json list = Json::array();
  for (const auto& item : items) list.push_back(to_json(item));
  return list;
}

Json BucketJson(const Bucket& bucket) {
  return {{"number", bucket.sort},
          {"name", JsonText(bucket.label)},
          {"hits", bucket.hits}};
}

Json UrlJson(const UrlCount& url) {
  return {{"url", JsonText(url.url)}, {"hits", url.hits}};
}

Json StatusJson(const StatusCount& status) {
  return {{"code", status.code},
          {"label", JsonText(status.label)},
          {"sort", status.sort},
          {"hits", status.hits}};
}

Json DayJson(const reportdb::DayCount& day) {
  return {{"day", ledger::DayText(day.day)},
          {"weekday", WeekdayName(day.day)},
          {"weekend", IsWeekend(day.day)},
          {"complete", day.complete},
          {"hits", day.hits},
          {"hits_2xx", day.hits_by_class[0]},
          {"hits_3xx", day.hits_by_class[1]},
          {"hits_4xx", day.hits_by_class[2]},
          {"hits_5xx", day.hits_by_class[3]}};
}

// A day of statistics: its date, the hits per status class, then each
// figure the logs carried (a figure they did not carry has no key), the
// time taken's as one object, and the top lists.
Json StatisticsJson(const statistics::DayFigures& day, bool is_ftp) {
  Json json = {{"date", ledger::DayText(day.day)}};
  static constexpr std::string_view kClassKeys[] = {
      "hits_1xx", "hits_2xx", "hits_3xx", "hits_4xx", "hits_5xx"};
  for (size_t i = 0; i < day.hits_by_class.size(); ++i) {
    json[std::string(kClassKeys[i])] = day.hits_by_class[i];
  }
  auto add = [&](const char* key, const std::optional<statistics::Figure>& f) {
    if (f) json[key] = f->value;
  };
  add("bytes_sent", day.bytes_sent);
  add("bytes_received", day.bytes_received);
  add("visitors", day.visitors);
  if (is_ftp) add("sessions", day.sessions);
  if (const std::optional<statistics::TimeTaken>& time = day.time_taken) {
    // The mean as the other shapes show it, two decimals, so that every
    // shape gives the same figure.
    json["time_taken_ms"] = {{"p50", time->p50},
                             {"p95", time->p95},
                             {"p99", time->p99},
                             {"mean", std::stod(MeanText(time->mean))}};
  }
  for (const TopList& list : TopLists(day)) {
    json[std::string(list.key)] =
        JsonList(*list.urls, [&](const statistics::UrlValue& url) {
          return Json{{"url", JsonText(url.url)},
                      {std::string(list.value_key), url.value}};
        });
  }
  return json;
}

Json SiteJson(const Report& report, const SiteReport& site,
              const DayLimit& days) {
  const bool is_ftp = report.is_ftp;
  Json json = {{"identifier", JsonText(site.identifier)},
               {"name", JsonText(site.name)},
               {"weekdays", JsonList(site.weekdays, BucketJson)},
               {"months", JsonList(site.months, BucketJson)},
               {"hours", site.hours},
               {"statuses", JsonList(site.statuses, StatusJson)},
               {"top_urls", JsonList(site.top_urls, UrlJson)}};
  if (is_ftp) {
    json["commands_without_path"] =
        JsonList(site.commands_without_path, UrlJson);
  }
  json["runs"] = site.runs;
  json["runs_total"] = site.runs_total;
  json["days"] = JsonList(ShownDays(site, days), DayJson);
  // Without a statistics database the report is what it always was.
  if (report.has_statistics) {
    json["statistics"] = JsonList(ShownStatistics(site, days),
                                  [&](const statistics::DayFigures* day) {
                                    return StatisticsJson(*day, is_ftp);
                                  });
  }
  return json;
}

}  // namespace

std::string RenderCsv(const Report& report, const DayLimit& days) {
  std::string out;
  CsvWriter csv(&out);
  for (const SiteReport& site : report.sites) {
    for (const Bucket& day : site.weekdays) {
      csv.Row(site, "weekday", std::to_string(day.sort), day.label, day.hits);
    }
    for (const Bucket& month : site.months) {
      csv.Row(site, "month", std::to_string(month.sort), month.label,
              month.hits);
    }
    for (size_t hour = 0; hour < site.hours.size(); ++hour) {
      csv.Row(site, "hour", std::to_string(hour), "", site.hours[hour]);
    }
    for (const StatusCount& status : site.statuses) {
      csv.Row(site, "status", std::to_string(status.code), status.label,
              status.hits);
    }
    for (size_t i = 0; i < site.top_urls.size(); ++i) {
      csv.Row(site, "url", std::to_string(i + 1), site.top_urls[i].url,
              site.top_urls[i].hits);
    }
    const std::vector<UrlCount>& commands = site.commands_without_path;
    for (size_t i = 0; i < commands.size(); ++i) {
      csv.Row(site, "command", std::to_string(i + 1), commands[i].url,
              commands[i].hits);
    }
    for (size_t i = 0; i < site.runs.size(); ++i) {
      csv.Row(site, "run", std::to_string(i + 1), "", site.runs[i]);
    }
    csv.Row(site, "runs-total", "", "", site.runs_total);
    for (const reportdb::DayCount& day : ShownDays(site, days)) {
      std::string label = WeekdayName(day.day);
      if (IsWeekend(day.day)) label += " (weekend)";
      if (!day.complete) label += " (in part)";
      csv.Row(site, "day", ledger::DayText(day.day), label, day.hits);
    }
    for (const statistics::DayFigures* day : ShownStatistics(site, days)) {
      const std::string key = ledger::DayText(day->day);
      for (const DayFigure& figure : FiguresOf(*day, report.is_ftp)) {
        if (figure.value)
          csv.Row(site, "statistic", key, figure.key, *figure.value);
      }
      for (const TopList& list : TopLists(*day)) {
        for (const statistics::UrlValue& url : *list.urls) {
          csv.Row(site, list.key, key, url.url, url.value);
        }
      }
    }
  }
  return out;
}

std::string RenderJson(const Report& report, const DayLimit& days) {
  Json json = {{"server", JsonText(report.server)},
               {"service", report.is_ftp ? "ftp" : "web"},
               {"sites", JsonList(report.sites, [&](const SiteReport& site) {
                  return SiteJson(report, site, days);
                })}};
  json["ledger"] = nullptr;
  if (report.has_ledger) {
    json["ledger"] = {{"runs", JsonList(ShownRuns(report, days),
                                        [](const ledger::RunRow& run) {
                                          return RunJson(run, false);
                                        })}};
  }
  // Down to the lists of a site, one item a line; each item on one line.
  return LaidOut(json, 4) + "\n";
}

}  // namespace velnor::host
